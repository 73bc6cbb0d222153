// The setup window: its controls, the setup fields, session files and the
// start and stop of the printer session.
#pragma once
#include <QDialog>
#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <thread>

#include "config/settings.h"
#include "printer_setup.h"

namespace session {
class PrinterSession;
}
namespace config {
class Reporter;
}

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
namespace config {
struct JobReport;
}
class QRadioButton;
class QSystemTrayIcon;
class QMenu;

namespace ui {

class JobList;
class PrinterChoice;
class QtReport;

// What a message box says: a question (Yes/No) or a notice of that weight (OK).
enum class MessageKind { Question, Information, Warning, Critical };

// Seams for the modal parts of the window, so that tests can answer them.
struct DialogHooks {
    // Yes/No box for a question, else an OK box with the kind's icon; true for Yes (or OK).
    std::function<bool(QWidget* parent, const QString& text, MessageKind kind)> messageBox;
    // Save-file chooser for session files; empty for Cancel.
    std::function<QString(QWidget* parent)> saveSessionFile;
    // Printer setup starting at the current printer and paper; chosen false for Cancel.
    std::function<PrinterPick(QWidget* parent, const QString& printer, const QString& paper)>
        choosePrinter;
    // Opens the help file; false when nothing could open it.
    std::function<bool(const QString& path)> openHelp;
    // Open-file chooser starting at current; empty for Cancel.
    std::function<QString(QWidget* parent, const QString& title, const QString& current)>
        chooseFile;
    // Opens a folder in the file manager.
    std::function<void(const QString& folder)> openFolder;
};
DialogHooks& Hooks();

enum class TrayAction { Add, Modify, Delete };

class MainWindow : public QDialog {
    Q_OBJECT
  public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Window initialisation: debug log, default INI, AUTOSTART, control texts,
    // the fields from the command-line session file or the INI file.
    void ShowSettings();

    // Controls by id (nullptr for an unknown id).
    QWidget* Control(int id) const;
    template <class T> T* ControlAs(int id) const { return qobject_cast<T*>(Control(id)); }

    // Setup fields.
    void SetControlTexts();
    void LoadFieldsFromIni();
    void SaveFieldsToIni();
    int ValidateFields();
    void UpdateStartButton();
    int AnyFieldModified() const;
    void ClearModifiedFlags();
    void UndoFieldChanges();
    // The settings a Start hands to the session: the INI file and the command
    // line (LoadSettings), then what the fields stand for; why not when they cannot be had.
    config::Result SettingsForStart(config::Settings& s) const;
    void SelectPortOutput(int on);
    void SelectSocketOutput(int on);
    void SelectFileOutput(int on);
    void SelectPrinterOutput(int on);

    // Session files.
    int WriteSessionFile(const QString& path);
    void ReadSessionFile(const QString& path);

    // Commands.
    void StartClient();
    void StopClient();
    void RequestExit();
    void SaveCommand();
    void UndoCommand();
    void PrinterSetup();
    void HideCommand();
    void ShowHelp();
    void ShowFromTray();
    void OpenAdvancedSettings();
    // The CUPS printer shown beside the printer choice, from the INI file.
    void ShowChosenPrinter();
    // The built-in help viewer, once the help was shown in it.
    QDialog* HelpViewer() const { return helpViewer_; }

    // The reporter handed to the session; its calls may come from any thread.
    config::Reporter& Report();
    bool SessionRunning() const;
    // The settings of the last Start.
    const config::Settings& StartedSettings() const { return started_; }

    // Reports of the session, delivered on the window thread.
    void ShowOnlineState(bool online);
    void ShowStatusMessage(int code, const QString& text);
    void StatusLine(const QString& text);
    // A job received or its outcome: its line in the status, its row in the job list.
    void JobReported(const config::JobReport& job);
    void ShowFinalMessage(const QString& text);

    void UpdateTrayIcon(bool online, TrayAction action);
    QSystemTrayIcon* TrayIcon() const { return tray_; }
    bool TrayOnline() const { return trayOnline_; }
    bool TrayShown() const { return trayShown_; }

    void SetHelpPath(const QString& path) { helpPath_ = path; }
    const QString& HelpPath() const { return helpPath_; }

