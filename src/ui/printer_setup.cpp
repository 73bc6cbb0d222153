#include "printer_setup.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "output/printers.h"

namespace ui {

namespace {
// Item data: the destination's name, and the medium's PAPER value.
constexpr int kPrinterRole = Qt::UserRole;
constexpr int kPaperRole = Qt::UserRole + 1;
constexpr int kMediumRole = Qt::UserRole + 2;

// Whole millimetres: sizes of a PPD come in points and land a little off.
QString Millimetres(int hundredths) {
    return QString::number((hundredths + 50) / 100);
}
} // namespace

PrinterSetupDialog::PrinterSetupDialog(const QString& printer, const QString& paper,
                                       QWidget* parent)
    : QDialog(parent) {
    setWindowTitle("Printer setup");
    list_ = new QTreeWidget;
    list_->setObjectName("destinations");
    list_->setColumnCount(3);
    list_->setHeaderLabels({"Printer / medium", "Size", "PAPER"});
    list_->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    list_->setRootIsDecorated(true);
    note_ = new QLabel;
    note_->setObjectName("pickNote");
    note_->setWordWrap(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    ok_ = buttons->button(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(list_, &QTreeWidget::currentItemChanged, this, [this] { UpdateNote(); });
    connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] {
        if (ok_->isEnabled()) accept();
    });
    auto* top = new QVBoxLayout(this);
    auto* intro = new QLabel("Choose the CUPS printer of the jobs, or one of its media to ask "
                             "for that paper too. The printer is kept at once, the paper with "
                             "the Advanced settings: Save writes it.");
    intro->setWordWrap(true);
    top->addWidget(intro);
    top->addWidget(list_, 1);
    top->addWidget(note_);
    top->addWidget(buttons);
    resize(560, 420);
    Refresh();
    Select(printer, paper);
}

QString PrinterSetupDialog::Refresh() {
    list_->clear();
    const output::DestinationList dests = output::ListDestinations();
    QString defaultName;
    for (const output::Destination& d : dests.destinations)
        if (d.isDefault) defaultName = QString::fromStdString(d.name);
    auto* def = new QTreeWidgetItem(list_, {defaultName.isEmpty()
                                                ? QString("CUPS default printer")
                                                : "CUPS default printer (" + defaultName + ")"});
    def->setData(0, kPrinterRole, QString());
    for (const output::Destination& d : dests.destinations) {
        const QString name = QString::fromStdString(d.name);
        auto* item = new QTreeWidgetItem(list_, {name});
        item->setData(0, kPrinterRole, name);
        if (d.media.empty()) item->setText(1, "(no media listed)");
        for (const output::DestinationMedium& m : d.media) {
            const QString paper = QString::fromStdString(m.paper);
            auto* child = new QTreeWidgetItem(
                item, {QString::fromStdString(m.name) + (m.isDefault ? " (default)" : ""),
                       Millimetres(m.width) + " x " + Millimetres(m.length) + " mm", paper});
            child->setData(0, kPrinterRole, name);
            child->setData(0, kPaperRole, paper);
            child->setData(0, kMediumRole, QString::fromStdString(m.name));
        }
    }
    QString why = QString::fromStdString(dests.error);
    if (why.isEmpty() && dests.destinations.empty()) why = "CUPS has no printers";
    if (!why.isEmpty()) {
        auto* item = new QTreeWidgetItem(list_, {why});
        item->setFlags(Qt::NoItemFlags);
    }
    list_->expandAll();
    return why;
}

void PrinterSetupDialog::Select(const QString& printer, const QString& paper) {
    QTreeWidgetItem* best = nullptr;
    for (int i = 0; i < list_->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = list_->topLevelItem(i);
        if (!(item->flags() & Qt::ItemIsEnabled) ||
            item->data(0, kPrinterRole).toString() != printer)
            continue;
        best = item;
        for (int j = 0; j < item->childCount() && !paper.isEmpty(); ++j)
            if (item->child(j)->data(0, kPaperRole).toString() == paper) {
                best = item->child(j);
                break;
            }
        break;
    }
    list_->setCurrentItem(best ? best : list_->topLevelItem(0));
    UpdateNote();
}

PrinterPick PrinterSetupDialog::Pick() const {
    PrinterPick pick;
    const QTreeWidgetItem* item = list_->currentItem();
    if (!item || !(item->flags() & Qt::ItemIsEnabled)) return pick;
    pick.chosen = true;
    pick.printer = item->data(0, kPrinterRole).toString();
    pick.paper = item->data(0, kPaperRole).toString();
    return pick;
}

void PrinterSetupDialog::UpdateNote() {
    const PrinterPick pick = Pick();
    ok_->setEnabled(pick.chosen);
    const QTreeWidgetItem* item = list_->currentItem();
    if (!pick.chosen) {
        note_->setText("Choose a printer.");
        return;
    }
    QString text = "Printer: " + (pick.printer.isEmpty() ? "CUPS default printer" : pick.printer);
    const QString medium = item->data(0, kMediumRole).toString();
    if (!pick.paper.isEmpty())
        text += "; PAPER=" + pick.paper;
    else if (!medium.isEmpty())
        text += "; PAPER has no value for " + medium + ": the paper stays as it is";
    note_->setText(text);
}

PrinterPick ChoosePrinter(QWidget* parent, const QString& printer, const QString& paper) {
    PrinterSetupDialog dlg(printer, paper, parent);
    if (dlg.exec() != QDialog::Accepted) return {};
    return dlg.Pick();
}

} // namespace ui
