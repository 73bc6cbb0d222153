// Session files: one printer session's settings outside the INI file.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <cstdio>

#include "config/ini.h"
#include "config/utilities.h"
#include "controlids.h"
#include "main_window.h"
#include "platform/profile.h"
#include "platform/sysinfo.h"
#include "uitext.h"

namespace ui {

namespace {
constexpr const char* kSection = "SESSIONPARAMS";
constexpr size_t kMaxCommandLine = 260;

QString Read(const QString& path, const char* key, const char* def) {
    return QString::fromStdString(
        platform::ProfileGetString(kSection, key, def, path.toStdString()));
}
} // namespace

int MainWindow::WriteSessionFile(const QString& path) {
    const std::string file = path.toStdString();
    // Start from an empty file so that keys of an older setup do not linger.
    FILE* f = std::fopen(file.c_str(), "w");
    if (!f) {
        if (config::gDebug == 1) {
            char line[600];
            std::snprintf(line, sizeof line, "Unable to open session file %s\n", file.c_str());
            config::DebugPrint(line);
        }
        return 0;
    }
    std::fclose(f);
    auto put = [&](const char* key, const QString& value) {
        platform::ProfileWriteString(kSection, key, value.toStdString(), file);
    };
    auto flag = [](bool on) { return QString(on ? "1" : "0"); };
    put("VERSION", kVersion);
    put("AUTOSTART", flag(ControlAs<QRadioButton>(control::kAuto)->isChecked()));
    put("STARTVISIBLE", flag(ControlAs<QCheckBox>(control::kStartvisible)->isChecked()));
    put("PRINT2PORT", flag(ControlAs<QRadioButton>(control::kPortchoice)->isChecked()));
    put("USESOCKET", flag(ControlAs<QRadioButton>(control::kSocketchoice)->isChecked()));
    put("PRINTTOFILE", flag(ControlAs<QRadioButton>(control::kFilechoice)->isChecked()));
    const QString port = ControlAs<QLineEdit>(control::kPortname)->text();
    put("LPTCOMPORT", port);
    put("SOCKETPORT", ControlAs<QLineEdit>(control::kSocketport)->text());
    put("FILENAME", ControlAs<QLineEdit>(control::kFilename)->text());
    const QString job = ControlAs<QLineEdit>(control::kJobname)->text();
    put("JOBNAME", job);
    const bool e3270 = ControlAs<QRadioButton>(control::k3270e)->isChecked();
    put("3270E", flag(e3270));
    if (!e3270) {
        put("SESSIONID", ControlAs<QLineEdit>(control::kSessionid)->text());
        put("ADDRESS", ControlAs<QLineEdit>(control::kAddress)->text());
    } else {
        put("CONNECTNAME", ControlAs<QLineEdit>(control::kConnectname)->text());
        put("ASSOCIATENAME", ControlAs<QLineEdit>(control::kAssociatename)->text());
    }
    put("HOSTNAME", ControlAs<QLineEdit>(control::kHostname)->text());
    put("SERVERNAME", ControlAs<QLineEdit>(control::kPortnumber)->text());
    put("CONNECTTIMEOUT", ControlAs<QLineEdit>(control::kConnecttimeout)->text());
    put("PRINTJOBNAME", job);
    put("LUTYPE", ControlAs<QComboBox>(control::kLutype)->currentText());
    return 1;
}

void MainWindow::ReadSessionFile(const QString& path) {
    if (Read(path, "AUTOSTART", "0").toLower().contains('0')) {
        manualChoice_->setChecked(true);
        autoStart_ = false;
    } else {
        autoChoice_->setChecked(true);
        autoStart_ = true;
    }
    startVisible_->setChecked(Read(path, "STARTVISIBLE", "1") == "1");

    SelectFileOutput(Read(path, "PRINTTOFILE", "0") == "1");
    SelectSocketOutput(Read(path, "USESOCKET", "0") == "1");
    SelectPortOutput(Read(path, "PRINT2PORT", "1") == "1");
    SelectPrinterOutput(medium_ == config::Medium::Printer);

    portName_->setText(Read(path, "LPTCOMPORT", ""));
    socketPort_->setText(Read(path, "SOCKETPORT", ""));
    fileName_->setText(Read(path, "FILENAME", "VARODO"));
    jobName_->setText(Read(path, "JOBNAME", "VARODO"));

    headingsOn_ = config::IniGet("HEADINGS", "1") == "1";
    headings_->setChecked(headingsOn_);

    if (Read(path, "3270E", "0").toLower().contains('0')) {
        Set3270Enabling(true);
        r3270_->setChecked(true);
        sessionId_->setText(Read(path, "SESSIONID", "-1"));
        address_->setText(Read(path, "ADDRESS", "-1"));
        mode3270E_ = false;
    } else {
        Set3270Enabling(false);
        r3270E_->setChecked(true);
        connectName_->setText(Read(path, "CONNECTNAME", ""));
        associateName_->setText(Read(path, "ASSOCIATENAME", ""));
        mode3270E_ = true;
    }
    host_->setText(Read(path, "HOSTNAME", ""));
    portNumber_->setText(Read(path, "SERVERNAME", "kesservd"));
    timeout_->setText(Read(path, "CONNECTTIMEOUT", "15"));
    jobName_->setText(Read(path, "PRINTJOBNAME", "roror"));
    SetLuType(Read(path, "LUTYPE", "3"));

    printPageAfterLines_ = config::IniGet("PRINTAFTERNLINESCHK", "0") != "0";
    printAfter_->setChecked(printPageAfterLines_);
    lines_->setText(QString::fromStdString(config::IniGet("PRINTAFTERNLINES", "0")));
    choicesChanged_ = false;
}

int FindSessionFileArgument(QString& path) {
    const std::string line = config::Lower(platform::CommandLine().substr(0, kMaxCommandLine));
    const size_t dot = line.find(".twr");
    if (dot == std::string::npos) return 0;
    size_t start = dot;
    while (start > 0 && line[start - 1] != ' ' && line[start - 1] != '/' && line[start - 1] != '\\')
        --start;
    size_t end = line.find(' ', start);
    if (end == std::string::npos) end = line.size();
    path = QString::fromStdString(
        platform::JoinPath(platform::CurrentDirectory(), line.substr(start, end - start)));
    return 1;
}

} // namespace ui
