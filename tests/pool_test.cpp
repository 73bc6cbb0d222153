// Many LUs in one twprinterd (--pool): each against its own host simulator,
// each with its own trouble, none touching the others.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "testutil.h"

namespace {

using testutil::Proc;
using testutil::ReadFile;
using testutil::Texts;
using testutil::WriteFile;

// An LU's host: what the LU sent must read as valid to an independent dissector.
struct Host : testutil::Host {
    Host(const testutil::TempDir& dir, const std::string& name, const std::string& script,
         int clients = 1, int at = 0)
        : testutil::Host(dir, name, script,
                         {"--timeout", "8000", "--clients", std::to_string(clients)}, at) {}
    ~Host() { EXPECT_EQ(Flags(), ""); }
};

using testutil::LuIni;

// The job copies JOB0f.txt, JOB1f.txt... of a spool folder once count exist.
std::vector<std::string> Jobs(const std::string& spool, size_t count, int ms = 15000) {
    return testutil::DeliveredJobs(spool + "/JOB", count, ms);
}

std::string Job(const std::string& text) {
    return "scs \"" + text + "\" always\nexpect-response\neoj\n";
}

// The pool process, started by a shell that leaves its pid for signals.
struct PoolRun {
    std::unique_ptr<Proc> daemon;
    explicit PoolRun(const testutil::TempDir& dir, std::vector<std::string> env = {}) {
        env.push_back("TWPRINTER_DIR=" + dir.path());
        daemon = std::make_unique<Proc>(
            std::vector<std::string>{"/bin/sh", "-c", "echo $$ >pid; exec \"$@\"", "sh",
                                     TWPRINTERD_PATH, "--pool", dir.file("pool")},
            dir.path(), env);
    }
    void Signal(const testutil::TempDir& dir, int sig) {
        testutil::Until([&] { return !ReadFile(dir.file("pid")).empty(); }, 2000);
        ASSERT_EQ(::kill(std::atoi(ReadFile(dir.file("pid")).c_str()), sig), 0);
    }
};

using testutil::NotifySocket;

// Everything in a spool folder, as one text, for looking for other LUs' data.
std::string AllOf(const std::string& spool) {
    std::string all;
    for (const std::string& name : testutil::ListDir(spool))
        all += name + "\n" + ReadFile(spool + "/" + name) + "\n";
    return all;
}

TEST(Pool, ThreeLusEachWithItsOwnTroubleAndNoneTouchingTheOthers) {
    testutil::TempDir dir;
    ASSERT_EQ(::mkdir(dir.file("pool").c_str(), 0755), 0);
    const std::string pool = dir.file("pool");

    // DROP: its host ends the connection in the middle of a job, is gone for a
    // while, and a new one on the same port serves the reconnect.
    Host drop1(dir, "drop1",
               "negotiate tn3270e DROPLU\nbind\n" + Job("DROP ONE") +
                   "scs \"DROP TWO CUT\" always\nexpect-response\nclose\n");
    // REFUSE: its socket printer refuses connections until the test opens it.
    const int printerPort = testutil::FreePort();
    std::optional<testutil::LatePrinter> printer;
    Host refuse(dir, "refuse",
                "negotiate tn3270e REFLU\nbind\n" + Job("REFUSE ONE") + Job("REFUSE TWO") +
                    "sleep 6000\n" + Job("REFUSE THREE") + "hold\n");
    // LATE: the same, but its kept job waits (a long retry delay) until the next job comes.
    const int latePrinterPort = testutil::FreePort();
    std::optional<testutil::LatePrinter> latePrinter;
    Host late(dir, "late",
              "negotiate tn3270e\nbind\n" + Job("LATE ONE") + "sleep 5000\n" + Job("LATE TWO") +
                  "hold\n");
    // NORMAL: prints.
    Host normal(dir, "normal",
                "negotiate tn3270e NORMLU\nbind\n" + Job("NORMAL ONE") + "sleep 300\n" +
                    Job("NORMAL TWO") + "sleep 300\n" + Job("NORMAL THREE") + "hold\n");
    WriteFile(pool + "/DROP.ini", LuIni(drop1.port));
    WriteFile(pool + "/REFUSE.ini", LuIni(refuse.port, "USESOCKET=1\nSOCKETPORT=127.0.0.1:" +
                                                           std::to_string(printerPort) +
                                                           "\nKEEPFAILED=1\nSOCKETTIMEOUT=2\n"));
    WriteFile(pool + "/LATE.ini",
              LuIni(late.port, "RETRYDELAY=60\nUSESOCKET=1\nSOCKETPORT=127.0.0.1:" +
                                   std::to_string(latePrinterPort) + "\nKEEPFAILED=1\n"));
    WriteFile(pool + "/NORMAL.ini", LuIni(normal.port));
    // BAD: settings no session can run with; it waits and harms nobody.
    WriteFile(pool + "/BAD.ini", "[CONFIGURATION]\nHOSTNAME=127.0.0.1\nSERVERNAME=" +
                                     std::to_string(normal.port) + "\nLUTYPE=7\n");
    WriteFile(pool + "/notes.txt", "not an LU");

    PoolRun run(dir);
    auto& d = *run.daemon;
    EXPECT_SAYS(d, "BAD: setting LUTYPE=7");
    EXPECT_SAYS(d, "NORMAL: Tarnwick printer client is online.");
    EXPECT_SAYS(d, "DROP: Tarnwick printer client is online.");

    // The drop: the cut job is delivered as far as it came, the LU reconnects.
    EXPECT_SAYS(*drop1.proc, "DONE 1");
    EXPECT_SAYS(d, "DROP: Connection closed by server Delaying before reconnect.");
    const int dropPort = drop1.port;
    drop1.proc.reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    Host drop2(dir, "drop2", "negotiate tn3270e DROPLU\nbind\n" + Job("DROP THREE") + "hold\n", 1,
               dropPort);

    // The refused printer: both jobs kept in order, then delivered once it listens.
    EXPECT_SAYS(d, "/REFUSE/failed/");
    EXPECT_EQ(testutil::WaitFiles(pool + "/REFUSE/failed", 2, 5000).size(), 2u) << d.text();
    // Its line may come before REFUSE's, so the folder is looked at, not the log.
    EXPECT_EQ(testutil::WaitFiles(pool + "/LATE/failed", 1, 5000).size(), 1u) << d.text();
    latePrinter.emplace(latePrinterPort);
    printer.emplace(printerPort);
    // The kept jobs go out once the printer listens, without waiting for a new job.
    EXPECT_EQ(printer->Jobs(2, 15000), (Texts{"REFUSE ONE", "REFUSE TWO"})) << d.text();
    EXPECT_EQ(printer->Jobs(3, 15000), (Texts{"REFUSE ONE", "REFUSE TWO", "REFUSE THREE"}))
        << d.text();
    EXPECT_TRUE(testutil::ListDir(pool + "/REFUSE/failed").empty());
    // A new job goes out after the kept one, never before it.
    EXPECT_EQ(latePrinter->Jobs(2, 15000), (Texts{"LATE ONE", "LATE TWO"})) << d.text();

    EXPECT_EQ(Jobs(pool + "/DROP", 3), (Texts{"DROP ONE", "DROP TWO CUT", "DROP THREE"}))
        << d.text();
    EXPECT_EQ(Jobs(pool + "/NORMAL", 3), (Texts{"NORMAL ONE", "NORMAL TWO", "NORMAL THREE"}))
        << d.text();

    // One summary line per LU, the counts of each its own (the last count follows the send).
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    run.Signal(dir, SIGUSR1);
    EXPECT_SAYS(d, "NORMAL: state online, LU NORMLU, jobs delivered 3, jobs failed 0");
    EXPECT_SAYS(d, "REFUSE: state online, LU REFLU, jobs delivered 3, jobs failed 2, ");
    EXPECT_SAYS(d, "DROP: state online, LU DROPLU, jobs delivered 3, jobs failed 0");
    EXPECT_SAYS(d, "BAD: state stopped (");
    EXPECT_SAYS(d, "5 LUs: 4 online, 1 offline");
    EXPECT_EQ(d.Stop(SIGTERM), 0) << d.text();

    // No job more than once, nothing of one LU in another's folder.
    const std::vector<std::string> names{"DROP", "REFUSE", "LATE", "NORMAL"};
    for (const std::string& lu : names) {
        const std::string all = AllOf(pool + "/" + lu);
        for (const std::string& other : names)
            if (other != lu) {
                EXPECT_LACKS(all, other + " ") << lu << all;
            }
        EXPECT_FALSE(ReadFile(pool + "/" + lu + "/twprinterd.log").empty()) << lu;
    }
    EXPECT_EQ(::access((pool + "/DROP/JOB3f.txt").c_str(), F_OK), -1);
    EXPECT_EQ(::access((pool + "/NORMAL/JOB3f.txt").c_str(), F_OK), -1);
    EXPECT_EQ(printer->Jobs(3, 15000).size(), 3u);
    // Every status line of the pool names its LU or the pool.
    size_t lines = 0;
    for (size_t at = 0; (at = d.text().find(" twprinterd: ", at)) != std::string::npos; ++lines) {
        at += 13;
        const std::string rest = d.text().substr(at, 7);
        EXPECT_TRUE(rest.rfind("DROP: ", 0) == 0 || rest.rfind("REFUSE:", 0) == 0 ||
                    rest.rfind("NORMAL:", 0) == 0 || rest.rfind("BAD: ", 0) == 0 ||
                    rest.rfind("LATE: ", 0) == 0 || rest.rfind("pool ", 0) == 0 ||
                    rest.rfind("The poo", 0) == 0)
            << rest;
    }
    EXPECT_GT(lines, 10u);
}

TEST(Pool, HangupAddsRemovesAndRestartsLusWhileOthersPrint) {
    testutil::TempDir dir;
    ASSERT_EQ(::mkdir(dir.file("pool").c_str(), 0755), 0);
    const std::string pool = dir.file("pool");
    std::string keepScript = "negotiate tn3270e KEEPLU\nbind\n";
    for (int i = 0; i < 30; ++i)
        keepScript += Job("KEEP " + std::to_string(i)) + "sleep 100\n";
    Host keep(dir, "keep", keepScript + "hold\n");
    // GONE is removed while a job of it is open: the job ends, then the LU stops.
    Host gone(dir, "gone",
              "negotiate tn3270e\nbind\n" + Job("GONE ONE") +
                  "scs \"GONE TWO\" always\nexpect-response\nsleep 3000\n"
                  "scs \" END\" always\nexpect-response\neoj\nhold\n");
    // CHG is changed: it starts again (a second connection) with the new file.
    Host chg(dir, "chg",
             "negotiate tn3270e\nbind\n" + Job("CHG ONE") + "hold\nnext\n" +
                 "negotiate tn3270e\nbind\n" + Job("CHG TWO") + "hold\n",
             2);
    Host added(dir, "added", "negotiate tn3270e\nbind\n" + Job("NEW ONE") + "hold\n");
    WriteFile(pool + "/KEEP.ini", LuIni(keep.port));
    WriteFile(pool + "/GONE.ini", LuIni(gone.port));
    WriteFile(pool + "/CHG.ini", LuIni(chg.port));

    NotifySocket notify(dir.file("notify"));
    PoolRun run(dir, {"NOTIFY_SOCKET=" + dir.file("notify")});
    auto& d = *run.daemon;
    ASSERT_EQ(Jobs(pool + "/KEEP", 3).size(), 3u) << d.text();
    EXPECT_EQ(Jobs(pool + "/GONE", 1), (Texts{"GONE ONE"})) << d.text();
    EXPECT_EQ(Jobs(pool + "/CHG", 1), (Texts{"CHG ONE"})) << d.text();

    ::unlink((pool + "/GONE.ini").c_str());
    WriteFile(pool + "/CHG.ini", LuIni(chg.port, "HEADINGS=0\n"));
    WriteFile(pool + "/NEW.ini", LuIni(added.port));
    run.Signal(dir, SIGHUP);
    EXPECT_SAYS(d, "GONE: Its file is gone");
    EXPECT_SAYS(d, "NEW: Tarnwick printer client is online.");
    EXPECT_EQ(Jobs(pool + "/NEW", 1), (Texts{"NEW ONE"})) << d.text();
    EXPECT_EQ(Jobs(pool + "/CHG", 2), (Texts{"CHG ONE", "CHG TWO"})) << d.text();
    // The job in progress ended before the removed LU stopped.
    EXPECT_SAYS(d, "GONE: The LU stopped.");
    EXPECT_EQ(Jobs(pool + "/GONE", 2), (Texts{"GONE ONE", "GONE TWO END"})) << d.text();
    EXPECT_LT(d.text().find("GONE: Tarnwick printer client is offline."),
              d.text().find("GONE: The LU stopped."));

    // KEEP went on through it all: every job once, in order, one connection.
    const std::vector<std::string> kept = Jobs(pool + "/KEEP", 30);
    ASSERT_EQ(kept.size(), 30u) << d.text();
    for (int i = 0; i < 30; ++i)
        EXPECT_EQ(kept[static_cast<size_t>(i)], "KEEP " + std::to_string(i));
    EXPECT_LACKS(d.text(), "KEEP: Delaying");
    EXPECT_LACKS(keep.proc->text(), "CONNECTED 2");
    EXPECT_SAYS(*chg.proc, "CONNECTED 2");

    run.Signal(dir, SIGUSR1);
    EXPECT_SAYS(d, "3 LUs: 3 online, 0 offline");
    EXPECT_LACKS(d.text(), "GONE: state");
    EXPECT_EQ(d.Stop(SIGTERM), 0) << d.text();
    // The service manager: READY once all started, then the counts as they change.
    const std::vector<std::string> said = notify.Receive();
    ASSERT_GE(said.size(), 4u);
    EXPECT_EQ(said[0].rfind("STATUS=3 LUs: ", 0), 0u) << said[0];
    EXPECT_EQ(said[1], "READY=1");
    EXPECT_NE(std::find(said.begin(), said.end(), "STATUS=3 LUs: 3 online, 0 offline"), said.end());
    // While GONE finishes its job, NEW is already there.
    EXPECT_NE(std::find_if(said.begin(), said.end(),
                           [](const std::string& m) { return m.rfind("STATUS=4 LUs: ", 0) == 0; }),
              said.end());
    EXPECT_EQ(said.back(), "STOPPING=1");
}

// A printer that takes a job and stops reading: the LU's host still gets its
// answers (the next job is received meanwhile), and the other LU prints on.
TEST(Pool, AStalledPrinterHoldsUpNeitherItsHostNorAnotherLu) {
    testutil::TempDir dir;
    ASSERT_EQ(::mkdir(dir.file("pool").c_str(), 0755), 0);
    const std::string pool = dir.file("pool");
    int printerPort = 0;
    const int ls = testutil::ListenLoopback(printerPort, 4096);
    ASSERT_GE(ls, 0);
    WriteFile(dir.file("big"), std::string(2 << 20, '\xC1'));
    std::string script = "negotiate tn3270e\nbind\n";
    for (int i = 0; i < 4; ++i)
        script += "scs @" + dir.file("big") + " always\n";
    Host slow(dir, "slow",
              script + "expect-response\neoj\n" + Job("SLOW TWO") +
                  "print SECOND ANSWERED\nhold\n");
    std::string busy = "negotiate tn3270e\nbind\n";
    for (int i = 0; i < 10; ++i)
        busy += Job("BUSY " + std::to_string(i)) + "sleep 100\n";
    Host other(dir, "other", busy + "hold\n");
    WriteFile(pool + "/SLOW.ini",
              LuIni(slow.port, "USESOCKET=1\nSOCKETTIMEOUT=20\nSOCKETPORT=127.0.0.1:" +
                                   std::to_string(printerPort) + "\n"));
    WriteFile(pool + "/OTHER.ini", LuIni(other.port));
    PoolRun run(dir);
    auto& d = *run.daemon;
    EXPECT_TRUE(slow.proc->WaitFor("SECOND ANSWERED", 10000)) << slow.proc->text() << d.text();
    EXPECT_EQ(Jobs(pool + "/OTHER", 10).size(), 10u) << d.text();
    // All of it while the first job still hangs at the printer.
    d.WaitFor("timed out", 200);
    EXPECT_LACKS(d.text(), "SLOW: Error writing to socket");
    EXPECT_EQ(d.Stop(SIGTERM), 0) << d.text();
    // Stopped mid-delivery: both jobs kept for the next start, none lost.
    EXPECT_EQ(testutil::ListDir(pool + "/SLOW/failed").size(), 2u) << d.text();
    ::close(ls);
}

// LUs drawing PDF pages and submitting to CUPS at the same moment: the print
// libraries are shared by the process, each job stays its LU's own.
TEST(Pool, LusDrawAndPrintThroughTheSharedPrintLibrariesAtOnce) {
    testutil::TempDir dir, cupsRoot;
    testutil::Cupsd cupsd(cupsRoot.path());
    if (!cupsd.Start()) GTEST_SKIP() << "no CUPS scheduler here: " << cupsd.Log();
    ASSERT_EQ(::mkdir(dir.file("pool").c_str(), 0755), 0);
    const std::string pool = dir.file("pool");
    std::vector<std::unique_ptr<Host>> hosts;
    const std::vector<std::string> pdf{"PDFA", "PDFB", "PDFC"}, cups{"CUPSA", "CUPSB"};
    for (const std::string& name : pdf) {
        std::string script = "negotiate tn3270e\nbind\n";
        for (int i = 0; i < 60; ++i)
            script += "scs \"" + name + "L" + std::to_string(i) + "\\n\" always\n";
        hosts.push_back(
            std::make_unique<Host>(dir, name, script + "expect-response\neoj\nhold\n", 1));
        WriteFile(pool + "/" + name + ".ini", LuIni(hosts.back()->port, "FILEFORMAT=pdf\n"));
    }
    for (const std::string& name : cups) {
        hosts.push_back(std::make_unique<Host>(
            dir, name, "negotiate tn3270e\nbind\n" + Job(name + "PAGE") + "hold\n", 1));
        WriteFile(pool + "/" + name + ".ini",
                  LuIni(hosts.back()->port, "PRINTER=twtest\nPRINTTOFILE=0\n"));
    }
    PoolRun run(dir, {"CUPS_SERVER=" + cupsd.server()});
    auto& d = *run.daemon;
    for (const std::string& name : pdf) {
        const std::string file = pool + "/" + name + "/JOB0f.pdf";
        testutil::Until([&] { return ::access(file.c_str(), R_OK) == 0; }, 15000);
        const std::string text = testutil::PdfText(file);
        EXPECT_HAS(text, name + "L0") << name << d.text();
        EXPECT_HAS(text, name + "L59") << name << text;
        for (const std::string& other : pdf) {
            if (other != name) {
                EXPECT_LACKS(text, other) << name << text;
            }
        }
    }
    // Each CUPS LU's job printed by the scheduler.
    for (const std::string& name : cups)
        EXPECT_SAYS(d, name + ": Tarnwick printer client is online.");
    std::string printed;
    for (int id = 1; id <= 2; ++id) {
        const std::string job = cupsd.WaitJob(id);
        ASSERT_FALSE(job.empty()) << d.text() << cupsd.Log();
        printed += testutil::PdfText(job);
    }
    for (const std::string& name : cups)
        EXPECT_HAS(printed, name + "PAGE");
    EXPECT_EQ(d.Stop(SIGTERM), 0) << d.text();
    EXPECT_LACKS(d.text(), "ThreadSanitizer");
}

} // namespace

