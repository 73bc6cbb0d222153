#include "uitestutil.h"

#include "testutil.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <cstdlib>

#include "config/ini.h"
#include "config/options.h"
#include "mainwindow.h"
#include "platform/profile.h"
#include "platform/sysinfo.h"

namespace uitest {

Env::Env(const std::string& extraCommandLine) {
    setenv("TWPRINTER_DIR", dir_.path().c_str(), 1);
    const std::string data = dir_.file("data");
    setenv("XDG_DATA_HOME", data.c_str(), 1);
    char buf[4096];
    oldCwd_ = getcwd(buf, sizeof buf) ? buf : "/";
    if (chdir(dir_.path().c_str()) != 0) std::abort();
    platform::SetCommandLine("twprinter" +
                             (extraCommandLine.empty() ? "" : " " + extraCommandLine));
    SetIniPathFromProgram("twprinter");
    ui::gFieldsReady = 0;
    ui::gValidationMessage = 0;
    gSessionFileInForce = 0;
    gDebug = 0;
    // The options a previous window left in force (LU type, file name, 3270E).
    gOptions = Options{};
    gUse3270E = 0;
    Lutype = 3;
    gPrintToPort = gPrintToFile = gHeadings = gUseSocket = 0;
    auto& hooks = ui::Hooks();
    hooks.messageBox = [this](QWidget*, const QString& text, bool yesNo) {
        shown << text;
        if (!yesNo) return true;
        if (answers.empty()) return false;
        const bool a = answers.front();
        answers.pop_front();
        return a;
    };
    hooks.saveSessionFile = [this](QWidget*) { return saveAs; };
    hooks.choosePrinter = [this](QWidget*) { return printer; };
    hooks.openHelp = [this](const QString& path) {
        helpOpened = path;
        return true;
    };
}

Env::~Env() {
    if (chdir(oldCwd_.c_str()) != 0) {
    }
}

std::string Env::ini() const {
    return dir_.file("twprinter.ini");
}

void Env::Set(const char* key, const std::string& value) const {
    platform::ProfileWriteString("CONFIGURATION", key, value, ini());
}

std::string Env::Get(const char* key) const {
    return platform::ProfileGetString("CONFIGURATION", key, "<missing>", ini());
}

void Env::Set(std::initializer_list<std::pair<const char*, const char*>> keys) const {
    for (auto [key, value] : keys)
        Set(key, value);
}

QStringList Env::Get(std::initializer_list<const char*> keys) const {
    QStringList values;
    for (const char* key : keys)
        values << QString::fromStdString(Get(key));
    return values;
}

QStringList Texts(ui::PrinterClientDialog& d, std::initializer_list<int> ids) {
    QStringList texts;
    for (int id : ids)
        texts << d.ControlAs<QLineEdit>(id)->text();
    return texts;
}

void SetTexts(ui::PrinterClientDialog& d,
              std::initializer_list<std::pair<int, const char*>> texts) {
    for (auto [id, text] : texts)
        d.ControlAs<QLineEdit>(id)->setText(text);
}

QString Checked(ui::PrinterClientDialog& d, std::initializer_list<int> ids) {
    QString s;
    for (int id : ids)
        s += d.ControlAs<QAbstractButton>(id)->isChecked() ? '1' : '0';
    return s;
}

QString Enabled(ui::PrinterClientDialog& d, std::initializer_list<int> ids) {
    QString s;
    for (int id : ids)
        s += d.Control(id)->isEnabled() ? '1' : '0';
    return s;
}

QLineEdit* E(ui::PrinterClientDialog& d, int id) {
    return d.ControlAs<QLineEdit>(id);
}
QRadioButton* R(ui::PrinterClientDialog& d, int id) {
    return d.ControlAs<QRadioButton>(id);
}
QCheckBox* C(ui::PrinterClientDialog& d, int id) {
    return d.ControlAs<QCheckBox>(id);
}
QPushButton* B(ui::PrinterClientDialog& d, int id) {
    return d.ControlAs<QPushButton>(id);
}

int UnusedPort() {
    return testutil::FreePort();
}

} // namespace uitest
