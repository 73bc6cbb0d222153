// Start and Stop of the session from the window against the host simulator,
// the session's reports and the start-up steps.
#include <QSystemTrayIcon>
#include <thread>

#include "app.h"
#include "config/ini.h"
#include "config/report.h"
#include "platform/sysinfo.h"
#include "uitestutil.h"

using namespace ui;
using namespace uitest;

namespace {
const QString kOnline = "Tarnwick printer client is online.";
const QString kOffline = "Tarnwick printer client is offline.";

// INI settings for a run against 127.0.0.1:port with the file medium.
void Configure(Env& env, int port, const char* timeout = "15", const char* retry = "1") {
    env.Set(QString("HOSTNAME=127.0.0.1 SERVERNAME=%1 LUTYPE=1 CONNECTTIMEOUT=%2 RETRYDELAY=%3 "
                    "PRINTTOFILE=1 FILENAME=%4")
                .arg(port)
                .arg(timeout, retry, QString::fromStdString(env.file("JOB"))));
}
constexpr const char* kOnlineScript = "negotiate tn3270e\nbind\nhold\n";
} // namespace

class ClientTest : public QObject {
    Q_OBJECT
  private slots:
    // Without any display Qt would abort; these two never start it.
    void helpAndVersionNeedNoDisplay() {
        for (const char* word : {"--help", "--version"}) {
            testutil::Proc p({"/usr/bin/env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u",
                              "QT_QPA_PLATFORM", TWPRINTER_PATH, word});
            QCOMPARE(p.Wait(10000), 0);
            const std::string want = std::string(word) == "--help"
                                         ? "usage: twprinter [options] [session.twr]\n"
                                         : "twprinter " TWPRINTER_VERSION "\n";
            QVERIFY2(p.text().rfind(want, 0) == 0, p.text().c_str());
        }
    }

    void startGoesOnlineStopGoesOffline() {
        Env env;
        HostSim host(env, kOnlineScript);
        Configure(env, host.port);
        Window d;
        d.UpdateTrayIcon(false, TrayAction::Add);
        for (int run = 0; run < 2; ++run) {
            B(d, IDC_START)->click();
            QCOMPARE(Enabled(d, {IDC_START, IDC_STOP}), QString("01"));
            QTRY_COMPARE_WITH_TIMEOUT(Status(d), kOnline, 10000);
            QVERIFY(d.running() && d.TrayOnline());
            env.answers = {true};
            d.RequestExit(); // refused while the session runs
            QCOMPARE(env.shown.last(), QString("Please stop the printer client first."));
            B(d, IDC_STOP)->click();
            QTRY_VERIFY_WITH_TIMEOUT(!d.stopping(), 10000);
            QVERIFY(Status(d) == kOffline && !d.running() && !d.SessionRunning() &&
                    !d.TrayOnline());
            QCOMPARE(Enabled(d, {IDC_START, IDC_STOP}), QString("10"));
        }
        // A stop request ends the run without a message box.
        QTest::qWait(300);
        QVERIFY2(env.shown.size() == 4, qPrintable(env.shown.join(" | ")));
        QCOMPARE(d.StartedSettings().service, std::to_string(host.port)); // the INI file's
    }

    void reconnectTimeoutAndStopInPause() {
        for (const char* retry : {"1", "15"}) {
            Env env;
            Configure(env, testutil::FreePort(), retry[1] ? "0" : "1", retry);
            Window d;
            d.StartClient();
            QCOMPARE(Status(d), QString("Attempting to connect..."));
            QTRY_VERIFY_WITH_TIMEOUT(Status(d).endsWith("\nDelaying before reconnect."), 5000);
            QVERIFY(Status(d).startsWith("Unable to connect: ") && Status(d).indexOf('\n') > 20);
            if (!retry[1]) {
                // The time-out of one second ends the run with its message box.
                QTRY_VERIFY_WITH_TIMEOUT(env.shown.contains("Unable to connect to server"), 9000);
                QCOMPARE(env.kinds.last(), MessageKind::Critical);
                QTRY_COMPARE_WITH_TIMEOUT(Status(d), kOffline, 5000);
                QVERIFY(!d.running() && !d.SessionRunning() && B(d, IDC_START)->isEnabled());
                continue;
            }
            // Stop cuts the pause short; Exit meanwhile answers with message 2.
            QElapsedTimer t;
            t.start();
            d.StopClient();
            env.answers = {true};
            d.RequestExit();
            QCOMPARE(env.shown.last(), QString("Printer client shutting down. Please wait..."));
            QTRY_VERIFY_WITH_TIMEOUT(!d.stopping(), 5000);
            QVERIFY(t.elapsed() < 4000 && Status(d) == kOffline);
            QTest::qWait(200);
            QCOMPARE(env.shown.size(), 2);
        }
    }

    void reportsCrossThreads() {
        Env env;
        Window d;
        env.answers = {true, false};
        bool first = false, second = true;
        Reporter& r = d.Report();
        // The worker's questions are answered by the window thread while it waits.
        std::thread worker([&] {
            r.ShowOnlineState(true);
            first = r.AskYesNo("Output file X already exists. Overwrite?");
            second = r.AskYesNo("again?");
            r.StatusLine("File printed");
        });
        QTRY_COMPARE_WITH_TIMEOUT(Status(d), kOnline + "\nFile printed", 5000);
        worker.join();
        QVERIFY(first && !second && env.shown.size() == 2);
    }

    void startupAutostartAndHelp() {
        Env env;
        HostSim host(env, kOnlineScript);
        Configure(env, host.port);
        env.Set("AUTOSTART=1");
        // -d turns on the debug log (a -d in the path does not); "name.ext" keeps
        // its settings in name.ini.
        char prog[] = "/opt/kes-d/twprinter.bin", debug[] = "-d", arg[] = "x.txt";
        char* argv[] = {prog, debug, arg};
        platform::SetCommandLine(3, argv);
        PrinterClientApp app;
        QVERIFY(app.InitInstance() && gIniPath == env.ini());
        Dialog* w = app.MainWindow();
        QVERIFY(w->isVisible() && w->TrayShown() && w->autoStart() && w->running());
        QTRY_VERIFY_WITH_TIMEOUT(w->TrayOnline(), 10000);
        QVERIFY(testutil::ReadFile(env.file("TwPrinter.log")).rfind("Version = 1.5.1", 0) == 0);
        w->StopClient();
        QTRY_VERIFY_WITH_TIMEOUT(!w->stopping(), 10000);
        // The shipped help names every message a user can meet in the window.
        const QString help = QString::fromStdString(testutil::ReadFile(TWPRINTER_HELP));
        for (int n :
             {1, 2, 3, 4, 6, 7, 11, 12, 47, 48, 49, 50, 51, 52, 57, 59, 60, 95, 96, 120, 121})
            QVERIFY2(help.contains(UiText(n).toHtmlEscaped()), qPrintable(UiText(n)));
    }
};

QTEST_MAIN(ClientTest)
#include "client_test.moc"
