// The CUPS printer of the printer medium: shows the INI file's choice and
// lists CUPS's destinations only when opened, so that a window without a
// print server opens as fast as one with it.
#pragma once
#include <QComboBox>

namespace ui {

class PrinterChoice : public QComboBox {
    Q_OBJECT
  public:
    explicit PrinterChoice(QWidget* parent = nullptr);
    // The INI value of PRINTER: empty or the "none set" text stand for CUPS's default.
    void ShowName(const QString& iniValue);
    // The destination chosen; empty for CUPS's default.
    QString Name() const;
    // Lists CUPS's destinations below the default entry; the reason when CUPS
    // gave no list, else empty.
    QString Refresh();
    void showPopup() override;

  signals:
    // The user picked a destination (empty: CUPS's default).
    void chosen(const QString& name);
};

} // namespace ui
