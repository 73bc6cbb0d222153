// Start and Stop of the session from the window against the host simulator,
// the session's reports and the start-up steps.
#include <QScrollArea>
#include <QScrollBar>
#include <QSystemTrayIcon>
#include <QTreeWidget>

#include <thread>

#include "app.h"
#include "config/ini.h"
#include "config/report.h"
#include "job_list.h"
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
            B(d, control::kStart)->click();
            QCOMPARE(Enabled(d, {control::kStart, control::kStop}), QString("01"));
            QTRY_COMPARE_WITH_TIMEOUT(Status(d), kOnline, 10000);
            QVERIFY(d.running() && d.TrayOnline());
            env.answers = {false};
            d.RequestExit(); // one question while the session runs; No keeps it running
            QCOMPARE(env.shown.last(), QString("Stop the printer client and exit?"));
            QVERIFY(d.running());
            B(d, control::kStop)->click();
            QTRY_VERIFY_WITH_TIMEOUT(!d.stopping(), 10000);
            QVERIFY(Status(d) == kOffline && !d.running() && !d.SessionRunning() &&
                    !d.TrayOnline());
            QCOMPARE(Enabled(d, {control::kStart, control::kStop}), QString("10"));
        }
        // A stop request ends the run without a message box.
        QTest::qWait(300);
        QVERIFY2(env.shown.size() == 2, qPrintable(env.shown.join(" | ")));
        QCOMPARE(d.StartedSettings().service, std::to_string(host.port)); // the INI file's

        // Exit while running: the one question stops the session, then the changes are
        // offered for saving, and the window goes.
        B(d, control::kStart)->click();
        QTRY_COMPARE_WITH_TIMEOUT(Status(d), kOnline, 10000);
        Type(d, {control::kHostname}, "localhost");
        QSignalSpy exited(&d, &Dialog::exited);
        env.answers = {true, true};
        const int before = env.shown.size();
        d.RequestExit();
        QTRY_COMPARE_WITH_TIMEOUT(exited.size(), 1, 10000);
        QCOMPARE(env.shown.mid(before), QStringList({"Stop the printer client and exit?",
                                                     UiText(config::MSG_SAVE_CHANGES)}));
        QVERIFY(!d.SessionRunning() && !d.isVisible());
        QCOMPARE(env.Get("HOSTNAME"), QString("localhost"));
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
                // The final box carries the last reason: host, port and the system's words.
                QTRY_VERIFY_WITH_TIMEOUT(!env.shown.isEmpty(), 9000);
                QCOMPARE(env.shown.last(),
                         QString("Unable to connect to server\nUnable to connect: 127.0.0.1 "
                                 "port %1: Connection refused")
                             .arg(QString::fromStdString(env.Get("SERVERNAME").toStdString())));
                QCOMPARE(env.kinds.last(), MessageKind::Critical);
                QTRY_COMPARE_WITH_TIMEOUT(Status(d), kOffline, 5000);
                QVERIFY(!d.running() && !d.SessionRunning() && B(d, control::kStart)->isEnabled());
                continue;
            }
            // Stop cuts the pause short; Exit meanwhile asks its one question.
            QElapsedTimer t;
            t.start();
            d.StopClient();
            env.answers = {false};
            d.RequestExit();
            QCOMPARE(env.shown.last(), QString("Stop the printer client and exit?"));
            QTRY_VERIFY_WITH_TIMEOUT(!d.stopping(), 5000);
            QVERIFY(t.elapsed() < 4000 && Status(d) == kOffline);
            QTest::qWait(200);
            QCOMPARE(env.shown.size(), 1);
        }
    }

    // A network printer that refuses: both jobs fail and are kept, each a row of the job
    // list that says why and where; the long report stays inside the status box at
    // 1280x800. The printer comes back: the same rows say where the jobs went. Stop keeps
    // the list; "Open folder" opens the selected job's folder.
    void jobListKeepsWhatHappenedAndTheStatusStaysInItsBox() {
        Env env;
        const int printer = testutil::FreePort();
        HostSim host(env, "negotiate tn3270e\nbind\nscs \"ONE\" always\nexpect-response\neoj\n"
                          "scs \"TWO\" always\nexpect-response\neoj\nhold\n");
        Configure(env, host.port);
        env.Set(QString("3270E=1 PRINTTOFILE=0 USESOCKET=1 SOCKETPORT=127.0.0.1:%1 KEEPFAILED=1")
                    .arg(printer));
        Window d;
        d.resize(1280, 800);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        auto* area = d.findChild<QScrollArea*>();
        auto* status = d.ControlAs<QPlainTextEdit>(control::kStatusText);
        const int statusHeight = status->height();
        auto* list = d.ControlAs<QTreeWidget>(control::kJobList);
        QVERIFY(list && !B(d, control::kOpenFolder)->isEnabled());
        B(d, control::kStart)->click();
        const QString where = QString("network printer 127.0.0.1:%1").arg(printer);
        auto row = [&](int i) {
            QTreeWidgetItem* item = list->topLevelItem(i);
            return item ? QStringList{item->text(JobList::Job), item->text(JobList::Pages),
                                      item->text(JobList::Outcome), item->text(JobList::Kept)}
                        : QStringList{};
        };
        QTRY_VERIFY2_WITH_TIMEOUT(
            list->topLevelItemCount() == 2 && !row(1)[3].isEmpty(),
            qPrintable(row(0).join('|') + " / " + row(1).join('|') + " / " + Status(d)), 10000);
        for (int i : {0, 1}) {
            const QStringList r = row(i);
            QCOMPARE(r[0], QString("JOB%1.txt").arg(i));
            QCOMPARE(r[1], QString("1"));
            QVERIFY2(r[2].startsWith("failed on " + where + ": "), qPrintable(r[2]));
            QVERIFY2(r[3].startsWith(QString::fromStdString(env.file("failed/"))) &&
                         r[3].endsWith(QString("-JOB%1.txt").arg(i)),
                     qPrintable(r[3]));
        }
        list->setCurrentItem(list->topLevelItem(0));
        B(d, control::kOpenFolder)->click();
        QCOMPARE(env.foldersOpened, QStringList{QString::fromStdString(env.file("failed"))});

        // A failure of three long lines: wrapped and scrolled in its box, the buttons in view.
        const QString reason = "Unable to connect: " + QString(40, 'h') + ".example.com port " +
                               "23: Connection timed out; the last address tried was " +
                               QString(60, 'x') + "; " + QString::fromStdString(env.file("JOB"));
        d.ShowStatusMessage(6, reason + "\n" + reason + "\n" + reason);
        QApplication::processEvents();
        QCOMPARE(status->height(), statusHeight);
        QVERIFY(status->toPlainText().startsWith(reason + "\n" + reason + "\n" + reason));
        QVERIFY(status->verticalScrollBar()->maximum() > 0);
        QCOMPARE(area->verticalScrollBar()->maximum(), 0);
        for (int id : {control::kStart, control::kStop, control::kHide, control::kPrintersetup,
                       control::kAdvanced, control::kSave, control::kUndo, control::kExit,
                       control::kHelp, control::kOpenFolder}) {
            QPushButton* b = B(d, id);
            const QRect shown(b->mapTo(area->viewport(), QPoint(0, 0)), b->size());
            QVERIFY2(area->viewport()->rect().contains(shown), qPrintable(b->text()));
        }

        // Stop keeps the list. The printer comes back (each connection one job) and the
        // next Start delivers the kept jobs: their own rows say where they went.
        B(d, control::kStop)->click();
        QTRY_VERIFY_WITH_TIMEOUT(!d.stopping(), 10000);
        QCOMPARE(list->topLevelItemCount(), 2);
        testutil::LatePrinter back(printer);
        QVERIFY(back.ok());
        B(d, control::kStart)->click();
        QTRY_VERIFY_WITH_TIMEOUT(row(1)[2].startsWith("delivered"), 15000);
        B(d, control::kStop)->click();
        QTRY_VERIFY_WITH_TIMEOUT(!d.stopping(), 10000);
        QStringList printed;
        for (const std::string& job : back.Stop())
            printed << QString::fromStdString(job);
        QCOMPARE(printed.mid(0, 2), QStringList({"ONE", "TWO"}));
        for (int i : {0, 1}) {
            QCOMPARE(row(i)[2], "delivered to " + where + ", after it was kept");
            QCOMPARE(row(i)[3], QString());
        }
        // Rows of the new run's jobs come after them, none lost.
        QCOMPARE(list->topLevelItemCount(), printed.size());
        list->setCurrentItem(list->topLevelItem(1));
        B(d, control::kOpenFolder)->click();
        QCOMPARE(env.foldersOpened.last(), QString::fromStdString(env.file("")).chopped(1));
        QCOMPARE(d.Jobs()->title(), QString("Jobs (%1)").arg(printed.size()));
    }

    void reportsCrossThreads() {
        Env env;
        Window d;
        env.answers = {true, false};
        bool first = false, second = true;
        config::Reporter& r = d.Report();
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
        QVERIFY(app.InitInstance() && config::gIniPath == env.ini());
        Dialog* w = app.Window();
        QVERIFY(w->isVisible() && w->TrayShown() && w->autoStart() && w->running());
        QTRY_VERIFY_WITH_TIMEOUT(w->TrayOnline(), 10000);
        QVERIFY(testutil::ReadFile(env.file("TwPrinter.log")).rfind("Version = 1.5.1", 0) == 0);
        w->StopClient();
        QTRY_VERIFY_WITH_TIMEOUT(!w->stopping(), 10000);
        // The shipped help names every message a user can meet in the window.
        const QString help = QString::fromStdString(testutil::ReadFile(TWPRINTER_HELP));
        for (int n : {1, 4, 6, 7, 11, 12, 47, 48, 49, 50, 51, 52, 57, 59, 60, 95, 96, 120, 121})
            QVERIFY2(help.contains(UiText(n).toHtmlEscaped()), qPrintable(UiText(n)));
        QVERIFY(help.contains("Stop the printer client and exit?"));
    }
};

QTEST_MAIN(ClientTest)
#include "client_test.moc"
