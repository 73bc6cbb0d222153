// The setup fields: loaded from and saved to the INI file, validated, undone,
// the output choice, and the settings a Start takes from them.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "config/ini.h"
#include "config/ini_values.h"
#include "config/settings_check.h"
#include "main_window.h"
#include "platform/sysinfo.h"
#include "printer_choice.h"
#include "uitext.h"

namespace ui {

namespace {

QString Get(const char* key, const char* def) {
    return QString::fromStdString(config::IniGet(key, def));
}
void Put(const char* key, const QString& value) {
    config::IniSet(key, value.toStdString());
}
const char* Flag(bool on) {
    return on ? "1" : "0";
}
bool IsPort(const QString& text) {
    bool ok = false;
    const int n = text.toInt(&ok);
    return ok && !text.isEmpty() && text[0].isDigit() && n >= 1 && n <= 65535;
}
// A service name is looked up at connect time, where an unknown one is named.
bool IsPortOrService(const QString& text) {
    if (text.isEmpty() || text[0].isDigit()) return IsPort(text);
    return !text.contains(' ');
}

} // namespace

long ReadNumber(const QString& text) {
    const std::string s = text.toStdString();
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    long value = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        if (value < 100000000L) value = value * 10 + (s[i] - '0');
    }
    return negative ? -value : value;
}

// Only 1 and 3 can be chosen; another value of a file stays shown as it is, so
// that the validation can name it, until the user chooses.
void MainWindow::SetLuType(const QString& text) {
    while (luType_->count() > 2)
        luType_->removeItem(2);
    const long n = ReadNumber(text);
    const QString value = n == 1 || n == 3 ? QString::number(n) : text;
    int at = luType_->findText(value);
    if (at < 0) {
        luType_->addItem(value);
        at = 2;
    }
    luType_->setCurrentIndex(at);
    luTypeSaved_ = value;
}

void MainWindow::Set3270Enabling(bool e3270) {
    connectLabel_->setEnabled(!e3270);
    connectName_->setEnabled(!e3270);
    associateLabel_->setEnabled(!e3270);
    associateName_->setEnabled(!e3270);
    sessionIdLabel_->setEnabled(e3270);
    sessionId_->setEnabled(e3270);
    addressLabel_->setEnabled(e3270);
    address_->setEnabled(e3270);
}

void MainWindow::LoadFieldsFromIni() {
    // One read of the file; a key it lacks shows its default of the settings table.
    const config::IniValues ini = config::IniValues::Read(config::gIniPath);
    auto Get = [&](const char* key) { return QString::fromStdString(ini.Value(key)); };
    host_->setText(Get("HOSTNAME"));
    portNumber_->setText(Get("SERVERNAME"));
    timeout_->setText(Get("CONNECTTIMEOUT"));
    sessionId_->setText(Get("SESSIONID"));
    address_->setText(Get("LUADDRESS"));
    SetLuType(Get("LUTYPE"));
    ShowChosenPrinter();
    connectName_->setText(Get("CONNECTNAME"));
    associateName_->setText(Get("ASSOCIATENAME"));
    portName_->setText(Get("LPTCOMPORT"));
    socketPort_->setText(Get("SOCKETPORT"));
    fileName_->setText(Get("FILENAME"));
    jobName_->setText(Get("JOBNAME"));
    lines_->setText(Get("PRINTAFTERNLINES"));
    printPageAfterLines_ = Get("PRINTAFTERNLINESCHK") == "1";
    printAfter_->setChecked(printPageAfterLines_);
    autoStart_ = Get("AUTOSTART") == "1";
    (autoStart_ ? autoChoice_ : manualChoice_)->setChecked(true);
    startVisible_->setChecked(Get("STARTVISIBLE") == "1");
    headingsOn_ = Get("HEADINGS") == "1";
    headings_->setChecked(headingsOn_);

    mode3270E_ = Get("3270E") == "1";
    (mode3270E_ ? r3270E_ : r3270_)->setChecked(true);
    Set3270Enabling(!mode3270E_);

    SelectFileOutput(Get("PRINTTOFILE") == "1");
    SelectSocketOutput(Get("USESOCKET") == "1");
    SelectPortOutput(Get("PRINT2PORT") == "1");
    SelectPrinterOutput(medium_ == config::Medium::Printer);
    choicesChanged_ = false;
}

