// Delivery of finished jobs: a private CUPS scheduler, PDF files, a pseudo
// terminal, FIFOs and /dev/full as ports, loopback listeners and print commands.
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cups/cups.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "config/ini.h"
#include "config/messages.h"
#include "config/options.h"
#include "config/report.h"
#include "output/port.h"
#include "output/printfile.h"
#include "testutil.h"

using testutil::ReadFile;
using testutil::TempDir;
using testutil::WriteFile;

// The copy branch belongs to the data-stream module; a stand-in keeps this test
// linkable on its own and yields to the real one when that is linked.
__attribute__((weak)) int CopyToOutputFile(const std::string&) {
    return 1;
}

// Fontconfig keeps its font cache for the life of the process.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\n";
}

namespace {

struct Recorder : UiReport {
    std::vector<std::string> lines;
    void ShowOnlineState(bool) override {}
    void ShowStatusMessage(int, const std::string& t) override { lines.push_back(t); }
    void ShowMessageBox(const std::string& t) override { lines.push_back(t); }
    bool AskYesNo(const std::string& q) override {
        lines.push_back(q);
        return answer;
    }
    void StatusLine(const std::string& t) override { lines.push_back(t); }
    std::string All() const {
        std::string s;
        for (auto& l : lines)
            s += l + "\n";
        return s;
    }
    bool answer = true;
};

std::string Run(const std::string& cmd) {
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    pclose(p);
    return out;
}

int PdfPages(const std::string& pdf) {
    std::string info = Run("pdfinfo '" + pdf + "' 2>&1");
    size_t at = info.find("Pages:");
    return at == std::string::npos ? -1 : std::atoi(info.c_str() + at + 6);
}

std::string PdfText(const std::string& pdf) {
    return Run("pdftotext -layout '" + pdf + "' - 2>&1");
}

std::string Lines(int count, const std::string& stem = "line") {
    std::string s;
    for (int i = 1; i <= count; ++i)
        s += stem + " " + std::to_string(i) + "\n";
    return s;
}

class OutputTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("TWPRINTER_DIR", dir.path().c_str(), 1);
        SetIniPathFromProgram("twprinter");
        SetUiReport(&ui);
        Medium();
        gHeadings = 1;
        gKeepFailed = 0;
        gFileFormat.clear();
        gOptions.printerCmds = "lpr";
        gOptions.printerOptions = "";
    }
    void TearDown() override {
        PortClose();
        SetUiReport(nullptr);
        unsetenv("TWPRINTER_DIR");
    }
    static void Medium(int port = 0, int file = 0, int socket = 0, int command = 0) {
        gPrintToPort = port;
        gPrintToFile = file;
        gUseSocket = socket;
        gUseCommand = command;
    }
    std::string Job(const std::string& name, const std::string& content) {
        std::string path = dir.file(name);
        WriteFile(path, content);
        gHeadingText = path;
        return path;
    }
    TempDir dir;
    Recorder ui;
};

