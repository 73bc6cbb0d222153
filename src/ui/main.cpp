// twprinter: the printer client with its setup window.
#include <QApplication>

#include "app.h"
#include "mainwindow.h"
#include "platform/sysinfo.h"

int main(int argc, char** argv) {
    platform::SetCommandLine(argc, argv);
    QApplication app(argc, argv);
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
