// Shared set-up of the window tests: a private INI directory, a private data
// home, and answers for the window's questions.
#pragma once
#include <QString>
#include <QStringList>
#include <deque>
#include <memory>
#include <string>

#include "testutil.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace ui {
class PrinterClientDialog;
}

namespace uitest {

class Env {
  public:
    // Fresh directories; command line "twprinter" plus extra words.
    explicit Env(const std::string& extraCommandLine = "");
    ~Env();
    const std::string& dir() const { return dir_.path(); }
    std::string ini() const;
    std::string file(const std::string& name) const { return dir_.file(name); }
    // Writes one key of section CONFIGURATION.
    void Set(const char* key, const std::string& value) const;
    std::string Get(const char* key) const;
    void Set(std::initializer_list<std::pair<const char*, const char*>> keys) const;
    // Values of the keys, "<missing>" for a missing one.
    QStringList Get(std::initializer_list<const char*> keys) const;

    // Every text the window showed in a message box, in order.
    QStringList shown;
    // Answers for the Yes/No questions, oldest first; No when none is left.
    std::deque<bool> answers;
    // What the save-file and printer choosers return.
    QString saveAs;
    QString printer;
    QString helpOpened;

  private:
    testutil::TempDir dir_;
    std::string oldCwd_;
};

// Texts of edit fields, and "1"/"0" strings of checked and enabled states.
QStringList Texts(ui::PrinterClientDialog& d, std::initializer_list<int> ids);
void SetTexts(ui::PrinterClientDialog& d, std::initializer_list<std::pair<int, const char*>> texts);
QString Checked(ui::PrinterClientDialog& d, std::initializer_list<int> ids);
QString Enabled(ui::PrinterClientDialog& d, std::initializer_list<int> ids);

// The window's controls by id.
QLineEdit* E(ui::PrinterClientDialog& d, int id);
QRadioButton* R(ui::PrinterClientDialog& d, int id);
QCheckBox* C(ui::PrinterClientDialog& d, int id);
QPushButton* B(ui::PrinterClientDialog& d, int id);

// The loopback port of a listening socket that is closed again (nobody listens).
int UnusedPort();

} // namespace uitest
