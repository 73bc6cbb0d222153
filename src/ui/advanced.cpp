#include "advanced.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>
#include <strings.h>

#include "config/ini.h"
#include "config/settings.h"
#include "config/settings_check.h"
#include "config/settings_table.h"
#include "config/translate.h"
#include "main_window.h"

namespace ui {

namespace {
struct Key {
    const char* key;
    const char* def;
};
// Every text and switch key of the dialog with the value a missing key means.
constexpr Key kEdits[] = {{"CODEPAGE", ""},   {"OUTPUTCHARSET", ""}, {"EOJTIMEOUT", "0"},
                          {"TLSCAFILE", ""},  {"TLSSERVERNAME", ""}, {"TLSCERTFILE", ""},
                          {"TLSKEYFILE", ""}, {"PRINTCOMMAND", ""},  {"PRINTEROPTIONS", ""}};
constexpr Key kChecks[] = {
    {"USECOMMAND", "0"}, {"KEEPFAILED", "1"}, {"TLS", "0"}, {"TLSVERIFY", "1"}};

// The keys shown as lists of their settings-table values.
constexpr const char* kChoices[] = {"PAPER", "ORIENTATION", "CPI", "LPI", "BACKGROUND", "LINEEND"};

QRegularExpressionValidator* Digits(QObject* parent) {
    return new QRegularExpressionValidator(QRegularExpression("[0-9]*"), parent);
}

// The table's words for an empty value: "...; the printer's paper is used" gives
// "(the printer's paper)".
QString NothingLabel(const config::KeySpec& row) {
    QString said = QString(row.expected).section("; ", -1);
    said.remove(" is used");
    return "(" + said + ")";
}

// RETRYINTERVAL, or the older RETRYDELAY where only that is set, as the loader reads them.
std::string IniValue(const char* key) {
    if (std::string(key) == "RETRYINTERVAL")
        return config::IniGet(key, config::IniGet("RETRYDELAY", config::FindKey(key)->def).c_str());
    return config::IniGet(key, config::FindKey(key)->def);
}
} // namespace

void SplitSocketPort(const std::string& value, std::string& host, std::string& port) {
    const size_t colon = value.rfind(':');
    if (colon == std::string::npos) {
        host.clear();
        port = value;
    } else {
        host = value.substr(0, colon);
        port = value.substr(colon + 1);
    }
}

QLineEdit* AdvancedSettingsDialog::AddEdit(const char* key) {
    auto* edit = new QLineEdit;
    edits_[key] = edit;
    return edit;
}

// An editable list over edit: picking an entry puts its value in the field,
// and any other value can still be typed.
QComboBox*
AdvancedSettingsDialog::WithChoices(QLineEdit* edit,
                                    const std::vector<std::pair<QString, QString>>& choices) {
    auto* box = new QComboBox;
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    for (const auto& [value, label] : choices)
        box->addItem(label.isEmpty()   ? value
                     : value.isEmpty() ? label
                                       : value + "  " + label,
                     value);
    box->setLineEdit(edit);
    edit->clear();
    if (!choices.empty() && choices.front().first.isEmpty())
        edit->setPlaceholderText(choices.front().second);
    connect(box, &QComboBox::activated, edit,
            [box, edit](int i) { edit->setText(box->itemData(i).toString()); });
    return box;
}

QCheckBox* AdvancedSettingsDialog::AddCheck(const char* key, const QString& text) {
    auto* box = new QCheckBox(text);
    checks_[key] = box;
    return box;
}

QComboBox* AdvancedSettingsDialog::AddChoice(const char* key) {
    const config::KeySpec& row = *config::FindKey(key);
    auto* box = new QComboBox;
    for (const std::string& value : config::ChoiceValues(row)) {
        // Nothing means the default, which the list holds already.
        if (value.empty() && *row.def) continue;
        box->addItem(value.empty() ? NothingLabel(row) : QString::fromStdString(value),
                     QString::fromStdString(value));
    }
    box->setToolTip(row.description);
    choices_[key] = box;
    return box;
}

void AdvancedSettingsDialog::ShowChoice(const std::string& key, const std::string& value) {
    QComboBox* box = choices_.at(key);
    const std::string shown = value.empty() ? config::FindKey(key.c_str())->def : value;
    for (int i = 0; i < box->count(); ++i)
        if (strcasecmp(box->itemData(i).toString().toStdString().c_str(), shown.c_str()) == 0) {
            box->setCurrentIndex(i);
            return;
        }
    // A value of the file the table does not allow stays visible for the check to name.
    box->addItem(QString::fromStdString(shown), QString::fromStdString(shown));
    box->setCurrentIndex(box->count() - 1);
}

QWidget* AdvancedSettingsDialog::BuildConnection() {
    auto* group = new QGroupBox("Connection and TLS");
    auto* form = new QFormLayout(group);
    auto* tls = AddCheck("TLS", "Connect with &TLS");
    form->addRow(tls);
    startTls_ = new QComboBox;
    startTls_->addItem("Refuse it", "0");
    startTls_->addItem("Take it", "1");
    startTls_->addItem("Require it", "2");
    form->addRow("STARTTLS &offered by the host:", startTls_);
    auto* verify = AddCheck("TLSVERIFY", "&Verify the server certificate");
    form->addRow(verify);
    tlsWidgets_["TLSVERIFY"] = verify;
    auto fileRow = [&](const char* key, const QString& label, const QString& title) {
        auto* edit = AddEdit(key);
        // Room for a path beside the other column.
        edit->setMinimumWidth(fontMetrics().averageCharWidth() * 28);
        auto* browse = new QPushButton("Browse...");
        browse->setAutoDefault(false);
        browse_[key] = browse;
        connect(browse, &QPushButton::clicked, this, [this, edit, title] {
            const QString path = Hooks().chooseFile(this, title, edit->text());
            if (!path.isEmpty()) edit->setText(path);
        });
        auto* row = new QHBoxLayout;
        row->addWidget(edit, 1);
        row->addWidget(browse);
        form->addRow(label, row);
        auto* rowLabel = qobject_cast<QLabel*>(form->labelForField(row));
        rowLabel->setBuddy(edit);
        tlsWidgets_[key] = edit;
        tlsWidgets_[std::string(key) + "/browse"] = browse;
        tlsWidgets_[std::string(key) + "/label"] = rowLabel;
    };
    fileRow("TLSCAFILE", "CA &file (empty: the system's):", "CA certificates");
    auto* server = AddEdit("TLSSERVERNAME");
    form->addRow("Server &name to verify:", server);
    tlsWidgets_["TLSSERVERNAME"] = server;
    tlsWidgets_["TLSSERVERNAME/label"] = form->labelForField(server);
    fileRow("TLSCERTFILE", "Client c&ertificate:", "Client certificate");
    fileRow("TLSKEYFILE", "Client ke&y:", "Client key");
    auto* retry = AddEdit("RETRYINTERVAL");
    retry->setValidator(Digits(retry));
    const config::KeySpec& retryRow = *config::FindKey("RETRYINTERVAL");
    retry->setPlaceholderText(retryRow.def);
    retry->setToolTip(QString("%1 to %2 seconds").arg(retryRow.low).arg(retryRow.high));
    form->addRow("Seconds bet&ween connection attempts:", retry);
    connect(tls, &QCheckBox::toggled, this, &AdvancedSettingsDialog::UpdateTlsEnabling);
    connect(startTls_, &QComboBox::currentIndexChanged, this,
            &AdvancedSettingsDialog::UpdateTlsEnabling);
    return group;
}

QWidget* AdvancedSettingsDialog::BuildOutput() {
    auto* group = new QGroupBox("Output");
    auto* form = new QFormLayout(group);
    socketHost_ = new QLineEdit;
    socketHost_->setPlaceholderText("127.0.0.1");
    socketPort_ = new QLineEdit;
    socketPort_->setValidator(Digits(socketPort_));
    socketPort_->setPlaceholderText("9100");
    socketPort_->setMaximumWidth(fontMetrics().averageCharWidth() * 10);
    auto* socket = new QHBoxLayout;
    socket->addWidget(socketHost_, 1);
    auto* portLabel = new QLabel("Po&rt:");
    portLabel->setBuddy(socketPort_);
    socket->addWidget(portLabel);
    socket->addWidget(socketPort_);
    form->addRow("Socket printer &host:", socket);
    qobject_cast<QLabel*>(form->labelForField(socket))->setBuddy(socketHost_);
    fileFormat_ = new QComboBox;
    fileFormat_->addItem("Text", "");
    fileFormat_->addItem("PDF", "pdf");
    form->addRow("Output file for&mat:", fileFormat_);
    auto* command = AddEdit("PRINTCOMMAND");
    command->setPlaceholderText("lpr");
    command->setToolTip("Run by the shell with the job on its standard input. A PRINTERCMD "
                        "of the LU-name file kesluprt.cfg takes its place.");
    form->addRow("Print comm&and:", command);
    form->addRow(AddCheck("USECOMMAND", "Pipe &jobs to the print command (file and printer)"));
    auto* options = AddEdit("PRINTEROPTIONS");
    options->setPlaceholderText("sides=two-sided-long-edge");
    options->setToolTip(config::FindKey("PRINTEROPTIONS")->description);
    form->addRow("C&UPS job options:", options);
    return group;
}

QWidget* AdvancedSettingsDialog::BuildPages() {
    auto* group = new QGroupBox("Pages");
    auto* form = new QFormLayout(group);
    form->addRow("Paper si&ze:", AddChoice("PAPER"));
    form->addRow("&Sheet orientation:", AddChoice("ORIENTATION"));
    form->addRow("Characters &per inch:", AddChoice("CPI"));
    form->addRow("&Lines per inch:", AddChoice("LPI"));
    form->addRow("&Background:", AddChoice("BACKGROUND"));
    return group;
}

QWidget* AdvancedSettingsDialog::BuildJobs() {
    auto* group = new QGroupBox("Job handling");
    auto* form = new QFormLayout(group);
    auto* eoj = AddEdit("EOJTIMEOUT");
    eoj->setValidator(Digits(eoj));
    form->addRow("End-of-job t&ime-out (seconds, 0 = off):", eoj);
    form->addRow(AddCheck("KEEPFAILED", "&Keep failed jobs and deliver them again"));
    std::vector<std::pair<QString, QString>> pages{{"", "(the built-in table)"}};
    for (const config::CodePageInfo& p : config::KnownCodePages())
        pages.emplace_back(QString("%1").arg(p.number, 3, 10, QChar('0')), p.language);
    form->addRow("Host code pa&ge:", WithChoices(AddEdit("CODEPAGE"), pages));
    std::vector<std::pair<QString, QString>> sets{{"", "(UTF-8)"}};
    for (const char* name : {"UTF-8", "ISO-8859-1", "ISO-8859-15", "CP1252", "CP437", "CP850",
                             "SHIFT_JIS", "EUC-JP", "GB18030", "BIG5", "EUC-KR"})
        sets.emplace_back(name, "");
    form->addRow("Print file chara&cter set with a code page:",
                 WithChoices(AddEdit("OUTPUTCHARSET"), sets));
    form->addRow("Line en&ds of the print files:", AddChoice("LINEEND"));
    return group;
}

AdvancedSettingsDialog::AdvancedSettingsDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle("Advanced settings");
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* top = new QVBoxLayout(this);
    // Two columns, so that the dialog fits a screen of 800 lines.
    auto* columns = new QHBoxLayout;
    auto* left = new QVBoxLayout;
    left->addWidget(BuildConnection());
    left->addWidget(BuildOutput());
    left->addStretch(1);
    auto* right = new QVBoxLayout;
    right->addWidget(BuildPages());
    right->addWidget(BuildJobs());
    right->addStretch(1);
    columns->addLayout(left);
    columns->addLayout(right);
    top->addLayout(columns);
    refusal_ = new QLabel;
    refusal_->setObjectName("refusal");
    refusal_->setWordWrap(true);
    refusal_->setStyleSheet("color: #b00020");
    refusal_->hide();
    top->addWidget(refusal_);
    // One save model with the window's own fields.
    auto* note = new QLabel("OK keeps these changes with the window's fields: the next Start uses "
                            "them, Save writes them to the INI file, Undo takes them back and "
                            "Exit offers to save them.");
    note->setObjectName("saveModel");
    note->setWordWrap(true);
    top->addWidget(note);
    top->addWidget(buttons);
    Load();
}