TEST_F(OutputTest, ReaderSplitsCleansAndCountsLikeThePrintedPage) {
    std::string longLine(600, 'x');
    std::string path = Job("r.txt", "a\tb\x08"
                                    "c\x0b"
                                    "d\x0c"
                                    "e\rf\n" +
                                        longLine + "\n\nend");
    EXPECT_EQ(GetTotalLines(path, 1000), 6); // 600 = 258 + 258 + 84, the empty line, "end"
    EXPECT_EQ(GetTotalLines(path, 100), 1 + 7 + 1 + 1);
    EXPECT_EQ(GetTotalLines(dir.file("missing"), 80), 0);
    FILE* f = fopen(path.c_str(), "rb");
    char buf[260];
    ASSERT_EQ(GetLineToPrint(f, 80, buf), 1);
    EXPECT_STREQ(buf, "a b c d e f");
    ASSERT_EQ(GetLineToPrint(f, 80, buf), 1);
    EXPECT_EQ(std::string(buf), std::string(79, 'x'));
    int pieces = 1;
    while (GetLineToPrint(f, 80, buf) && std::string(buf) != "")
        ++pieces;
    EXPECT_EQ(pieces, 8); // 600 = 7 * 79 + 47
    ASSERT_EQ(GetLineToPrint(f, 80, buf), 1);
    EXPECT_STREQ(buf, "end");
    EXPECT_EQ(GetLineToPrint(f, 80, buf), 0);
    fclose(f);

    char name[81];
    ASSERT_EQ(GetDefaultPrinter(name, sizeof name), 1);
    EXPECT_STREQ(name, "NO DEAFULT PRINTER");
    IniSet("PRINTER", "");
    EXPECT_EQ(GetDefaultPrinter(name, sizeof name), 0);
    IniSet("PRINTER", "Office");
    ASSERT_EQ(GetDefaultPrinter(name, sizeof name), 1);
    EXPECT_STREQ(name, "Office");

    // Page geometry: A4 with quarter-inch margins, and a page too short for headings.
    PageLayout a4 = ComputeLayout(21000, 29700, 635, 635, 635, 635);
    EXPECT_GT(a4.chars, 80);
    EXPECT_GT(a4.lines, 60);
    EXPECT_EQ(a4.chars, a4.hres / a4.avgCharWidth);
    EXPECT_EQ(a4.lines, a4.vres / a4.lineHeight);
    PageLayout strip = ComputeLayout(21000, 3 * 2540 * a4.lineHeight / 300 + 200, 0, 100, 0, 100);
    EXPECT_LE(strip.lines, 3);
    std::string pdf;
    EXPECT_EQ(RenderPdf(path, strip, 3, "t", pdf), 0);
    EXPECT_EQ(RenderPdf(path, strip, 0, "t", pdf), 1);

    // A page of exactly 60 lines holds 57 body lines under the headings.
    int px = 60 * a4.lineHeight + a4.lineHeight / 2;
    PageLayout sixty = ComputeLayout(21000, (px * 2540 + 299) / 300, 0, 0, 0, 0);
    ASSERT_EQ(sixty.lines, 60);
    for (int lines : {114, 115}) {
        std::string job = Job("sixty.txt", Lines(lines));
        ASSERT_EQ(RenderPdf(job, sixty, 3, "sixty.txt", pdf), 1);
        std::string file = dir.file("sixty.pdf");
        WriteFile(file, pdf);
        EXPECT_EQ(PdfPages(file), lines == 114 ? 2 : 3);
        std::string text = PdfText(file);
        EXPECT_NE(text.find(lines == 114 ? "Page 2 of 2" : "Page 3 of 3"), std::string::npos);
        EXPECT_NE(text.find("line 57\n"), std::string::npos);
        EXPECT_LT(text.find("line 57\n"), text.find("Page 2 of"));
        EXPECT_GT(text.find("line 58\n"), text.find("Page 2 of"));
    }
}

