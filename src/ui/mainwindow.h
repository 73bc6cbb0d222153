// The setup window: its controls, the setup fields, session files and the
// start and stop of the client thread.
#pragma once
#include <QDialog>
#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <thread>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSystemTrayIcon;
class QMenu;

namespace ui {

class QtReport;

// Process-wide values of the window.
extern int gFieldsReady;
extern int gValidationMessage;

// Seams for the modal parts of the window, so that tests can answer them.
struct DialogHooks {
    // Yes/No question when yesNo, else an OK box; true for Yes (or OK).
    std::function<bool(QWidget* parent, const QString& text, bool yesNo)> messageBox;
    // Save-file chooser for session files; empty for Cancel.
    std::function<QString(QWidget* parent)> saveSessionFile;
    // Printer chooser; empty for Cancel.
    std::function<QString(QWidget* parent)> choosePrinter;
    // Opens the help file; false when nothing could open it.
    std::function<bool(const QString& path)> openHelp;
};
DialogHooks& Hooks();

enum class TrayAction { Add, Modify, Delete };

class PrinterClientDialog : public QDialog {
    Q_OBJECT
  public:
    explicit PrinterClientDialog(QWidget* parent = nullptr);
    ~PrinterClientDialog() override;

    // Window initialisation: debug log, default INI, AUTOSTART, control texts,
    // the fields from the command-line session file or the INI file.
    void OnInitDialog();

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
    void ApplyFieldsToConfiguration();
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

    // Reports of the client thread, delivered on the window thread.
    void ShowOnlineState(bool online);
    void ShowStatusMessage(int code, const QString& text);
    void StatusLine(const QString& text);
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
    bool choicesChanged() const { return choicesChanged_; }
    bool mode3270E() const { return mode3270E_; }
    bool useSocket() const { return useSocket_; }
    bool printPageAfterLines() const { return printPageAfterLines_; }

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
    void SetTabOrder();
    void ConnectSignals();
    void Set3270Enabling(bool e3270);
    void EnableStartIfValid();
    void FinishStop();
    bool Ask(const QString& text);
    void Tell(const QString& text);
    void SetStatus(const QString& text);

    std::map<int, QWidget*> controls_;
    QLabel* status_ = nullptr;
    QLabel* validation_ = nullptr;
    QLineEdit *host_ = nullptr, *portNumber_ = nullptr, *luType_ = nullptr, *timeout_ = nullptr;
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
                *save_ = nullptr, *undo_ = nullptr, *exit_ = nullptr, *help_ = nullptr;

    QSystemTrayIcon* tray_ = nullptr;
    QMenu* trayMenu_ = nullptr;
    bool trayOnline_ = false;
    bool trayShown_ = false;
    QString helpPath_;

    std::unique_ptr<QtReport> report_;
    std::thread stopper_;

    // The window's own fields.
    bool autoStart_ = false;
    bool printPageAfterLines_ = false;
    bool running_ = false;
    bool stopping_ = false;
    bool choicesChanged_ = false;
    bool mode3270E_ = false;
    bool useSocket_ = false;
};

// Whether the command line names a session file; its path in path.
int FindSessionFileArgument(QString& path);

// Decimal number as the validation reads it: blanks, a sign, digits; else 0.
long ReadNumber(const QString& text);

} // namespace ui
