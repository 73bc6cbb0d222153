#include "advanced.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "config/ini.h"
#include "config/options.h"

namespace ui {

namespace {
struct EditKey {
    const char* key;
    const char* label;
    const char* def;
};
// Text settings in the order the dialog shows them.
constexpr EditKey kEdits[] = {
    {"CODEPAGE", "Host code page (empty: built-in table):", ""},
    {"EOJTIMEOUT", "End-of-job time-out (seconds, 0 = off):", "0"},
    {"TLSCAFILE", "TLS CA file:", ""},
    {"TLSSERVERNAME", "TLS server name:", ""},
    {"TLSCERTFILE", "TLS client certificate:", ""},
    {"TLSKEYFILE", "TLS client key:", ""},
};
struct CheckKey {
    const char* key;
    const char* label;
    const char* def;
};
constexpr CheckKey kChecks[] = {
    {"USECOMMAND", "Pipe jobs to the print &command", "0"},
    {"KEEPFAILED", "&Keep failed jobs and deliver them again", "0"},
    {"TLS", "Connect with &TLS", "0"},
    {"TLSVERIFY", "&Verify the server certificate", "1"},
};
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

AdvancedSettingsDialog::AdvancedSettingsDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle("Advanced settings");
    auto* form = new QFormLayout;
    socketHost_ = new QLineEdit;
    form->addRow("Socket printer host (empty: 127.0.0.1):", socketHost_);
    fileFormat_ = new QComboBox;
    fileFormat_->addItem("Text", "");
    fileFormat_->addItem("PDF", "pdf");
    form->addRow("Output file format:", fileFormat_);
    for (const auto& e : kEdits) {
        auto* edit = new QLineEdit;
        if (std::string(e.key) == "EOJTIMEOUT")
            edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), edit));
        edits_[e.key] = edit;
        form->addRow(e.label, edit);
    }
    for (const auto& c : kChecks) {
        auto* box = new QCheckBox(c.label);
        checks_[c.key] = box;
        form->addRow(box);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* top = new QVBoxLayout(this);
    top->addLayout(form);
    top->addWidget(buttons);
    Load();
}

void AdvancedSettingsDialog::Load() {
    std::string host, port;
    SplitSocketPort(IniGet("SOCKETPORT", ""), host, port);
    socketHost_->setText(QString::fromStdString(host));
    fileFormat_->setCurrentIndex(IniGet("FILEFORMAT", "") == "pdf" ? 1 : 0);
    for (const auto& e : kEdits)
        edits_[e.key]->setText(QString::fromStdString(IniGet(e.key, e.def)));
    for (const auto& c : kChecks)
        checks_[c.key]->setChecked(IniGet(c.key, c.def) == "1");
}

void AdvancedSettingsDialog::Save() {
    std::string host, port;
    SplitSocketPort(IniGet("SOCKETPORT", ""), host, port);
    const std::string newHost = socketHost_->text().trimmed().toStdString();
    const std::string socket = newHost.empty() ? port : newHost + ":" + port;
    IniSet("SOCKETPORT", socket);
    gSocketPort = socket;
    gFileFormat = fileFormat_->currentData().toString().toStdString();
    IniSet("FILEFORMAT", gFileFormat);
    for (const auto& e : kEdits)
        IniSet(e.key, edits_[e.key]->text().toStdString());
    for (const auto& c : kChecks)
        IniSet(c.key, checks_[c.key]->isChecked() ? "1" : "0");
    // Delivery reads these switches at each job, like the medium.
    gUseCommand = checks_["USECOMMAND"]->isChecked() ? 1 : 0;
    gKeepFailed = checks_["KEEPFAILED"]->isChecked() ? 1 : 0;
}

} // namespace ui
