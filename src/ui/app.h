// The application object: start-up of the window client.
#pragma once
#include <QString>

namespace ui {

class MainWindow;

class PrinterClientApp {
  public:
    PrinterClientApp() = default;
    ~PrinterClientApp();
    PrinterClientApp(const PrinterClientApp&) = delete;
    PrinterClientApp& operator=(const PrinterClientApp&) = delete;

    // The start-up steps; false when the program must end without a window.
    // The command line (platform::SetCommandLine) must be set before.
    bool InitInstance();

    MainWindow* Window() const { return window_; }
    const QString& HelpPath() const { return helpPath_; }

  private:
    QString helpPath_;
    MainWindow* window_ = nullptr;
};

// Hooks for scripted runs, chosen by environment variables:
// TWPRINTER_STARTUP_PROBE=1 prints the wall clock (ns) of the first paint and quits;
// TWPRINTER_SCREENSHOT=file.png grabs the window once offline (or online, with
// TWPRINTER_SCREENSHOT_STATE=online), then stops the client and quits;
// the state "advanced" grabs the Advanced settings, "invalid" a port refused.
void InstallProbes(MainWindow* window);

} // namespace ui