TEST_F(OutputTest, PrintsThroughCupsWithHeadingsPageCountsAndFaults) {
    TempDir cupsRoot;
    testutil::Cupsd cupsd(cupsRoot.path());
    ASSERT_TRUE(cupsd.Start()) << cupsd.Log();
    cupsSetServer(cupsd.server().c_str());
    PageLayout m;
    ASSERT_TRUE(GetPrinterLayout("twtest", m));
    ASSERT_GT(m.lines, 10);
    const int body = m.lines - 3;

    // Missing PRINTER key: the default name is no destination.
    std::string job = Job("JOB1.txt", Lines(5));
    EXPECT_EQ(PrintFile(job), 0);
    EXPECT_NE(ui.All().find("NO DEAFULT PRINTER"), std::string::npos) << ui.All();
    IniSet("PRINTER", "nosuchqueue");
    EXPECT_EQ(PrintFile(job), 0);
    EXPECT_NE(ui.All().find("nosuchqueue"), std::string::npos);
    IniSet("PRINTER", "twtest");

    int id = 0;
    // Two full pages of body lines, then one more line for a third page.
    job = Job("JOB2.txt", Lines(2 * body, "body"));
    ASSERT_EQ(PrintFile(job), 1) << ui.All();
    std::string pdf = cupsd.WaitJob(++id);
    ASSERT_FALSE(pdf.empty()) << cupsd.Log();
    EXPECT_EQ(PdfPages(pdf), 2);
    std::string text = PdfText(pdf);
    EXPECT_NE(text.find("Page 1 of 2"), std::string::npos) << text;
    EXPECT_NE(text.find("Page 2 of 2"), std::string::npos);
    EXPECT_NE(text.find("JOB2.txt"), std::string::npos);
    EXPECT_NE(text.find("body " + std::to_string(body) + "\n"), std::string::npos);
    EXPECT_NE(text.find("body " + std::to_string(2 * body) + "\n"), std::string::npos);

    job = Job("JOB3.txt", Lines(2 * body + 1));
    ASSERT_EQ(PrintFile(job), 1);
    pdf = cupsd.WaitJob(++id);
    EXPECT_EQ(PdfPages(pdf), 3);
    EXPECT_NE(PdfText(pdf).find("Page 3 of 3"), std::string::npos);

    // Headings off: a page holds L lines; Latin-1 shows as the characters; long lines wrap.
    gHeadings = 0;
    std::string wide(m.chars + 10, 'w');
    job = Job("JOB4.txt", Lines(m.lines - 2) + "caf\xe9 \xa7 na\xefve\n" + wide + "\n");
    ASSERT_EQ(PrintFile(job), 1);
    pdf = cupsd.WaitJob(++id);
    EXPECT_EQ(PdfPages(pdf), 2);
    text = PdfText(pdf);
    EXPECT_EQ(text.find("Page 1"), std::string::npos);
    EXPECT_NE(text.find("caf\xc3\xa9 \xc2\xa7 na\xc3\xafve"), std::string::npos) << text;
    EXPECT_NE(text.find(std::string(m.chars - 1, 'w') + "\n"), std::string::npos);
    EXPECT_NE(text.find("\f" + std::string(11, 'w') + "\n"), std::string::npos) << text;
    gHeadings = 1;

    // A long heading keeps the file's own name.
    std::string deep = dir.path() + "/" + std::string(90, 'd');
    mkdir(deep.c_str(), 0755);
    job = deep + "/JOB5.txt";
    WriteFile(job, Lines(3));
    gHeadingText = job;
    ASSERT_EQ(PrintFile(job), 1);
    text = PdfText(cupsd.WaitJob(++id));
    size_t at = text.find("d/JOB5.txt");
    ASSERT_NE(at, std::string::npos) << text;
    size_t from = text.rfind("...", at);
    ASSERT_NE(from, std::string::npos);
    EXPECT_EQ(at + 10 - from, 83u);
    EXPECT_EQ(text.find(dir.path()), std::string::npos);

    // An empty job prints nothing.
    EXPECT_EQ(PrintFile(Job("JOB6.txt", "")), 0);

    // The scheduler goes away: the job fails with a status line and is kept,
    // then goes out when the scheduler is back.
    cupsd.Stop();
    gKeepFailed = 1;
    ui.lines.clear();
    job = Job("JOB7.txt", Lines(4, "kept"));
    EXPECT_EQ(PrintFile(job), 0);
    EXPECT_NE(ui.All().find("twtest"), std::string::npos) << ui.All();
    EXPECT_NE(ui.All().find(dir.path() + "/failed/"), std::string::npos);
    EXPECT_EQ(access(job.c_str(), F_OK), -1);
    ASSERT_EQ(testutil::ListDir(dir.path() + "/failed").size(), 1u);
    ASSERT_TRUE(cupsd.Start());
    RedeliverFailedJobs();
    EXPECT_TRUE(testutil::ListDir(dir.path() + "/failed").empty());
    text = PdfText(cupsd.WaitJob(++id));
    EXPECT_NE(text.find("kept 4"), std::string::npos);
    EXPECT_NE(text.find("JOB7.txt"), std::string::npos);
    unsetenv("CUPS_SERVER");
}

TEST_F(OutputTest, PdfFileBesideThePrintFile) {
    Medium(0, 1);
    gFileFormat = "pdf";
    PageLayout m = DefaultLayout();
    std::string job = Job("JOB1.txt", Lines(2 * (m.lines - 3) + 1));
    ASSERT_EQ(PrintFile(job), 1) << ui.All();
    std::string pdf = dir.file("JOB1f.pdf");
    EXPECT_EQ(PdfPages(pdf), 3);
    EXPECT_NE(PdfText(pdf).find("Page 2 of 3"), std::string::npos);
    // Present already: the user is asked, and No keeps the old file.
    WriteFile(job, Lines(1));
    ui.answer = false;
    ASSERT_EQ(PrintFile(job), 1);
    EXPECT_NE(ui.All().find("Output file " + pdf + " already exists. Overwrite?"),
              std::string::npos);
    EXPECT_EQ(PdfPages(pdf), 3);
    ui.answer = true;
    ASSERT_EQ(PrintFile(job), 1);
    EXPECT_EQ(PdfPages(pdf), 1);
    EXPECT_EQ(PrintFile("NUL"), 1);
    // With the port switch on, nothing is done at all.
    Medium(1, 1);
    unlink(pdf.c_str());
    EXPECT_EQ(PrintFile(job), 1);
    EXPECT_EQ(access(pdf.c_str(), F_OK), -1);
}