void AdvancedSettingsDialog::UpdateTlsEnabling() {
    // The files and names matter only to a connection that uses TLS.
    const bool on = checks_["TLS"]->isChecked() || startTls_->currentIndex() > 0;
    for (auto& [key, w] : tlsWidgets_)
        w->setEnabled(on);
}

void AdvancedSettingsDialog::SetSocketPort(const QString& value) {
    std::string host, port;
    SplitSocketPort(value.toStdString(), host, port);
    socketHost_->setText(QString::fromStdString(host));
    socketPort_->setText(QString::fromStdString(port));
}

QString AdvancedSettingsDialog::SocketPort() const {
    const QString host = socketHost_->text().trimmed();
    const QString port = socketPort_->text().trimmed();
    return host.isEmpty() ? port : host + ":" + port;
}

void AdvancedSettingsDialog::Load() {
    SetSocketPort(QString::fromStdString(config::IniGet("SOCKETPORT", "")));
    fileFormat_->setCurrentIndex(config::IniGet("FILEFORMAT", "") == "pdf" ? 1 : 0);
    const int startTls =
        startTls_->findData(QString::fromStdString(config::IniGet("STARTTLS", "0")));
    startTls_->setCurrentIndex(startTls < 0 ? 0 : startTls);
    for (const auto& e : kEdits)
        edits_[e.key]->setText(QString::fromStdString(config::IniGet(e.key, e.def)));
    edits_["RETRYINTERVAL"]->setText(QString::fromStdString(IniValue("RETRYINTERVAL")));
    for (const auto& c : kChecks)
        checks_[c.key]->setChecked(config::IniGet(c.key, c.def) == "1");
    for (const char* key : kChoices)
        ShowChoice(key, IniValue(key));
    UpdateTlsEnabling();
}