namespace {

// One process per pool folder: a second one refuses, the lock goes with the first
// whatever ends it. A NAME.ini that is no settings file is named and not started
// until it is fixed.
TEST(Pool, OneProcessPerFolderAndOnlySettingsFilesRun) {
    testutil::TempDir dir;
    const std::string pool = dir.file("pool");
    ASSERT_EQ(::mkdir(pool.c_str(), 0755), 0);
    Host a(dir, "a", "negotiate tn3270e\nhold\n", 2);
    Host fixed(dir, "fixed", "negotiate tn3270e\nbind\n" + Job("FIXED") + "hold\n", 2);
    WriteFile(pool + "/A.ini", LuIni(a.port));
    WriteFile(pool + "/NOTES.ini", "HOSTNAME=127.0.0.1\nSERVERNAME=" + std::to_string(fixed.port));
    WriteFile(pool + "/BIN.ini", std::string("\x7f"
                                             "ELF\x02\x01\x01\0\0\0",
                                             10));

    PoolRun first(dir);
    auto& d = *first.daemon;
    EXPECT_SAYS(d, "A: Tarnwick printer client is online.");
    EXPECT_SAYS(d, "NOTES: pool file " + pool +
                       "/NOTES.ini has no [CONFIGURATION] section; the LU is not started "
                       "until the file is fixed");
    EXPECT_SAYS(d, "BIN: pool file " + pool + "/BIN.ini is not a text file;");
    EXPECT_NE(access((pool + "/NOTES").c_str(), F_OK), 0) << "no spool folder for it";

    Proc second({TWPRINTERD_PATH, "--pool", pool}, dir.path(), {"TWPRINTER_DIR=" + dir.path()});
    EXPECT_EQ(second.Wait(5000), 1) << second.text();
    const std::string pid = std::to_string(std::atoi(ReadFile(dir.file("pid")).c_str()));
    EXPECT_HAS(second.text(), "Pool folder " + pool +
                                  " cannot be used: another twprinterd runs on it (process " + pid +
                                  "); one pool folder takes one process.");
    EXPECT_FALSE(a.proc->WaitFor("CONNECTED 2", 500)) << a.proc->text();

    // Fixed and read again: it starts and prints.
    WriteFile(pool + "/NOTES.ini", LuIni(fixed.port));
    first.Signal(dir, SIGHUP);
    EXPECT_EQ(Jobs(pool + "/NOTES", 1), (Texts{"FIXED"})) << d.text();

    // Killed: the lock goes with it and the next process runs on the folder.
    first.Signal(dir, SIGKILL);
    EXPECT_EQ(d.Wait(5000), -1);
    PoolRun again(dir);
    EXPECT_SAYS(*again.daemon, "A: Tarnwick printer client is online.");
    EXPECT_SAYS(*a.proc, "CONNECTED 2");
    EXPECT_EQ(again.daemon->Stop(SIGTERM), 0) << again.daemon->text();
}

} // namespace

