// Printer setup: CUPS's destinations, each with the media it supports, to
// choose the printer and, through a medium, the paper.
#pragma once
#include <QDialog>
#include <QString>

class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace ui {

struct PrinterPick {
    bool chosen = false; // false for Cancel
    QString printer;     // the destination, "" for CUPS's default
    QString paper;       // the PAPER value of the medium picked, "" when none was or it has none
};

class PrinterSetupDialog : public QDialog {
    Q_OBJECT
  public:
    // printer and paper: the current choice, selected when listed.
    PrinterSetupDialog(const QString& printer, const QString& paper, QWidget* parent = nullptr);
    // Asks CUPS again; the reason when it gave no list, else empty.
    QString Refresh();
    PrinterPick Pick() const;
    QTreeWidget* List() const { return list_; }
    // What the selection will set.
    QLabel* Note() const { return note_; }

  private:
    void Select(const QString& printer, const QString& paper);
    void UpdateNote();

    QTreeWidget* list_ = nullptr;
    QLabel* note_ = nullptr;
    QPushButton* ok_ = nullptr;
};

// The dialog, modal; a PrinterPick with chosen false for Cancel.
PrinterPick ChoosePrinter(QWidget* parent, const QString& printer, const QString& paper);

} // namespace ui