QStringList AdvancedSettingsDialog::Problems() const {
    // The daemon's loading and check, over the file with the fields' values in it.
    config::IniValues ini = config::IniValues::Read(config::gIniPath);
    const std::map<std::string, std::string> values = Values();
    for (const auto& [key, value] : values)
        ini.Set(key, value);
    config::Settings s = config::DefaultSettings();
    LoadSettings(ini, {}, false, s);
    QStringList mine;
    for (const std::string& line : CheckSettings(ini, s).lines) {
        const std::string key = line.substr(0, line.find('='));
        if (line.find('=') != std::string::npos && values.count(key))
            mine << QString::fromStdString(line);
    }
    return mine;
}

void AdvancedSettingsDialog::accept() {
    const QStringList problems = Problems();
    refusal_->setText(problems.join("\n"));
    refusal_->setVisible(!problems.isEmpty());
    if (problems.isEmpty()) QDialog::accept();
}

void AdvancedSettingsDialog::Save() {
    config::IniSet("SOCKETPORT", SocketPort().toStdString());
    for (const auto& [key, value] : Values())
        config::IniSet(key.c_str(), value);
}

std::map<std::string, std::string> AdvancedSettingsDialog::Values() const {
    std::map<std::string, std::string> v;
    v.emplace("FILEFORMAT", fileFormat_->currentData().toString().toStdString());
    v.emplace("STARTTLS", startTls_->currentData().toString().toStdString());
    for (const auto& e : kEdits)
        v.emplace(e.key, edits_.at(e.key)->text().toStdString());
    for (const auto& c : kChecks)
        v.emplace(c.key, QString(checks_.at(c.key)->isChecked() ? '1' : '0').toStdString());
    v.emplace("RETRYINTERVAL", edits_.at("RETRYINTERVAL")->text().toStdString());
    for (const auto& [key, box] : choices_)
        v.emplace(key, box->currentData().toString().toStdString());
    return v;
}

void AdvancedSettingsDialog::Apply(const std::map<std::string, std::string>& values) {
    for (const auto& [key, value] : values) {
        const QString text = QString::fromStdString(value);
        if (key == "FILEFORMAT") {
            fileFormat_->setCurrentIndex(value == "pdf" ? 1 : 0);
        } else if (key == "STARTTLS") {
            const int at = startTls_->findData(text);
            startTls_->setCurrentIndex(at < 0 ? 0 : at);
        } else if (auto e = edits_.find(key); e != edits_.end()) {
            e->second->setText(text);
        } else if (auto c = checks_.find(key); c != checks_.end()) {
            c->second->setChecked(value == "1");
        } else if (choices_.count(key)) {
            ShowChoice(key, value);
        }
    }
    UpdateTlsEnabling();
}

} // namespace ui