    // Window flags, for the start-up and the tests.
    bool autoStart() const { return autoStart_; }
    bool running() const { return running_; }
    bool stopping() const { return stopping_; }
    JobList* Jobs() const { return jobList_; }
    bool choicesChanged() const { return choicesChanged_; }
    bool mode3270E() const { return mode3270E_; }
    config::Medium medium() const { return medium_; }
    bool printPageAfterLines() const { return printPageAfterLines_; }
    bool sessionFileInForce() const { return sessionFileInForce_; }
    int validationMessage() const { return validationMessage_; }

  signals:
    // The user confirmed Exit and the window has done its clean-up.
    void exited();
    // The window came online or went offline (after the state was shown).
    void onlineChanged(bool online);
    // The status text was set.
    void statusShown(const QString& text);

  protected:
    void reject() override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    void BuildControls();
    void BuildTray();
    void ApplyFieldsTo(config::Settings& s) const;
    void ApplyOutputChoiceTo(config::Settings& s) const;
    void SetTabOrder();
    void ConnectSignals();
    void Set3270Enabling(bool e3270);
    void EnableStartIfValid();
    void FinishStop();
    bool Ask(const QString& text);
    void Tell(const QString& text, MessageKind kind);
    void ShowHelpInViewer();
    void SetLuType(const QString& text);
    void FitToScreen();
    void SetStatus(const QString& text);
    // The end of an Exit: save if there are changes, then go.
    void FinishExit();

    std::map<int, QWidget*> controls_;
    QPlainTextEdit* status_ = nullptr;
    JobList* jobList_ = nullptr;
    // The reason the session gave last (a failed connection's), for its final message.
    QString lastReason_;
    // Advanced settings taken with OK and not yet saved, by INI key.
    std::map<std::string, std::string> pendingAdvanced_;
    QLabel* validation_ = nullptr;
    QLineEdit *host_ = nullptr, *portNumber_ = nullptr, *timeout_ = nullptr;
    QComboBox* luType_ = nullptr;
    PrinterChoice* printer_ = nullptr;
    // The LU type as last loaded or saved, for Undo.
    QString luTypeSaved_;
    QLineEdit *sessionId_ = nullptr, *address_ = nullptr, *connectName_ = nullptr,
              *associateName_ = nullptr;
    QLineEdit *portName_ = nullptr, *socketPort_ = nullptr, *fileName_ = nullptr,
              *jobName_ = nullptr, *lines_ = nullptr;
    QLabel *sessionIdLabel_ = nullptr, *addressLabel_ = nullptr, *connectLabel_ = nullptr,
           *associateLabel_ = nullptr;
    QRadioButton *r3270_ = nullptr, *r3270E_ = nullptr;
    QRadioButton *portChoice_ = nullptr, *socketChoice_ = nullptr, *fileChoice_ = nullptr,
                 *printerChoice_ = nullptr;
    QRadioButton *autoChoice_ = nullptr, *manualChoice_ = nullptr;
    QCheckBox *headings_ = nullptr, *printAfter_ = nullptr, *startVisible_ = nullptr;
    QPushButton *start_ = nullptr, *stop_ = nullptr, *hide_ = nullptr, *printerSetup_ = nullptr,
                *save_ = nullptr, *undo_ = nullptr, *exit_ = nullptr, *help_ = nullptr,
                *advanced_ = nullptr;
    QDialog* helpViewer_ = nullptr;

    QSystemTrayIcon* tray_ = nullptr;
    QMenu* trayMenu_ = nullptr;
    bool trayOnline_ = false;
    bool trayShown_ = false;
    QString helpPath_;

    std::unique_ptr<QtReport> report_;
    std::unique_ptr<session::PrinterSession> session_;
    config::Settings started_;
    std::thread stopper_;

    // The window's own fields.
    bool fieldsReady_ = false;
    int validationMessage_ = 0;
    // The fields, not the INI file, name the host and LU of the next Start.
    bool sessionFileInForce_ = false;
    // The output choice; port until the fields are loaded.
    config::Medium medium_ = config::Medium::Port;
    bool headingsOn_ = false;
    bool autoStart_ = false;
    bool printPageAfterLines_ = false;
    bool running_ = false;
    bool stopping_ = false;
    bool exitAfterStop_ = false; // Exit was confirmed while the session ran
    bool choicesChanged_ = false;
    bool mode3270E_ = false;
};

// Whether the command line names a session file; its path in path.
int FindSessionFileArgument(QString& path);

// Decimal number as the validation reads it: blanks, a sign, digits; else 0.
long ReadNumber(const QString& text);

} // namespace ui