void MainWindow::SaveFieldsToIni() {
    Put("HOSTNAME", host_->text());
    Put("SERVERNAME", portNumber_->text());
    Put("CONNECTTIMEOUT", timeout_->text());
    Put("SESSIONID", sessionId_->text());
    Put("LUADDRESS", address_->text());
    Put("LPTCOMPORT", portName_->text());
    Put("SOCKETPORT", socketPort_->text());
    Put("FILENAME", fileName_->text());
    Put("JOBNAME", jobName_->text());
    Put("LUTYPE", luType_->currentText());
    SetLuType(luType_->currentText());
    printPageAfterLines_ = printAfter_->isChecked();
    Put("PRINTAFTERNLINESCHK", Flag(printPageAfterLines_));
    Put("PRINTAFTERNLINES", lines_->text());
    autoStart_ = !manualChoice_->isChecked();
    Put("AUTOSTART", Flag(autoStart_));
    mode3270E_ = r3270E_->isChecked();
    Put("3270E", Flag(mode3270E_));
    Put("STARTVISIBLE", Flag(startVisible_->isChecked()));
    Put("PRINT2PORT", Flag(portChoice_->isChecked()));
    Put("USESOCKET", Flag(socketChoice_->isChecked()));
    Put("PRINTTOFILE", Flag(fileChoice_->isChecked()));
    Put("HEADINGS", Flag(headings_->isChecked()));
    Put("CONNECTNAME", connectName_->text());
    Put("ASSOCIATENAME", associateName_->text());
    // The Advanced settings taken with OK are saved with the fields.
    for (const auto& [key, value] : pendingAdvanced_)
        config::IniSet(key.c_str(), value);
    pendingAdvanced_.clear();
    choicesChanged_ = false;
    ClearModifiedFlags();
}

int MainWindow::ValidateFields() {
    auto fail = [this](int msg) {
        validationMessage_ = msg;
        validation_->setText(UiText(msg));
        return 0;
    };
    if (!r3270E_->isChecked()) {
        const QString sid = sessionId_->text();
        const long n = ReadNumber(sid);
        const bool letter = sid.size() == 1 &&
                            ((sid[0] >= 'a' && sid[0] <= 'e') || (sid[0] >= 'A' && sid[0] <= 'E'));
        if (!letter && (n < -1 || n > 4)) return fail(config::MSG_BAD_SESSION_ID);
        const long a = ReadNumber(address_->text());
        if (a < -1 || a > 255) return fail(config::MSG_BAD_ADDRESS);
    } else {
        const bool haveConnect = !connectName_->text().isEmpty();
        const bool haveAssociate = !associateName_->text().isEmpty();
        if (haveConnect && haveAssociate) return fail(config::MSG_BOTH_NAMES);
        if (haveConnect) {
            associateName_->setEnabled(false);
            associateLabel_->setEnabled(false);
            connectName_->setEnabled(true);
            connectLabel_->setEnabled(true);
        } else if (haveAssociate) {
            connectName_->setEnabled(false);
            connectLabel_->setEnabled(false);
            associateName_->setEnabled(true);
            associateLabel_->setEnabled(true);
        } else {
            // TN3270E without a name is a generic printer LU, as the daemon takes it.
            for (QWidget* w : std::initializer_list<QWidget*>{connectName_, connectLabel_,
                                                              associateName_, associateLabel_})
                w->setEnabled(true);
        }
    }
    if (portChoice_->isChecked()) {
        if (portName_->text().isEmpty()) return fail(config::MSG_NEED_LPT_COM);
    } else if (socketChoice_->isChecked()) {
        if (socketPort_->text().isEmpty()) return fail(config::MSG_NEED_SOCKET_PORT);
        // "host:port" or a port on this computer.
        if (!IsPort(socketPort_->text().section(':', -1))) return fail(config::MSG_BAD_SOCKET_PORT);
    } else if (fileChoice_->isChecked()) {
        if (fileName_->text().isEmpty()) return fail(config::MSG_NEED_FILE_NAME);
    } else if (jobName_->text().isEmpty()) {
        return fail(config::MSG_NEED_JOB_NAME);
    }
    if (portNumber_->text().isEmpty()) return fail(config::MSG_NEED_PORT_NUMBER);
    if (!IsPortOrService(portNumber_->text())) return fail(config::MSG_BAD_PORT_NUMBER);
    if (timeout_->text().isEmpty()) return fail(config::MSG_NEED_TIMEOUT);
    const long lu = ReadNumber(luType_->currentText());
    if (lu != 1 && lu != 3) return fail(config::MSG_BAD_LU_TYPE);
    validation_->setText("");
    return 1;
}

