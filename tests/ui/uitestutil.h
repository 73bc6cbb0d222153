// Shared set-up of the window tests: a private INI directory and data home,
// answers for the window's questions, the host simulator, control look-ups.
#pragma once
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>
#include <deque>
#include <string>

#include "controlids.h"
#include "main_window.h"
#include "testutil.h"
#include "uitext.h"

namespace uitest {

// Runs check on the modal dialog of type D that the next call opens.
template <class D, class F> void OnModal(F check) {
    QTimer::singleShot(0, [check] {
        auto* dlg = qobject_cast<D*>(QApplication::activeModalWidget());
        QVERIFY(dlg);
        check(dlg);
        // A failed check leaves it open: the test goes on to its report.
        if (dlg->isVisible()) dlg->reject();
    });
}

class Env {
  public:
    explicit Env(const std::string& extraCommandLine = "");
    ~Env();
    std::string ini() const { return dir_.file("twprinter.ini"); }
    std::string file(const std::string& name) const { return dir_.file(name); }
    // Section CONFIGURATION: Set("A=1 B=2"); Get("A B") gives "1|2" ("<missing>" for none).
    void Set(const QString& assignments) const;
    QString Get(const QString& keys) const;

    QStringList shown;            // every message box text, in order
    QList<ui::MessageKind> kinds; // and what each was
    std::deque<bool> answers;     // for the Yes/No questions; No when none is left
    QString saveAs;               // what the save-file chooser returns
    QString openAs;               // what the open-file chooser returns
    bool launcher = false;        // whether a desktop launcher opens the help
    QStringList foldersOpened;    // what "Open folder" asked the file manager for

  private:
    testutil::TempDir dir_;
    std::string oldCwd_;
};

// The host simulator serving script on a free loopback port.
// What the window's session sent it must read as valid to an independent dissector.
struct HostSim {
    HostSim(const Env& env, const std::string& script);
    ~HostSim();
    testutil::TempDir captures;
    testutil::Proc proc;
    int port = 0;
};

using Dialog = ui::MainWindow;
// The window after its initialisation (INI file, command line, fields).
struct Window : Dialog {
    Window() { ShowSettings(); }
};
// Edit (or choice) texts joined by "|", and "1"/"0" of checked or enabled states, by control id.
QString Texts(Dialog& d, std::initializer_list<int> ids);
QString Flags(Dialog& d, std::initializer_list<int> ids, bool (*on)(QWidget*));
inline QString Checked(Dialog& d, std::initializer_list<int> ids) {
    return Flags(d, ids, [](QWidget* w) { return static_cast<QAbstractButton*>(w)->isChecked(); });
}
inline QString Enabled(Dialog& d, std::initializer_list<int> ids) {
    return Flags(d, ids, [](QWidget* w) { return w->isEnabled(); });
}
inline const auto Status = [](Dialog& d) {
    return d.ControlAs<QPlainTextEdit>(ui::control::kStatusText)->toPlainText();
};
inline const auto E = [](Dialog& d, int id) { return d.ControlAs<QLineEdit>(id); };
inline const auto R = [](Dialog& d, int id) { return d.ControlAs<QRadioButton>(id); };
inline const auto C = [](Dialog& d, int id) { return d.ControlAs<QCheckBox>(id); };
inline const auto B = [](Dialog& d, int id) { return d.ControlAs<QPushButton>(id); };
// Replaces the fields' texts ("|" between them) by typing, as a user does,
// which marks them modified; a greyed field just takes its text. A choice
// takes the typed text as a keyboard search picks it.
void Type(Dialog& d, std::initializer_list<int> ids, const QString& texts);
// service|sessionId|luAddress|fileName|portName of settings handed to a session.
QString Connection(const config::Settings& s);
// Start, then Stop at once; the settings handed over stay in StartedSettings.
void StartAndStop(Dialog& d);

} // namespace uitest