TEST(Pool, LusShareOneArchiveThatOthersReadWhileItIsWritten) {
    testutil::TempDir dir;
    const std::string pool = dir.file("pool");
    ASSERT_EQ(::mkdir(pool.c_str(), 0755), 0);
    std::string many;
    for (int i = 0; i < 12; ++i)
        many += Job("APPLE NUMBER " + std::to_string(i)) + "sleep 100\n";
    Host a(dir, "a", "negotiate tn3270e LUA\nbind\n" + many + "hold\n");
    Host b(dir, "b", "negotiate tn3270e LUB\nbind\n" + Job("BRAVO APPLE") + "hold\n");
    WriteFile(pool + "/A.ini", LuIni(a.port, "ARCHIVEDAYS=1\n"));
    WriteFile(pool + "/B.ini", LuIni(b.port, "ARCHIVEDAYS=1\n"));
    PoolRun run(dir);
    // Two readers at a time while the LUs write: never an error, never a torn row.
    auto find = [&](const std::vector<std::string>& words) {
        std::vector<std::string> argv{TWPRINTERD_PATH, "--archive", "find"};
        argv.insert(argv.end(), words.begin(), words.end());
        argv.insert(argv.end(), {"--pool", pool});
        return std::make_unique<Proc>(argv, dir.path(),
                                      std::vector<std::string>{"TWPRINTER_DIR=" + dir.path()});
    };
    for (int round = 0; round < 8; ++round) {
        auto one = find({"apple"}), two = find({"number", "--lu", "LUA"});
        const int rc1 = one->Wait(20000), rc2 = two->Wait(20000);
        EXPECT_TRUE(rc1 == 0 || rc1 == 1) << one->text();
        EXPECT_TRUE(rc2 == 0 || rc2 == 1) << two->text();
        EXPECT_LACKS(one->text(), "cannot");
        EXPECT_LACKS(two->text(), "cannot");
        EXPECT_LACKS(two->text(), "LUB");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_EQ(Jobs(pool + "/A", 12).size(), 12u) << run.daemon->text();
    ASSERT_EQ(Jobs(pool + "/B", 1).size(), 1u) << run.daemon->text();
    std::string all;
    for (int i = 0; i < 100; ++i) {
        auto last = find({"apple"});
        last->Wait(20000);
        all = last->text();
        if (std::count(all.begin(), all.end(), '\n') == 26) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_HAS(all, "LU LUB  " + pool + "/B/JOB0.txt");
    EXPECT_HAS(all, "    APPLE NUMBER 11\n");
    EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 26) << all;
    auto lua = find({"apple", "--lu", "lub"});
    EXPECT_EQ(lua->Wait(20000), 0);
    EXPECT_EQ(std::count(lua->text().begin(), lua->text().end(), '\n'), 2) << lua->text();
    EXPECT_EQ(run.daemon->Stop(SIGTERM), 0) << run.daemon->text();
    // Two days on, the pool's start expires the jobs of both LUs, in one line.
    PoolRun later(dir, {"TWPRINTER_ARCHIVE_NOW=" + std::to_string(time(nullptr) + 2 * 86400L)});
    EXPECT_SAYS(*later.daemon, "13 jobs older than 1 days removed.");
    EXPECT_EQ(later.daemon->Stop(SIGTERM), 0) << later.daemon->text();
    const std::string text = later.daemon->text();
    EXPECT_EQ(text.find("removed"), text.rfind("removed")) << text;
}