TEST_F(OutputTest, PortChannelDevicesAndFailures) {
    EXPECT_EQ(PortDevicePath("LPT1"), "/dev/lp0");
    EXPECT_EQ(PortDevicePath("lpt3"), "/dev/lp2");
    EXPECT_EQ(PortDevicePath("COM2"), "/dev/ttyS1");
    EXPECT_EQ(PortDevicePath("nul"), "/dev/null");
    EXPECT_EQ(PortDevicePath("NUL"), "/dev/null");
    EXPECT_EQ(PortDevicePath("/dev/usb/lp0"), "/dev/usb/lp0");
    EXPECT_EQ(PortDevicePath("LPT"), "LPT");
    EXPECT_EQ(PortDevicePath("COM0"), "COM0");

    // A FIFO: two jobs through one open handle, bytes in order.
    std::string fifo = dir.file("port");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    gPortName = fifo;
    const uint8_t one[] = {'A', 0x0C, 0xE9, '\n'};
    ASSERT_EQ(PortWrite(one, sizeof one), 0);
    int handle = gPortHandle;
    EXPECT_NE(handle, 0);
    ASSERT_EQ(PortWrite(reinterpret_cast<const uint8_t*>("job2"), 4), 0);
    EXPECT_EQ(gPortHandle, handle);
    char got[16] = {};
    EXPECT_EQ(read(reader, got, sizeof got), 8);
    EXPECT_EQ(std::string(got, 8), std::string("A\x0c\xe9\njob2"));
    close(reader);
    PortClose();

    // A pseudo-terminal in raw mode.
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    grantpt(master);
    unlockpt(master);
    termios t{};
    tcgetattr(master, &t);
    cfmakeraw(&t);
    tcsetattr(master, TCSANOW, &t);
    gPortName = ptsname(master);
    ASSERT_EQ(PortWrite(reinterpret_cast<const uint8_t*>("tty\n"), 4), 0);
    char tty[8] = {};
    EXPECT_EQ(read(master, tty, sizeof tty), 4);
    EXPECT_EQ(std::string(tty, 4), "tty\n");
    PortClose();
    close(master);

    // Missing device: 72 with the system's text, no file left behind.
    gPortName = dir.file("nosuchport");
    EXPECT_EQ(PortWrite(one, 1), MSG_PORT_OPEN);
    EXPECT_EQ(gPortHandle, 0);
    EXPECT_EQ(TakeMessageText(MSG_PORT_OPEN),
              "Unable to open LPT/COM port: No such file or directory");
    EXPECT_EQ(access(gPortName.c_str(), F_OK), -1);

    // A device that refuses the bytes: 73, closed, and reopened by the next write.
    gPortName = "/dev/full";
    EXPECT_EQ(PortWrite(one, 1), MSG_PORT_WRITE);
    EXPECT_EQ(gPortHandle, 0);
    EXPECT_EQ(TakeMessageText(MSG_PORT_WRITE),
              "Unable to write to LPT/COM port: No space left on device");
    gPortName = "NUL";
    EXPECT_EQ(PortWrite(one, sizeof one), 0);
    EXPECT_NE(gPortHandle, 0);
}

// A loopback printer that records each connection's bytes.
class Listener {
  public:
    explicit Listener(bool readData = true) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        int small = 4096;
        if (!readData) setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
        listen(fd_, 4);
        thread_ = std::thread([this, readData] {
            for (;;) {
                int c = accept(fd_, nullptr, nullptr);
                if (c < 0) return;
                if (!readData) {
                    held_.push_back(c);
                    continue;
                }
                std::string job;
                char buf[65536];
                ssize_t n;
                while ((n = read(c, buf, sizeof buf)) > 0)
                    job.append(buf, n);
                close(c);
                jobs.push_back(job);
                count++;
            }
        });
    }
    ~Listener() {
        shutdown(fd_, SHUT_RDWR);
        close(fd_);
        thread_.join();
        for (int c : held_)
            close(c);
    }
    bool Wait(int n) {
        for (int i = 0; i < 100 && count < n; ++i)
            usleep(50000);
        return count >= n;
    }
    int port = 0;
    std::vector<std::string> jobs;
    std::atomic<int> count{0};

  private:
    int fd_;
    std::thread thread_;
    std::vector<int> held_;
};