void MainWindow::EnableStartIfValid() {
    const bool valid = ValidateFields() == 1;
    start_->setEnabled(valid && !running_);
}

void MainWindow::UpdateStartButton() {
    if (!fieldsReady_) return;
    EnableStartIfValid();
}

int MainWindow::AnyFieldModified() const {
    for (auto* e : {host_, portNumber_, timeout_, sessionId_, address_, connectName_,
                    associateName_, portName_, socketPort_, fileName_, jobName_, lines_})
        if (e->isModified()) return 1;
    return choicesChanged_ || !pendingAdvanced_.empty() ? 1 : 0;
}

void MainWindow::ClearModifiedFlags() {
    for (auto* e : {host_, portNumber_, timeout_, sessionId_, address_, connectName_,
                    associateName_, portName_, socketPort_, fileName_, jobName_, lines_})
        e->setModified(false);
}

void MainWindow::UndoFieldChanges() {
    for (auto* e : {host_, portNumber_, timeout_, sessionId_, address_, connectName_,
                    associateName_, portName_, socketPort_, fileName_, jobName_, lines_})
        if (e->isUndoAvailable() && e->isModified()) e->undo();
    if (pendingAdvanced_.count("SOCKETPORT"))
        socketPort_->setText(QString::fromStdString(config::IniGet("SOCKETPORT", "")));
    pendingAdvanced_.clear();
    SetLuType(luTypeSaved_);
    (mode3270E_ ? r3270E_ : r3270_)->setChecked(true);
    Set3270Enabling(!mode3270E_);
    (autoStart_ ? autoChoice_ : manualChoice_)->setChecked(true);
    printAfter_->setChecked(printPageAfterLines_);
    if (medium_ == config::Medium::Port)
        SelectPortOutput(1);
    else if (medium_ == config::Medium::Socket)
        SelectSocketOutput(1);
    else if (medium_ == config::Medium::File)
        SelectFileOutput(1);
    else
        SelectPrinterOutput(1);
    headings_->setChecked(headingsOn_);
    EnableStartIfValid();
    choicesChanged_ = false;
    ClearModifiedFlags();
}

void MainWindow::ApplyFieldsTo(config::Settings& s) const {
    auto text = [](const QLineEdit* e) { return e->text().toStdString(); };
    if (host_->text().isEmpty())
        s.host = platform::ComputerName().substr(0, 15);
    else
        s.host = text(host_);
    auto optional = [](std::optional<std::string>& opt, const QString& value) {
        if (value.isEmpty())
            opt.reset();
        else
            opt = value.toStdString();
    };
    if (r3270E_->isChecked()) {
        optional(s.connectName, connectName_->text());
        optional(s.associateName, associateName_->text());
        s.use3270E = true;
    } else {
        s.luAddress = text(address_);
        s.sessionId = text(sessionId_);
        s.use3270E = false;
    }
    s.service = text(portNumber_);
    // The connection time-out stays the INI file's: the field's value has never
    // reached a connection attempt.
    s.luType = ReadNumber(luType_->currentText()) == 1 ? 1 : 3;
    s.fileName = text(fileName_);
}

