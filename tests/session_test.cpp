// Host sessions end to end: twprinterd against the host simulator on loopback,
// and the receive state machine fed the same stream cut at every position.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "config/options.h"
#include "datastream/datastream.h"
#include "datastream/printbuffer.h"
#include "datastream/screen.h"
#include "session/session.h"
#include "session/telnet.h"
#include "session/transport.h"
#include "testutil.h"

using testutil::Hex;
using testutil::Proc;
using testutil::TempDir;

namespace {

std::string B(const std::string& hex) {
    return testutil::Unhex(hex);
}

// Runs twprinterd through this program and its arguments when set.
std::vector<std::string> launcher;

// One host simulator and one twprinterd in a fresh directory.
struct HostRun {
    TempDir dir;
    std::unique_ptr<Proc> host, daemon;
    std::string port;

    HostRun(const std::string& script, const std::string& ini,
            std::vector<std::string> hostArgs = {}, std::vector<std::string> daemonArgs = {},
            int clients = 1) {
        testutil::WriteFile(dir.file("script"), script);
        std::vector<std::string> args = {
            HOSTSIM_PATH, "--script", dir.file("script"), "--clients",   std::to_string(clients),
            "--timeout",  "5000",     "--transcript",     dir.file("tx")};
        if (std::find(hostArgs.begin(), hostArgs.end(), "--port") == hostArgs.end())
            args.insert(args.end(), {"--port", "0"});
        args.insert(args.end(), hostArgs.begin(), hostArgs.end());
        host = std::make_unique<Proc>(args);
        EXPECT_TRUE(host->WaitFor("PORT ", 5000)) << host->text();
        size_t at = host->text().find("PORT ");
        port = host->text().substr(at + 5, host->text().find('\n', at) - at - 5);
        StartDaemon(ini, daemonArgs);
    }
    // The lines of ini take the place of the base lines with the same key.
    void StartDaemon(const std::string& ini, std::vector<std::string> daemonArgs) {
        std::string text = "[CONFIGURATION]\n";
        const std::vector<std::string> base = {
            "HOSTNAME=127.0.0.1", "SERVERNAME=" + port, "LUTYPE=1",    "FILENAME=JOB",
            "PRINTTOFILE=1",      "CONNECTTIMEOUT=0",   "RETRYDELAY=1"};
        for (const std::string& line : base)
            if (("\n" + ini).find("\n" + line.substr(0, line.find('=') + 1)) == std::string::npos)
                text += line + "\n";
        testutil::WriteFile(dir.file("twprinter.ini"), text + ini);
        daemonArgs.insert(daemonArgs.begin(), TWPRINTERD_PATH);
        daemonArgs.insert(daemonArgs.begin(), launcher.begin(), launcher.end());
        daemon = std::make_unique<Proc>(daemonArgs, dir.path(),
                                        std::vector<std::string>{"TWPRINTER_DIR=" + dir.path()});
    }
    std::string Transcript(int k = 1) {
        return testutil::ReadFile(dir.file("tx." + std::to_string(k)));
    }
    // Contents of the delivered job copies once count of them exist, in job order.
    std::vector<std::string> Jobs(size_t count, int ms = 10000) {
        std::vector<std::string> out;
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        do {
            std::vector<std::pair<int, std::string>> found;
            for (const auto& f : testutil::ListDir(dir.path()))
                if (f.size() > 8 && f.rfind("JOB", 0) == 0 &&
                    f.compare(f.size() - 5, 5, "f.txt") == 0)
                    found.emplace_back(std::atoi(f.c_str() + 3), testutil::ReadFile(dir.file(f)));
            std::sort(found.begin(), found.end());
            out.clear();
            for (auto& p : found)
                out.push_back(p.second);
            if (out.size() >= count) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        } while (std::chrono::steady_clock::now() < end);
        return out;
    }
    bool Contains(int k, const std::string& bytes) {
        return Transcript(k).find(bytes) != std::string::npos;
    }
};

const std::string kTn3270e = "3270E=1\n";

TEST(Session, Tn3270eNegotiationAnnouncesThePrinterWithItsName) {
    const std::string script =
        "negotiate tn3270e\nbind\nscs \"HELLO\" always\nexpect-response\neoj\nhold\n";
    const std::string functions = B("FF FA 28 03 07 00 01 02 03 04 FF F0");
    struct Case {
        std::string ini, request, report;
    } cases[] = {
        {"CONNECTNAME=PRT1\n", B("FF FA 28 02 07") + "IBM-3287-1" + B("01") + "PRT1" + B("FF F0"),
         "DEVICE-TYPE REQUEST IBM-3287-1 CONNECT PRT1"},
        {"ASSOCIATENAME=TERM7\n",
         B("FF FA 28 02 07") + "IBM-3287-1" + B("00") + "TERM7" + B("FF F0"),
         "DEVICE-TYPE REQUEST IBM-3287-1 ASSOCIATE TERM7"},
        {"", B("FF FA 28 02 07") + "IBM-3287-1" + B("FF F0"), "DEVICE-TYPE REQUEST IBM-3287-1\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.report);
        HostRun r(script, kTn3270e + c.ini);
        auto jobs = r.Jobs(1);
        ASSERT_EQ(jobs.size(), 1u) << r.daemon->text();
        EXPECT_NE(jobs[0].find("HELLO"), std::string::npos) << jobs[0];
        EXPECT_TRUE(r.host->WaitFor(c.report)) << r.host->text();
        EXPECT_TRUE(r.Contains(1, B("FF FB 28") + c.request)) << Hex(r.Transcript());
        EXPECT_TRUE(r.Contains(1, functions)) << Hex(r.Transcript());
        EXPECT_EQ(r.daemon->Stop(SIGTERM), 0) << r.daemon->text();
        EXPECT_TRUE(r.host->WaitFor("DONE 1 ok")) << r.host->text();
    }
}

TEST(Session, PlainTn3270WhenTn3270eIsOffAndServerCloseDeliversTheJob) {
    // The server falls back, sends a record without header and closes mid-job;
    // the job is handed on and the client comes back for the next one.
    HostRun r("negotiate tn3270e\nscs \"PLAIN ONE\"\nsleep 200\nclose\nnext\n"
              "negotiate tn3270e\nscs \"PLAIN TWO\"\nsleep 200\nreset\nnext\nhold\n",
              "3270E=0\n", {}, {}, 3);
    EXPECT_TRUE(r.host->WaitFor("FALLBACK tn3270")) << r.host->text();
    EXPECT_TRUE(r.host->WaitFor("TERMINAL-TYPE IBM-LU1")) << r.host->text();
    auto jobs = r.Jobs(2);
    ASSERT_EQ(jobs.size(), 2u) << r.daemon->text();
    EXPECT_NE(jobs[0].find("PLAIN ONE"), std::string::npos);
    EXPECT_NE(jobs[1].find("PLAIN TWO"), std::string::npos);
    EXPECT_TRUE(r.Contains(1, B("FF FC 28"))) << Hex(r.Transcript());
    EXPECT_TRUE(r.Contains(1, B("FF FA 18 00") + "IBM-LU1" + B("FF F0")));
    EXPECT_TRUE(r.host->WaitFor("CONNECTED 3")) << r.host->text();
    EXPECT_TRUE(r.daemon->WaitFor("Connection closed by server")) << r.daemon->text();
    EXPECT_TRUE(r.daemon->WaitFor("Delaying before reconnect.")) << r.daemon->text();
    EXPECT_EQ(r.daemon->Stop(SIGTERM), 0) << r.daemon->text();
}

TEST(Session, DeviceTypeRejectStopsTheNegotiation) {
    // RFC 2355 reason codes; none may be answered with a FUNCTIONS REQUEST.
    for (const char* reason : {"00", "01", "02", "03", "04", "05", "06", "07"}) {
        SCOPED_TRACE(reason);
        HostRun r(std::string("reject ") + reason + "\nquiet 400\nclose\n",
                  kTn3270e + "CONNECTNAME=PRT1\n", {}, {"-d"});
        EXPECT_TRUE(r.host->WaitFor("DONE 1 ok")) << r.host->text();
        EXPECT_TRUE(r.daemon->WaitFor(" UNKNOWN sbbuf2 after TYPE IS")) << r.daemon->text();
        EXPECT_EQ(r.Transcript().find(B("FF FA 28 03")), std::string::npos);
        EXPECT_TRUE(r.daemon->WaitFor("Connection closed by server")) << r.daemon->text();
        EXPECT_TRUE(r.Jobs(0, 0).empty());
        EXPECT_EQ(r.daemon->Stop(SIGTERM), 0);
    }
}

TEST(Session, BindUnbindAndEojEndJobsAndRequestedResponsesCarryTheSequence) {
    HostRun r("negotiate tn3270e\nbind\n"
              "seq 7\nscs \"JOB ONE\" always\nexpect-response\nscs \" MORE\" none\nquiet 300\n"
              "eoj\nseq 255\nscs \"JOB TWO\" always\nexpect-response\nunbind 0102030405060708\n"
              "bind\nseq 65535\nscs \"JOB THREE\" always\nexpect-response\nbind\n"
              "scs \"JOB FOUR\" error\nmsg 06 C1C2\nmsg 07 C3\nexpect-response\neoj\n"
              "scs \"JOB FIVE\" always\nexpect-response\neoj\nhold\n",
              kTn3270e);
    auto jobs = r.Jobs(5);
    ASSERT_EQ(jobs.size(), 5u) << r.daemon->text();
    EXPECT_NE(jobs[0].find("JOB ONE MORE"), std::string::npos) << jobs[0];
    EXPECT_NE(jobs[1].find("JOB TWO"), std::string::npos) << jobs[1];
    EXPECT_NE(jobs[2].find("JOB THREE"), std::string::npos) << jobs[2];
    EXPECT_NE(jobs[3].find("JOB FOUR"), std::string::npos) << jobs[3];
    // The REQUEST and SSCP-LU-DATA bodies are dropped, not printed.
    EXPECT_EQ(jobs[3].find("AB"), std::string::npos) << jobs[3];
    EXPECT_NE(jobs[4].find("JOB FIVE"), std::string::npos) << jobs[4];
    // Responses: exact bytes, FF in the sequence number doubled.
    EXPECT_TRUE(r.Contains(1, B("02 00 00 00 07 FF EF")));
    EXPECT_TRUE(r.Contains(1, B("02 00 00 00 FF FF FF EF")));
    EXPECT_TRUE(r.Contains(1, B("02 00 00 FF FF FF FF FF EF"))) << Hex(r.Transcript());
    EXPECT_EQ(r.daemon->Stop(SIGTERM), 0) << r.daemon->text();
    EXPECT_TRUE(r.host->WaitFor("DONE 1 ok")) << r.host->text();
}

TEST(Session, ExtensionOptionCommands) {
    {
        // Identity by session id, host name, owner, brackets, screen sizes.
        char host[256] = {};
        gethostname(host, sizeof host - 1);
        HostRun r(
            "negotiate tn3270e\next-on\next 23\nexpect FFFA372501FFF0\next 27\nexpect FFFA3727\n"
            "ext 0418500000\next 2F01\next 03 01\nscs \"DROPPED\"\next 03 02\n"
            "ext 2A01\nscs \"IN BRACKET\"\next 2A02\nwait-bytes 1\nsleep 300\n"
            // End of bracket with no job open: the next record is a job of its own.
            "ext 30\next 2A01\next 2A02\nscs \"LAST\"\nwait-bytes 1\n"
            // The next record is taken as structured fields: a length past its end is
            // reported through the option, and the session goes on.
            "ext 31\nscs \"AFTER\"\nexpect FFFA3721000200FFF0\nhold\n",
            kTn3270e + "SESSIONID=b\n");
        auto jobs = r.Jobs(2);
        ASSERT_GE(jobs.size(), 2u) << r.daemon->text() << r.host->text();
        EXPECT_NE(jobs[0].find("IN BRACKET"), std::string::npos) << jobs[0];
        EXPECT_EQ(jobs[0].find("DROPPED"), std::string::npos) << jobs[0];
        EXPECT_EQ(jobs[1], "LAST");
        EXPECT_TRUE(r.Contains(1, B("FF FA 37 27") + host + B("FF F0"))) << Hex(r.Transcript());
        EXPECT_TRUE(r.Contains(1, B("FF FD 37")));
        EXPECT_EQ(r.daemon->Stop(SIGTERM), 0) << r.daemon->text();
        EXPECT_TRUE(r.host->WaitFor("DONE 1 ok")) << r.host->text();
    }
    {
        HostRun r("negotiate tn3270e\next-on\next 23\nexpect FFFA37240CFFF0\nclose\n",
                  kTn3270e + "LUADDRESS=12\n");
        EXPECT_TRUE(r.host->WaitFor("DONE 1 ok")) << r.host->text();
    }
    {
        HostRun r("negotiate tn3270e\next-on\next 23\nexpect FFFA3726FFF0\nclose\n", kTn3270e);
        EXPECT_TRUE(r.host->WaitFor("DONE 1 ok")) << r.host->text();
    }
    {
        // An LU type that is not a printer ends the run with its message.
        HostRun r("negotiate tn3270e\next-on\next 2F02\nhold\n", kTn3270e);
        EXPECT_EQ(r.daemon->Wait(10000), 62) << r.daemon->text();
        EXPECT_NE(r.daemon->text().find("This LU is not a printer!"), std::string::npos);
    }
}

TEST(Session, RetriesUntilTheServerListensAndStopsWhileRetrying) {
    {
        int port = testutil::FreePort();
        HostRun r("negotiate tn3270e\nbind\nscs \"LATE\" always\nexpect-response\neoj\nhold\n",
                  kTn3270e, {"--port", std::to_string(port), "--listen-after", "2500"});
        auto jobs = r.Jobs(1, 15000);
        ASSERT_EQ(jobs.size(), 1u) << r.daemon->text();
        EXPECT_NE(jobs[0].find("LATE"), std::string::npos);
        EXPECT_TRUE(r.daemon->WaitFor("Delaying before reconnect.")) << r.daemon->text();
        EXPECT_EQ(r.daemon->Stop(SIGTERM), 0);
    }
    {
        // Nothing listens: SIGTERM in the retry wait stops at once with 0.
        int port = testutil::FreePort();
        HostRun r("hold\n", kTn3270e, {"--port", std::to_string(port), "--listen-after", "60000"});
        EXPECT_TRUE(r.daemon->WaitFor("Delaying before reconnect.")) << r.daemon->text();
        auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(r.daemon->Stop(SIGTERM), 0) << r.daemon->text();
        EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));
    }
}

