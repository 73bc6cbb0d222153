// twprinter: the printer client with its setup window.
#include <QApplication>

#include <cstdio>
#include <cstring>

#include "app.h"
#include "config/options.h"
#include "config/settings.h"
#include "main_window.h"
#include "platform/sysinfo.h"

namespace {

constexpr const char* kUsage =
    "usage: twprinter [options] [session.twr]\n"
    "       twprinter --help | --version\n"
    "Opens the printer client setup window with the settings of twprinter.ini in\n"
    "$TWPRINTER_DIR (default ~/.config/twprinter), or of the session file given;\n"
    "Start runs the TN3270E printer session, the tray icon keeps it at hand.\n"
    "  -h host       server host name (HOSTNAME)\n"
    "  -s service    service name or port (SERVERNAME)\n"
    "  -l type       LU type 1 or 3 (LUTYPE)\n"
    "  -n id         session id (SESSIONID)\n"
    "  -a address    LU address (LUADDRESS)\n"
    "  -f name       print file name (FILENAME)\n"
    "  -c file       LU-name configuration file (CONFIGFILE)\n"
    "  -C name       connect LU name (CONNECTNAME)\n"
    "  -A name       associate LU name (ASSOCIATENAME)\n"
    "  -E            TN3270E with connect or associate name (3270E)\n"
    "  -x file       translation file\n"
    "  -T            no translation\n"
    "  -D            fixed print file name\n"
    "  -S            print to standard output\n"
    "  -btam         an SCS end-of-message ends the job\n"
    "  -FF           an SCS form feed ends the job\n"
    "  -d            debug traces\n"
    "Qt's own options (-platform, -style, ...) are taken as well.\n"
    "See twprinter(1), twprinterd(8) and twprinter.ini(5).\n";

bool HasWord(int argc, char** argv, const char* word) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], word) == 0) return true;
    return false;
}

} // namespace

int main(int argc, char** argv) {
    // Answered before Qt is started: they must work without a display.
    if (HasWord(argc, argv, "--help")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (HasWord(argc, argv, "--version")) {
        std::printf("twprinter %s\n", TWPRINTER_VERSION);
        return 0;
    }
    // Qt takes its own options (-platform, -style...) out of argv first.
    QApplication app(argc, argv);
    platform::SetCommandLine(argc, argv);
    const config::CommandWords words = config::ParseCommandWords(platform::CommandArgs());
    if (!words.error.empty()) {
        std::fprintf(stderr,
                     "twprinter: %s\n"
                     "usage: twprinter [options] [session.twr]\n"
                     "The options are those of twprinterd(8); see twprinter(1).\n",
                     words.error.c_str());
        return config::kBadCommandLine;
    }
    // The window hides into the notification area; only Exit ends the program.
    app.setQuitOnLastWindowClosed(false);
    ui::PrinterClientApp client;
    if (!client.InitInstance()) return 0;
    // exit, not quit: quit would ask the window to close, which means Exit again.
    QObject::connect(client.Window(), &ui::MainWindow::exited, &app,
                     [] { QCoreApplication::exit(0); });
    ui::InstallProbes(client.Window());
    return app.exec();
}
