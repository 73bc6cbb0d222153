#include "printer_choice.h"

#include <QStandardItemModel>

#include "output/printers.h"

namespace ui {

namespace {
// The INI file's text for "no printer set", kept by older files.
const QString kNoneSet = "NO DEAFULT PRINTER";
const QString kDefault = "CUPS default printer";
} // namespace

PrinterChoice::PrinterChoice(QWidget* parent) : QComboBox(parent) {
    addItem(kDefault, QString());
    connect(this, &QComboBox::activated, this, [this](int) { emit chosen(Name()); });
}

void PrinterChoice::ShowName(const QString& iniValue) {
    const QString name = iniValue == kNoneSet ? QString() : iniValue;
    int at = findData(name);
    if (at < 0) {
        addItem(name, name);
        at = count() - 1;
    }
    setCurrentIndex(at);
}

QString PrinterChoice::Name() const {
    return currentData().toString();
}

QString PrinterChoice::Refresh() {
    const QString current = Name();
    const output::PrinterList list = output::ListPrinters();
    clear();
    QString defaultText = kDefault;
    if (!list.defaultName.empty())
        defaultText += " (" + QString::fromStdString(list.defaultName) + ")";
    addItem(defaultText, QString());
    for (const std::string& n : list.names)
        addItem(QString::fromStdString(n), QString::fromStdString(n));
    QString why;
    if (!list.error.empty())
        why = QString::fromStdString(list.error);
    else if (list.names.empty())
        why = "CUPS has no printers";
    if (!why.isEmpty()) {
        // Said in the list itself, where the user looks for the printers.
        addItem(why);
        if (auto* m = qobject_cast<QStandardItemModel*>(model()))
            m->item(count() - 1)->setEnabled(false);
    }
    setToolTip(why);
    ShowName(current);
    return why;
}

void PrinterChoice::showPopup() {
    Refresh();
    QComboBox::showPopup();
}

} // namespace ui