TEST(Session, ConnectionLostMidJobDeliversItAndReconnects) {
    HostRun r("negotiate tn3270e\nbind\nscs \"FIRST PART\" always\nexpect-response\nclose\nnext\n"
              "negotiate tn3270e\nbind\nscs \"CUT BY RESET\" always\nexpect-response\nreset\nnext\n"
              "negotiate tn3270e\nbind\nscs \"THIRD\" always\nexpect-response\neoj\nhold\n",
              kTn3270e, {}, {}, 3);
    auto jobs = r.Jobs(3, 15000);
    ASSERT_EQ(jobs.size(), 3u) << r.daemon->text();
    EXPECT_NE(jobs[0].find("FIRST PART"), std::string::npos);
    EXPECT_NE(jobs[1].find("CUT BY RESET"), std::string::npos);
    EXPECT_NE(jobs[2].find("THIRD"), std::string::npos);
    EXPECT_EQ(r.daemon->Stop(SIGTERM), 0) << r.daemon->text();
    EXPECT_TRUE(r.host->WaitFor("DONE 3 ok")) << r.host->text();
}

TEST(Session, PrinterLibraryThatCannotLoadFailsTheJobAndKeepsIt) {
    // A broken libcups found first on the library path: the job fails with the
    // loader's reason instead of crashing, and is kept for a later delivery.
    TempDir libs;
    testutil::WriteFile(libs.file("libcups.so.2"), "not a library");
    setenv("LD_LIBRARY_PATH", libs.path().c_str(), 1);
    HostRun r("negotiate tn3270e\nbind\nscs \"FOR PAPER\" always\nexpect-response\neoj\nhold\n",
              kTn3270e + "PRINTTOFILE=0\nPRINTER=twtest\nKEEPFAILED=1\n");
    unsetenv("LD_LIBRARY_PATH");
    EXPECT_TRUE(r.daemon->WaitFor("on printer twtest: cannot load libcups.so.2"))
        << r.daemon->text();
    EXPECT_TRUE(r.daemon->WaitFor("is kept as ./failed/")) << r.daemon->text();
    auto kept = testutil::ListDir(r.dir.file("failed"));
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_NE(testutil::ReadFile(r.dir.file("failed/" + kept[0])).find("FOR PAPER"),
              std::string::npos);
    EXPECT_EQ(r.daemon->Stop(SIGTERM), 0) << r.daemon->text();
}

