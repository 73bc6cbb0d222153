// twprinter: the printer client with its setup window.
#include <QApplication>

#include <cstdio>

#include "app.h"
#include "config/options.h"
#include "config/settings.h"
#include "main_window.h"
#include "platform/sysinfo.h"

int main(int argc, char** argv) {
    // Qt takes its own options (-platform, -style...) out of argv first.
    QApplication app(argc, argv);
    platform::SetCommandLine(argc, argv);
    const CommandWords words = ParseCommandWords(platform::CommandArgs());
    if (!words.error.empty()) {
        std::fprintf(stderr,
                     "twprinter: %s\n"
                     "usage: twprinter [options] [session.twr]\n"
                     "The options are those of twprinterd(8); see twprinter(1).\n",
                     words.error.c_str());
        return kBadCommandLine;
    }
    // The window hides into the notification area; only Exit ends the program.
    app.setQuitOnLastWindowClosed(false);
    ui::PrinterClientApp client;
    if (!client.InitInstance()) return 0;
    // exit, not quit: quit would ask the window to close, which means Exit again.
    QObject::connect(client.MainWindow(), &ui::PrinterClientDialog::exited, &app,
                     [] { QCoreApplication::exit(0); });
    ui::InstallProbes(client.MainWindow());
    return app.exec();
}
