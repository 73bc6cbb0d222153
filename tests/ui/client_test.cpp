// Start and Stop of the client thread from the window against the host
// simulator, the status line, the tray icon, the start-up steps and Exit.
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QtTest>
#include <thread>

#include "app.h"
#include "config/ini.h"
#include "config/options.h"
#include "config/report.h"
#include "controlids.h"
#include "mainwindow.h"
#include "platform/sysinfo.h"
#include "session/session.h"
#include "shell.h"
#include "testutil.h"
#include "uitestutil.h"
#include "uitext.h"

using namespace ui;

namespace {

QPushButton* B(PrinterClientDialog& d, int id) {
    return d.ControlAs<QPushButton>(id);
}
QString Status(PrinterClientDialog& d) {
    return d.ControlAs<QLabel>(IDC_STATUS_TEXT)->text();
}

// The host simulator on a free loopback port, serving one script.
class HostSim {
  public:
    HostSim(const std::string& dir, const std::string& script) {
        const QString file = QString::fromStdString(dir + "/host.script");
        testutil::WriteFile(file.toStdString(), script);
        proc_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        proc_.start(HOSTSIM_PATH,
                    {"--port", "0", "--script", file, "--timeout", "60000", "--clients", "5"});
        if (!proc_.waitForStarted(5000)) return;
        while (proc_.waitForReadyRead(5000)) {
            while (proc_.canReadLine()) {
                const QString line = QString::fromUtf8(proc_.readLine()).trimmed();
                if (line.startsWith("PORT ")) {
                    port_ = line.mid(5).toInt();
                    return;
                }
            }
        }
    }
    ~HostSim() {
        proc_.kill();
        proc_.waitForFinished(3000);
    }
    int port() const { return port_; }

  private:
    QProcess proc_;
    int port_ = 0;
};

// INI settings for a run against 127.0.0.1:port with the file medium.
void Configure(uitest::Env& env, int port, const char* timeout = "15") {
    env.Set("HOSTNAME", "127.0.0.1");
    env.Set("SERVERNAME", std::to_string(port));
    env.Set("CONNECTTIMEOUT", timeout);
    env.Set("PRINTTOFILE", "1");
    env.Set("FILENAME", env.file("JOB"));
    env.Set("LUTYPE", "1");
}

constexpr const char* kOnlineScript = "negotiate tn3270e\nbind\nhold\n";

} // namespace

class ClientTest : public QObject {
    Q_OBJECT
  private slots:
    void startGoesOnlineStopGoesOffline();
    void statusWhileReconnectingAndTimeout();
    void stopDuringRetryPause();
    void reportsCrossThreads();
    void startupSteps();
    void startupAutostartAndRegistrationFailure();
    void exitRules();
    void trayHelpAndHide();
};