TEST(Session, DebugTraceHasDumpFormat) {
    HostRun r("negotiate tn3270e\nbind\nscs \"HELLO\" always\nexpect-response\neoj\nhold\n",
              kTn3270e, {}, {"-d"});
    ASSERT_EQ(r.Jobs(1).size(), 1u) << r.daemon->text();
    EXPECT_EQ(r.daemon->Stop(SIGTERM), 0);
    std::string log = testutil::ReadFile(r.dir.file("kestelnet.log"));
    // The first block is DO TN3270E alone; the answer is WILL TN3270E.
    EXPECT_EQ(log.find("\nRead 3 bytes from server\n0000  FFFD28" + std::string(29, ' ') + "  |"),
              0u)
        << log;
    // Short lines pad the EBCDIC column to 18 characters.
    EXPECT_NE(log.find("|???|" + std::string(13, ' ') + " |--(|\n"), std::string::npos) << log;
    EXPECT_NE(log.find("\nWrote 3 (3) bytes to server\n0000  FFFB28"), std::string::npos);
    // The response to the record: 7 bytes, grouped by four.
    EXPECT_NE(log.find("\nWrote 7 (7) bytes to server\n0000  02000000 01FFEF "), std::string::npos)
        << log;
    // "%04X  %-35.35s  %-18s %s": n bytes give 2n hex digits, |n EBCDIC| padded, |n ASCII|.
    auto dumpLine = [](const std::string& l) {
        if (l.size() < 65 || l.size() > 80 || l.compare(4, 2, "  ") != 0 ||
            l.compare(41, 2, "  ") != 0 || l[43] != '|' || l[61] != ' ' || l[62] != '|' ||
            l.back() != '|')
            return false;
        const size_t n = l.size() - 64;
        size_t digits = 0;
        for (size_t i = 6; i < 41; ++i)
            digits += std::isxdigit(static_cast<unsigned char>(l[i])) != 0;
        if (n < 1 || digits != 2 * n || l[44 + n] != '|') return false;
        for (size_t i = 45 + n; i < 61; ++i)
            if (l[i] != ' ') return false;
        for (size_t i = 63; i + 1 < l.size(); ++i)
            if (l[i] < ' ' || l[i] > '~') return false;
        return true;
    };
    size_t lines = 0, pos = 0;
    while (pos < log.size()) {
        size_t nl = log.find('\n', pos);
        std::string l = log.substr(pos, nl - pos);
        if (l.size() > 4 && std::isxdigit(static_cast<unsigned char>(l[0])) && l[4] == ' ') {
            ++lines;
            EXPECT_TRUE(dumpLine(l)) << l;
        }
        pos = nl == std::string::npos ? log.size() : nl + 1;
    }
    EXPECT_GT(lines, 5u);
}

