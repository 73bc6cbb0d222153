// Settings beyond the setup window's own fields, one INI key each.
#pragma once
#include <QDialog>
#include <map>
#include <string>

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace ui {

class AdvancedSettingsDialog : public QDialog {
    Q_OBJECT
  public:
    explicit AdvancedSettingsDialog(QWidget* parent = nullptr);
    // Loads every field from the INI file (done by the constructor too).
    void Load();
    // Writes every field to its INI key and updates the engine's switches.
    void Save();

    QLineEdit* Edit(const std::string& key) const { return edits_.at(key); }
    QCheckBox* Check(const std::string& key) const { return checks_.at(key); }
    QComboBox* FileFormat() const { return fileFormat_; }
    QLineEdit* SocketHost() const { return socketHost_; }

  private:
    std::map<std::string, QLineEdit*> edits_;
    std::map<std::string, QCheckBox*> checks_;
    QComboBox* fileFormat_ = nullptr;
    QLineEdit* socketHost_ = nullptr;
};

// "host:port" split; the host is empty for a bare port.
void SplitSocketPort(const std::string& value, std::string& host, std::string& port);

} // namespace ui