void ClientTest::startGoesOnlineStopGoesOffline() {
    uitest::Env env;
    HostSim host(env.dir(), kOnlineScript);
    QVERIFY(host.port() > 0);
    Configure(env, host.port());
    PrinterClientDialog d;
    d.OnInitDialog();
    d.UpdateTrayIcon(false, TrayAction::Add);
    QSignalSpy online(&d, &PrinterClientDialog::onlineChanged);

    B(d, IDC_START)->click();
    QVERIFY(d.running());
    QVERIFY(!B(d, IDC_START)->isEnabled());
    QVERIFY(B(d, IDC_STOP)->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(Status(d), QString("Tarnwick printer client is online."), 10000);
    QVERIFY(d.TrayOnline());
    QCOMPARE(d.TrayIcon()->toolTip(), QString("Tarnwick printer client is online."));
    QVERIFY(!d.TrayIcon()->icon().isNull());
    QCOMPARE(online.count(), 1);
    QCOMPARE(online.at(0).at(0).toBool(), true);

    // Exit is refused while the client runs.
    env.answers = {true};
    d.RequestExit();
    QCOMPARE(env.shown.last(), QString("Please stop the printer client first."));
    QVERIFY(ClientRunning());

    B(d, IDC_STOP)->click();
    QVERIFY(!B(d, IDC_STOP)->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(!d.stopping(), 10000);
    QCOMPARE(Status(d), QString("Tarnwick printer client is offline."));
    QVERIFY(!d.running());
    QVERIFY(!ClientRunning());
    QVERIFY(B(d, IDC_START)->isEnabled());
    QVERIFY(!B(d, IDC_STOP)->isEnabled());
    QVERIFY(!d.TrayOnline());
    QCOMPARE(d.TrayIcon()->toolTip(), QString("Tarnwick printer client is offline."));
    // A stop request ends the run without a message box.
    QTest::qWait(300);
    QCOMPARE(env.shown, (QStringList{"Are you sure you want to exit?",
                                     "Please stop the printer client first."}));

    // A second run works with a fresh thread.
    B(d, IDC_START)->click();
    QTRY_COMPARE_WITH_TIMEOUT(Status(d), QString("Tarnwick printer client is online."), 10000);
    d.StopClient();
    QTRY_VERIFY_WITH_TIMEOUT(!d.stopping(), 10000);
    QVERIFY(!ClientRunning());
}

void ClientTest::statusWhileReconnectingAndTimeout() {
    uitest::Env env;
    Configure(env, uitest::UnusedPort(), "1");
    PrinterClientDialog d;
    d.OnInitDialog();
    d.UpdateTrayIcon(false, TrayAction::Add);
    QStringList statuses;
    connect(&d, &PrinterClientDialog::statusShown, [&](const QString& s) { statuses << s; });
    d.StartClient();
    QVERIFY(d.running());
    QCOMPARE(Status(d), QString("Attempting to connect..."));
    QTRY_VERIFY_WITH_TIMEOUT(Status(d).endsWith("\nDelaying before reconnect."), 5000);
    QVERIFY(Status(d).startsWith("Unable to connect:"));
    // The attempt's detail follows the message text after a blank.
    QVERIFY(Status(d).section('\n', 0, 0).size() > QString("Unable to connect:").size() + 1);
    QVERIFY(B(d, IDC_STOP)->isEnabled());

    // After the pause the retry shows the bare message, fails again, and the
    // time-out of one second ends the run with its message box.
    QTRY_VERIFY_WITH_TIMEOUT(env.shown.contains("Unable to connect to server"), 25000);
    QTRY_VERIFY_WITH_TIMEOUT(!ClientRunning(), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(Status(d), QString("Tarnwick printer client is offline."), 5000);
    QVERIFY(statuses.indexOf("Attempting to connect...", 1) > 1);
    QVERIFY(!d.running());
    QVERIFY(B(d, IDC_START)->isEnabled());
    QVERIFY(!B(d, IDC_STOP)->isEnabled());
    QVERIFY(!d.TrayOnline());
    d.StopClient();
    QTRY_VERIFY_WITH_TIMEOUT(!d.stopping(), 5000);
}

void ClientTest::stopDuringRetryPause() {
    uitest::Env env;
    Configure(env, uitest::UnusedPort(), "0");
    PrinterClientDialog d;
    d.OnInitDialog();
    d.StartClient();
    QTRY_VERIFY_WITH_TIMEOUT(Status(d).endsWith("Delaying before reconnect."), 5000);
    QElapsedTimer t;
    t.start();
    // Clicks that arrive while Stop waits: Exit answers with message 2.
    d.StopClient();
    QVERIFY(d.stopping());
    env.answers = {true};
    d.RequestExit();
    QCOMPARE(env.shown.last(), QString("Printer client shutting down. Please wait..."));
    QTRY_VERIFY_WITH_TIMEOUT(!d.stopping(), 5000);
    QVERIFY(t.elapsed() < 4000);
    QCOMPARE(Status(d), QString("Tarnwick printer client is offline."));
    QTest::qWait(200);
    QVERIFY(!env.shown.contains("Exiting at parents request."));
}

void ClientTest::reportsCrossThreads() {
    uitest::Env env;
    PrinterClientDialog d;
    d.OnInitDialog();
    d.UpdateTrayIcon(false, TrayAction::Add);
    QStringList statuses;
    connect(&d, &PrinterClientDialog::statusShown, [&](const QString& s) { statuses << s; });
    env.answers = {true, false};
    bool first = false, second = true;
    std::thread worker([&] {
        ::ShowOnlineState(true);
        first = Ui().AskYesNo("Output file X already exists. Overwrite?");
        second = Ui().AskYesNo("again?");
        Ui().StatusLine("File printed");
        ::ShowOnlineState(false);
        Ui().ShowMessageBox("LU mismatch.\nTry LU 1");
    });
    // The worker's questions are answered by the window thread while it waits.
    QTRY_COMPARE_WITH_TIMEOUT(env.shown.size(), 3, 5000);
    worker.join();
    QVERIFY(first);
    QVERIFY(!second);
    QCoreApplication::processEvents();
    QCOMPARE(env.shown.at(0), QString("Output file X already exists. Overwrite?"));
    QCOMPARE(env.shown.at(2), QString("LU mismatch.\nTry LU 1"));
    QCOMPARE(statuses, (QStringList{"Tarnwick printer client is online.",
                                    "Tarnwick printer client is online.\nFile printed",
                                    "Tarnwick printer client is offline."}));
    QVERIFY(!d.TrayOnline());

    // A status report: message, then the reconnect note unless it is message 47.
    d.ShowStatusMessage(70, "Socket error: Connection reset by peer");
    QCOMPARE(Status(d),
             QString("Socket error: Connection reset by peer\nDelaying before reconnect."));
    d.ShowStatusMessage(47, "Attempting to connect...");
    QCOMPARE(Status(d), QString("Attempting to connect..."));
}

void ClientTest::startupSteps() {
    {
        uitest::Env env;
        // "-d" anywhere turns on the debug log; "name.ext" keeps its settings in name.ini.
        char prog[] = "/opt/kes-d/twprinter.bin", arg[] = "x.txt";
        char* argv[] = {prog, arg};
        platform::SetCommandLine(2, argv);
        PrinterClientApp app;
        QVERIFY(app.InitInstance());
        QCOMPARE(gIniPath, env.ini());
        PrinterClientDialog* w = app.MainWindow();
        QVERIFY(w->isVisible());
        QVERIFY(!w->isMinimized());
        QVERIFY(w->TrayShown());
        QVERIFY(!w->TrayOnline());
        QVERIFY(!B(*w, IDC_STOP)->isEnabled());
        QVERIFY(B(*w, IDC_START)->isEnabled());
        QVERIFY(!w->running());
        // The default file was written before the fields were loaded.
        QCOMPARE(env.Get("SERVERNAME"), std::string("kesservd"));
        QCOMPARE(w->ControlAs<QLineEdit>(IDC_FILENAME)->text(), QString("ROROR"));
        QCOMPARE(gDebug, 1);
        QVERIFY(testutil::ReadFile(env.file("TwPrinter.log")).rfind("Version = 1.5.1", 0) == 0);
        // The session file type, under the user's data home.
        const std::string mime = testutil::ReadFile(env.file("data/mime/packages/twprinter.xml"));
        QVERIFY(mime.find("<glob pattern=\"*.twr\"/>") != std::string::npos);
        QVERIFY(mime.find(kSessionMimeType) != std::string::npos);
        const std::string desk =
            testutil::ReadFile(env.file("data/applications/twprinter.desktop"));
        QVERIFY(desk.find("Exec=" + platform::CurrentDirectory() + "/twprinter.bin %f") !=
                std::string::npos);
        QVERIFY(desk.find(std::string("MimeType=") + kSessionMimeType + ";") != std::string::npos);
        QVERIFY(QFile::exists(
            QString::fromStdString(env.file("data/icons/hicolor/scalable/apps/twprinter.svg"))));
        // The MIME database is refreshed where its tool exists.
        if (!QStandardPaths::findExecutable("update-mime-database").isEmpty())
            QTRY_VERIFY_WITH_TIMEOUT(
                QFile::exists(QString::fromStdString(env.file("data/mime/mime.cache"))), 10000);
        env.answers = {true};
        QSignalSpy exited(w, &PrinterClientDialog::exited);
        w->RequestExit();
        QCOMPARE(exited.count(), 1);
        QVERIFY(!w->TrayShown());
        gDebug = 0;
    }
    {
        // Hidden start: without a notification area the window stays reachable.
        uitest::Env env;
        env.Set("STARTVISIBLE", "0");
        PrinterClientApp app;
        QVERIFY(app.InitInstance());
        if (QSystemTrayIcon::isSystemTrayAvailable())
            QVERIFY(!app.MainWindow()->isVisible());
        else
            QVERIFY(app.MainWindow()->isMinimized());
    }
}

void ClientTest::startupAutostartAndRegistrationFailure() {
    {
        uitest::Env env;
        HostSim host(env.dir(), kOnlineScript);
        QVERIFY(host.port() > 0);
        Configure(env, host.port());
        env.Set("AUTOSTART", "1");
        PrinterClientApp app;
        QVERIFY(app.InitInstance());
        PrinterClientDialog* w = app.MainWindow();
        QVERIFY(w->autoStart());
        QVERIFY(w->running());
        QTRY_VERIFY2_WITH_TIMEOUT(w->TrayOnline(),
                                  qPrintable(Status(*w) + " | " + env.shown.join(" | ")), 10000);
        w->StopClient();
        QTRY_VERIFY_WITH_TIMEOUT(!w->stopping(), 10000);
        QVERIFY(!ClientRunning());
    }
    {
        // A data home that cannot hold the registration: no window at all.
        uitest::Env env;
        testutil::WriteFile(env.file("blocker"), "x");
        qputenv("XDG_DATA_HOME", QByteArray::fromStdString(env.file("blocker")));
        PrinterClientApp app;
        QVERIFY(!app.InitInstance());
        QVERIFY(app.MainWindow() == nullptr);
    }
}

void ClientTest::exitRules() {
    uitest::Env env;
    PrinterClientDialog d;
    d.OnInitDialog();
    QSignalSpy exited(&d, &PrinterClientDialog::exited);
    env.answers = {false};
    QTest::keyClick(&d, Qt::Key_Escape);
    QCOMPARE(env.shown, QStringList{"Are you sure you want to exit?"});
    QCOMPARE(exited.count(), 0);

    QTest::keyClicks(d.ControlAs<QLineEdit>(IDC_HOSTNAME), "edited");
    env.shown.clear();
    env.answers = {true, true};
    d.close();
    QCOMPARE(env.shown, (QStringList{"Are you sure you want to exit?", "Save changes?"}));
    QCOMPARE(exited.count(), 1);
    QCOMPARE(env.Get("HOSTNAME"), std::string("edited"));

    // Without edits nobody asks about saving.
    PrinterClientDialog again;
    again.OnInitDialog();
    QSignalSpy exited2(&again, &PrinterClientDialog::exited);
    env.shown.clear();
    env.answers = {true};
    B(again, IDC_EXIT)->click();
    QCOMPARE(env.shown, QStringList{"Are you sure you want to exit?"});
    QCOMPARE(exited2.count(), 1);
}

void ClientTest::trayHelpAndHide() {
    uitest::Env env;
    PrinterClientDialog d;
    d.OnInitDialog();
    d.UpdateTrayIcon(false, TrayAction::Add);
    QCOMPARE(d.TrayIcon()->toolTip(), QString("Tarnwick printer client is offline."));
    d.show();
    B(d, IDC_HIDE)->click();
    if (QSystemTrayIcon::isSystemTrayAvailable())
        QVERIFY(!d.isVisible());
    else
        QVERIFY(d.isMinimized());
    // A single click does nothing; a double click brings the window back.
    emit d.TrayIcon()->activated(QSystemTrayIcon::Trigger);
    QVERIFY(!d.isVisible() || d.isMinimized());
    emit d.TrayIcon()->activated(QSystemTrayIcon::DoubleClick);
    QVERIFY(d.isVisible());
    QVERIFY(!d.isMinimized());
    d.UpdateTrayIcon(true, TrayAction::Modify);
    QCOMPARE(d.TrayIcon()->toolTip(), QString("Tarnwick printer client is online."));
    d.UpdateTrayIcon(true, TrayAction::Delete);
    QVERIFY(!d.TrayShown());

    // Help: beside the program, else the parent's help folder, else the bare name.
    testutil::TempDir root;
    const QString bin = QString::fromStdString(root.file("bin"));
    QDir().mkpath(bin);
    QCOMPARE(LocateHelpFile(bin), QString(kHelpFile));
    QDir().mkpath(QString::fromStdString(root.file("help")));
    testutil::WriteFile(root.file("help/twprinter.html"), "<html></html>");
    QCOMPARE(LocateHelpFile(bin), QString::fromStdString(root.file("help/twprinter.html")));
    testutil::WriteFile(root.file("bin/twprinter.html"), "<html></html>");
    QCOMPARE(LocateHelpFile(bin), QString::fromStdString(root.file("bin/twprinter.html")));
    d.SetHelpPath(LocateHelpFile(bin));
    B(d, IDC_HELP)->click();
    QCOMPARE(env.helpOpened, QString::fromStdString(root.file("bin/twprinter.html")));
    // The shipped help names every message a user can meet in the window.
    const QString help = QString::fromStdString(testutil::ReadFile(TWPRINTER_HELP));
    for (int n : {1, 2, 3, 4, 6, 7, 11, 12, 47, 48, 49, 50, 51, 52, 57, 59, 60, 95, 96})
        QVERIFY2(help.contains(UiText(n).toHtmlEscaped()), qPrintable(UiText(n)));
}

QTEST_MAIN(ClientTest)
#include "client_test.moc"