TEST(Session, EndOfJobTimeOutDeliversAJobTheHostNeverEnds) {
    // No PRINT-EOJ: the silent job is ended after one second, the next one starts fresh.
    HostRun r("negotiate tn3270e\nbind\nscs \"FIRST\" always\nexpect-response\nsleep 2500\n"
              "scs \"SECOND\" always\nexpect-response\nhold\n",
              kTn3270e + "EOJTIMEOUT=1\n");
    auto jobs = r.Jobs(1, 2200);
    ASSERT_EQ(jobs.size(), 1u) << r.daemon->text();
    EXPECT_EQ(jobs[0], "FIRST");
    jobs = r.Jobs(2, 5000);
    ASSERT_EQ(jobs.size(), 2u) << r.daemon->text();
    EXPECT_EQ(jobs[1], "SECOND");
    EXPECT_EQ(r.daemon->Stop(SIGTERM), 0);
    // Off by default: the job stays open for as long as the host is silent.
    HostRun off("negotiate tn3270e\nbind\nscs \"OPEN\" always\nexpect-response\nhold\n", kTn3270e);
    EXPECT_TRUE(off.Jobs(1, 2500).empty());
    EXPECT_EQ(testutil::ReadFile(off.dir.file("JOB0.txt")), "OPEN");
    EXPECT_EQ(off.daemon->Stop(SIGTERM), 0);
}