config::Result MainWindow::SettingsForStart(config::Settings& s) const {
    s = config::DefaultSettings();
    // Socket, PDF and failed-job keys have no field: the INI file holds them, and the
    // Advanced settings taken but not yet saved go ahead of it.
    config::IniValues ini = config::IniValues::Read(config::gIniPath);
    for (const auto& [key, value] : pendingAdvanced_)
        ini.Set(key, value);
    LoadOutputSettings(ini, s);
    s.portName = portName_->text().toStdString();
    s.printAfterNLines = ReadNumber(lines_->text());
    ApplyOutputChoiceTo(s);
    // LoadSettings keeps values in force and ignores the options that would change them.
    if (sessionFileInForce_) ApplyFieldsTo(s);
    const config::Result rc = LoadSettings(ini, platform::CommandArgs(), sessionFileInForce_, s);
    if (!rc.ok()) return rc;
    // The options stay for later starts only when the start's check takes them.
    config::Settings checked = s;
    SaveOptionKeys(s, CheckSettings(config::gIniPath, checked));
    // A click changes the output choice at once, saved or not, so it beats the INI file.
    ApplyOutputChoiceTo(s);
    return {};
}

void MainWindow::ApplyOutputChoiceTo(config::Settings& s) const {
    s.headings = headingsOn_;
    // The print command replaces the file and the printer, never the port or the socket.
    const auto pending = pendingAdvanced_.find("USECOMMAND");
    const bool command =
        (pending != pendingAdvanced_.end() ? pending->second : config::IniGet("USECOMMAND", "0")) ==
        "1";
    if (medium_ == config::Medium::Port || medium_ == config::Medium::Socket || !command)
        s.medium = medium_;
    else
        s.medium = config::Medium::Command;
}

void MainWindow::SelectPortOutput(int on) {
    if (on) {
        medium_ = config::Medium::Port;
        portChoice_->setChecked(true);
        portName_->setEnabled(true);
        for (QWidget* w : std::initializer_list<QWidget*>{socketPort_, fileName_, jobName_,
                                                          printer_, headings_, lines_, printAfter_})
            w->setEnabled(false);
    } else {
        if (medium_ == config::Medium::Port) medium_ = config::Medium::Printer;
        portName_->setEnabled(false);
    }
}

void MainWindow::SelectSocketOutput(int on) {
    if (on) {
        medium_ = config::Medium::Socket;
        socketChoice_->setChecked(true);
        socketPort_->setEnabled(true);
        for (QWidget* w : std::initializer_list<QWidget*>{portName_, fileName_, jobName_, printer_,
                                                          headings_, lines_, printAfter_})
            w->setEnabled(false);
    } else {
        if (medium_ == config::Medium::Socket) medium_ = config::Medium::Printer;
        socketPort_->setEnabled(false);
    }
}

void MainWindow::SelectFileOutput(int on) {
    if (on) {
        medium_ = config::Medium::File;
        fileChoice_->setChecked(true);
        fileName_->setEnabled(true);
        for (QWidget* w : std::initializer_list<QWidget*>{portName_, socketPort_, jobName_,
                                                          printer_, headings_, lines_, printAfter_})
            w->setEnabled(false);
    } else {
        if (medium_ == config::Medium::File) medium_ = config::Medium::Printer;
        for (QWidget* w : std::initializer_list<QWidget*>{headings_, lines_, printAfter_})
            w->setEnabled(true);
    }
}

void MainWindow::SelectPrinterOutput(int on) {
    if (on) {
        medium_ = config::Medium::Printer;
        printerChoice_->setChecked(true);
        for (QWidget* w :
             std::initializer_list<QWidget*>{jobName_, printer_, headings_, lines_, printAfter_})
            w->setEnabled(true);
        for (QWidget* w : std::initializer_list<QWidget*>{portName_, socketPort_, fileName_})
            w->setEnabled(false);
    } else {
        jobName_->setEnabled(false);
        printer_->setEnabled(false);
    }
}

void MainWindow::ShowChosenPrinter() {
    printer_->ShowName(Get("PRINTER", ""));
}

} // namespace ui
