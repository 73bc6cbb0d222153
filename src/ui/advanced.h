// Settings beyond the setup window's own fields, one INI key each, in four
// groups: connection and TLS, output, pages, job handling. Lists and checks
// come from the settings table, so the dialog refuses what the daemon would.
#pragma once
#include <QDialog>
#include <map>
#include <string>
#include <utility>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace ui {

class AdvancedSettingsDialog : public QDialog {
    Q_OBJECT
  public:
    explicit AdvancedSettingsDialog(QWidget* parent = nullptr);
    // Loads every field from the INI file (done by the constructor too).
    void Load();
    // Writes every field to its INI key.
    void Save();
    // Every field but the socket printer by INI key, as shown; Apply shows such values.
    std::map<std::string, std::string> Values() const;
    void Apply(const std::map<std::string, std::string>& values);
    // The socket printer "host:port" (or a port alone), shown split in two fields.
    void SetSocketPort(const QString& value);
    QString SocketPort() const;
    // The settings check's lines ("KEY=value: expected ...") for the fields' values,
    // over the INI file's others; OK is refused while there are any.
    QStringList Problems() const;
    void accept() override;

    QLineEdit* Edit(const std::string& key) const { return edits_.at(key); }
    QCheckBox* Check(const std::string& key) const { return checks_.at(key); }
    // The list of a key with values of the settings table (PAPER, ORIENTATION, CPI, LPI,
    // BACKGROUND, LINEEND).
    QComboBox* Choice(const std::string& key) const { return choices_.at(key); }
    QLabel* Refusal() const { return refusal_; }
    // The Browse button of a file key (TLSCAFILE, TLSCERTFILE, TLSKEYFILE).
    QPushButton* Browse(const std::string& key) const { return browse_.at(key); }
    QComboBox* FileFormat() const { return fileFormat_; }
    QComboBox* StartTls() const { return startTls_; }
    QLineEdit* SocketHost() const { return socketHost_; }
    QLineEdit* SocketPortEdit() const { return socketPort_; }

  private:
    void UpdateTlsEnabling();
    QWidget* BuildConnection();
    QWidget* BuildOutput();
    QWidget* BuildJobs();
    QWidget* BuildPages();
    QComboBox* AddChoice(const char* key);
    void ShowChoice(const std::string& key, const std::string& value);
    QLineEdit* AddEdit(const char* key);
    QComboBox* WithChoices(QLineEdit* edit,
                           const std::vector<std::pair<QString, QString>>& choices);
    QCheckBox* AddCheck(const char* key, const QString& text);

    std::map<std::string, QLineEdit*> edits_;
    std::map<std::string, QCheckBox*> checks_;
    std::map<std::string, QComboBox*> choices_;
    std::map<std::string, QPushButton*> browse_;
    std::map<std::string, QWidget*> tlsWidgets_;
    QComboBox* fileFormat_ = nullptr;
    QComboBox* startTls_ = nullptr;
    QLineEdit* socketHost_ = nullptr;
    QLineEdit* socketPort_ = nullptr;
    QLabel* refusal_ = nullptr;
};

// "host:port" split; the host is empty for a bare port.
void SplitSocketPort(const std::string& value, std::string& host, std::string& port);

} // namespace ui