TEST(Session, SpoolThatCannotTakeTheJobKeepsItAndSaysWhy) {
    // A 2 KB file-size limit stands in for a full spool volume.
    launcher = {"/usr/bin/prlimit", "--fsize=2048"};
    HostRun r("negotiate tn3270e\nbind\nscs \"" + std::string(3000, 'X') +
                  "\" always\nexpect-response\nhold\n",
              kTn3270e);
    launcher.clear();
    EXPECT_EQ(r.daemon->Wait(10000), 94) << r.daemon->text();
    EXPECT_NE(r.daemon->text().find("Print file JOB0.txt could not be written completely (File "
                                    "too large); it is kept and was not printed."),
              std::string::npos)
        << r.daemon->text();
    EXPECT_NE(r.daemon->text().find("Error from system function fputc. File too large"),
              std::string::npos);
    // What the volume took stays on disk.
    const std::string kept = testutil::ReadFile(r.dir.file("JOB0.txt"));
    EXPECT_EQ(kept.size(), 2048u);
    EXPECT_EQ(kept.substr(0, 134), std::string(132, 'X') + "\r\n");
    EXPECT_FALSE(testutil::ReadFile(r.dir.file("JOB0f.txt")).size());
}

// ---- the receive state machine in-process, over a socketpair ----