TEST_F(OutputTest, SocketMediumSendsEachJobAndReportsRefusalAndStall) {
    Medium(0, 0, 1);
    {
        Listener printer;
        gSocketPort = std::to_string(printer.port);
        std::string first = std::string("first\f\x00\xff", 8);
        ASSERT_EQ(PrintFile(Job("JOB1.txt", first)), 1) << ui.All();
        gSocketPort = "127.0.0.1:" + std::to_string(printer.port);
        ASSERT_EQ(PrintFile(Job("JOB2.txt", "second\n")), 1);
        ASSERT_TRUE(printer.Wait(2));
        EXPECT_EQ(printer.jobs[0], first);
        EXPECT_EQ(printer.jobs[1], "second\n");
    }
    // Nobody listens: 76 with the system's text; the job is kept when asked to.
    gSocketPort = "127.0.0.1:" + std::to_string(testutil::FreePort());
    gKeepFailed = 1;
    std::string job = Job("JOB3.txt", "third\n");
    EXPECT_EQ(PrintFile(job), 0);
    EXPECT_NE(ui.All().find("Error writing to socket: Connection refused"), std::string::npos)
        << ui.All();
    EXPECT_EQ(testutil::ListDir(dir.path() + "/failed").size(), 1u);
    // A printer that comes back takes the kept job first, then the new one.
    {
        Listener printer;
        gSocketPort = "localhost:" + std::to_string(printer.port);
        ASSERT_EQ(PrintFile(Job("JOB4.txt", "fourth\n")), 1);
        ASSERT_TRUE(printer.Wait(2));
        EXPECT_EQ(printer.jobs[0], "fourth\n");
        EXPECT_EQ(printer.jobs[1], "third\n");
        EXPECT_TRUE(testutil::ListDir(dir.path() + "/failed").empty());
    }
    // A printer that stops reading: the write times out.
    IniSet("SOCKETTIMEOUT", "1");
    gKeepFailed = 0;
    {
        Listener stalled(false);
        gSocketPort = std::to_string(stalled.port);
        ui.lines.clear();
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(PrintFile(Job("JOB5.txt", std::string(32 << 20, 'z'))), 0);
        auto secs = std::chrono::duration_cast<std::chrono::seconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
        EXPECT_LT(secs, 30);
        EXPECT_NE(ui.All().find("Error writing to socket: Connection timed out"), std::string::npos)
            << ui.All();
    }
    gSocketPort = "nosuchhost.invalid:9100";
    EXPECT_EQ(PrintFile(Job("JOB6.txt", "x")), 0);
    EXPECT_NE(ui.All().find("Error writing to socket:"), std::string::npos);
}

TEST_F(OutputTest, CommandMediumPipesTheJobAndKeepsFailures) {
    Medium(0, 0, 0, 1);
    std::string out = dir.file("received");
    std::string script = dir.file("printcmd.sh");
    WriteFile(script, "#!/bin/sh\nif [ -e " + dir.file("jammed") +
                          " ]; then echo 'paper jam' >&2; exit 3; fi\ncat >>" + out +
                          "\necho \"args:$*\" >>" + out + "\n");
    chmod(script.c_str(), 0755);
    gOptions.printerCmds = script;
    gOptions.printerOptions = "-P office";
    ASSERT_EQ(PrintFile(Job("JOB1.txt", std::string("data\x00\xe9\n", 7))), 1) << ui.All();
    EXPECT_EQ(ReadFile(out), std::string("data\x00\xe9\nargs:-P office\n", 22));

    // A failing command: the status line carries its standard error; the job is kept.
    WriteFile(dir.file("jammed"), "");
    gKeepFailed = 1;
    std::string job = Job("JOB2.txt", "second\n");
    EXPECT_EQ(PrintFile(job), 0);
    EXPECT_NE(ui.All().find("paper jam"), std::string::npos) << ui.All();
    EXPECT_NE(ui.All().find("exit status 3"), std::string::npos);
    EXPECT_EQ(access(job.c_str(), F_OK), -1);
    EXPECT_EQ(PrintFile(Job("JOB3.txt", "third\n")), 0);
    auto kept = testutil::ListDir(dir.path() + "/failed");
    ASSERT_EQ(kept.size(), 2u);
    // Kept jobs go out oldest first once the command works again.
    unlink(dir.file("jammed").c_str());
    RedeliverFailedJobs();
    EXPECT_EQ(ReadFile(out), std::string("data\x00\xe9\nargs:-P office\n", 22) +
                                 "second\nargs:-P office\nthird\nargs:-P office\n");
    EXPECT_TRUE(testutil::ListDir(dir.path() + "/failed").empty());

    // A command that cannot start, and the default off: nothing is kept.
    gKeepFailed = 0;
    gOptions.printerCmds = dir.file("nosuchcommand");
    gOptions.printerOptions = "";
    job = Job("JOB4.txt", "fourth\n");
    EXPECT_EQ(PrintFile(job), 0);
    EXPECT_NE(ui.All().find("exit status 127"), std::string::npos);
    EXPECT_EQ(access(job.c_str(), F_OK), 0);
}

} // namespace
