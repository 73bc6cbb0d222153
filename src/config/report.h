// How the engine reports to whoever runs it (the window or the headless program).
// Calls arrive on the client thread; implementations marshal them as they need.
#pragma once
#include <string>

class UiReport {
  public:
    virtual ~UiReport() = default;
    virtual void ShowOnlineState(bool online) = 0;
    // Status line: code's message with detail; reconnect adds "Delaying before reconnect.".
    virtual void ShowStatusMessage(int code, const std::string& text) = 0;
    // Final message box of a run.
    virtual void ShowMessageBox(const std::string& text) = 0;
    // "Output file %s already exists. Overwrite?"; true for Yes.
    virtual bool AskYesNo(const std::string& question) = 0;
    // Free-form status line (delivery notes, warnings).
    virtual void StatusLine(const std::string& text) = 0;
};

// Installs the reporter; nullptr installs one that writes to standard error.
void SetUiReport(UiReport* report);
UiReport& Ui();

void ShowOnlineState(bool online);
// Composes the status text for code: the message, " " + gErrorDetail when set (the
// detail is then cleared), and "\nDelaying before reconnect." for every code but 47
// (the session calls this only for failed connection attempts and for 47 before a
// retry). The reporter receives the finished text; in debug mode it also goes to
// the debug log.
void ShowStatusMessage(int code);