std::vector<std::string>* gRecords;
void Observe(const uint8_t* data, int32_t length) {
    gRecords->emplace_back(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
}

struct Fed {
    std::vector<std::string> records;
    std::string sent;
};

// Runs the stream through TelProc, written to the socket in the given pieces.
Fed Feed(const std::string& stream, const std::vector<size_t>& cuts) {
    TempDir dir;
    Fed out;
    gRecords = &out.records;
    gDeliverObserver = Observe;
    gUse3270E = 1;
    Lutype = 1;
    gPrintToPort = 0;
    gPrintToFile = 1;
    gOptions = Options{};
    gOptions.fileName = dir.file("J");
    gOptions.connectName = "PRT1";
    Session sp;
    sp.termType = "IBM-LU1";
    sp.altRows = 27;
    sp.altCols = 132;
    sp.altSize = 3564;
    sp.screen = ScreenNew(&sp);
    PrScreenInit(&sp);
    int fds[2];
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    fcntl(fds[1], F_SETFL, O_NONBLOCK);
    EXPECT_EQ(TelAttach(&sp, fds[0], MakeTcpTransport()), 0);
    size_t from = 0;
    std::vector<size_t> ends = cuts;
    ends.push_back(stream.size());
    for (size_t end : ends) {
        EXPECT_EQ(write(fds[1], stream.data() + from, end - from), ssize_t(end - from));
        from = end;
        pollfd p{fds[0], POLLIN, 0};
        while (poll(&p, 1, 0) > 0)
            EXPECT_EQ(TelProc(&sp), 0);
        char buf[4096];
        ssize_t n;
        while ((n = read(fds[1], buf, sizeof buf)) > 0)
            out.sent.append(buf, static_cast<size_t>(n));
    }
    if (sp.fileStarted) PrScreenRemote(&sp);
    TelClose(&sp);
    close(fds[1]);
    gDeliverObserver = nullptr;
    gOptions = Options{};
    return out;
}

TEST(TelProcSplit, RecordsAndAnswersDoNotDependOnHowTheStreamIsCut) {
    const std::string stream =
        B("FF FD 28  FF FA 28 08 02 FF F0") + // DO TN3270E, SEND DEVICE-TYPE
        B("FF FA 28 02 04") + "IBM-3287-1" + B("01") + "PRT1" + B("FF F0") +
        B("FF FA 28 03 04 00 01 02 03 FF F0") +                // FUNCTIONS IS
        B("01 00 02 00 07 C1 C2 FF FF C3 FF EF") +             // SCS, response, data with FF
        B("01 00 02 00 FF FF C4 FF EF") +                      // sequence 00FF
        B("FF F1 01 00 00 00 02 C5 C6 FF EF") +                // NOP, then no response
        B("08 00 00 00 00 FF EF") +                            // PRINT-EOJ
        B("04 00 00 00 00 01 02 03 04 05 FF FF FF EF") +       // long UNBIND with an FF
        B("06 00 00 00 00 AA FF EF 07 00 00 00 00 BB FF EF") + // REQUEST, SSCP-LU-DATA
        B("FF FA 18 01 FF F0") +                               // TERMINAL-TYPE SEND
        B("FF FB 00 FF FD 19") +                               // WILL BINARY, DO EOR
        B("01 00 02 00 08 FF EF") +                            // empty record with response
        B("01 00 00 00 09 C7 FF EF");
    const Fed whole = Feed(stream, {});
    const std::vector<std::string> records = {B("C1 C2 FF C3"), B("C4"), B("C5 C6"), "", B("C7")};
    EXPECT_EQ(whole.records, records);
    const std::string sent = B("FF FB 28  FF FA 28 02 07") + "IBM-3287-1" + B("01") + "PRT1" +
                             B("FF F0  FF FA 28 03 07 00 01 02 03 04 FF F0") +
                             B("02 00 00 00 07 FF EF  02 00 00 00 FF FF FF EF") + B("FF FA 18 00") +
                             "IBM-LU1" + B("FF F0") + B("FF FD 00 FF FB 19  02 00 00 00 08 FF EF");
    EXPECT_EQ(Hex(whole.sent), Hex(sent));
    for (size_t cut = 1; cut < stream.size(); ++cut) {
        Fed f = Feed(stream, {cut});
        EXPECT_EQ(f.records, records) << "cut at " << cut;
        EXPECT_EQ(f.sent, sent) << "cut at " << cut;
    }
    std::vector<size_t> every;
    for (size_t i = 1; i < stream.size(); ++i)
        every.push_back(i);
    Fed bytes = Feed(stream, every);
    EXPECT_EQ(bytes.records, records);
    EXPECT_EQ(bytes.sent, sent);
}

} // namespace
