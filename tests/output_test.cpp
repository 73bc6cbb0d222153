// Delivery of finished jobs: a private CUPS scheduler, PDF and text copies,
// plain files and /dev/full as ports, loopback printers and print commands.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <sstream>

#include "config/messages.h"
#include "config/report.h"
#include "config_cases.h"
#include "output/delivery.h"
#include "output/pdf_render.h"
#include "output/port_channel.h"
#include "output/printers.h"
#include "testutil.h"

using testutil::ReadFile;
using testutil::WriteFile;

namespace {

struct Recorder : config::Reporter {
    void ShowOnlineState(bool) override {}
    void ShowStatusMessage(int, const std::string& t) override { text += t + "\n"; }
    void ShowMessageBox(const std::string& t) override { text += t + "\n"; }
    bool AskYesNo(const std::string& q) override { return text += q + "\n", answer; }
    void StatusLine(const std::string& t) override { text += t + "\n"; }
    std::string text;
    bool answer = true;
    int delivered = 0, failed = 0;
};

using testutil::PdfPageSize;
using testutil::PdfText;

long Pages(const std::string& text) {
    return std::count(text.begin(), text.end(), '\f');
}
// The text of each page.
std::vector<std::string> PageTexts(const std::string& pdf) {
    std::vector<std::string> pages;
    std::istringstream in(testutil::Run({"/usr/bin/pdftotext", pdf, "-"}));
    for (std::string page; std::getline(in, page, '\f');)
        pages.push_back(page);
    return pages;
}
std::string Lines(int count, const std::string& stem = "line") {
    std::string s;
    for (int i = 1; i <= count; ++i)
        s += stem + " " + std::to_string(i) + "\n";
    return s;
}

// A loopback printer: jobs wait in the kernel, in order, until Next takes one.
struct Listener {
    explicit Listener(bool small = false, bool v6 = false)
        : fd(socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0)) {
        int size = 4096;
        if (small) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        sockaddr_in6 a6{AF_INET6, 0, 0, in6addr_loopback, 0};
        sockaddr* at = v6 ? reinterpret_cast<sockaddr*>(&a6) : reinterpret_cast<sockaddr*>(&a);
        socklen_t len = v6 ? sizeof a6 : sizeof a;
        bind(fd, at, len);
        getsockname(fd, at, &len);
        port = std::to_string(ntohs(v6 ? a6.sin6_port : a.sin_port));
        listen(fd, 8);
    }
    ~Listener() { close(fd); }
    // "" when no job comes within 10 s, so a missing delivery fails instead of hanging.
    std::string Next() {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 10000) != 1) return "";
        int c = accept(fd, nullptr, nullptr);
        std::string job;
        char buf[65536];
        for (ssize_t n; (n = read(c, buf, sizeof buf)) > 0;)
            job.append(buf, n);
        close(c);
        return job;
    }
    int fd;
    std::string port;
};

class OutputTest : public ::testing::Test {
  protected:
    // A fresh session's failed folder is the one beside its print files: dir/failed.
    OutputTest() { s.fileName = dir.file("JOB"); }
    std::unique_ptr<output::Delivery> Make() {
        return std::make_unique<output::Delivery>(
            s, ui, [this](bool ok) { ++(ok ? ui.delivered : ui.failed); });
    }
    std::string Job(const std::string& name, const std::string& content) {
        WriteFile(dir.file(name), content);
        return dir.file(name);
    }
    int Deliver(const std::string& name, const std::string& content) {
        return Make()->Deliver(Job(name, content), "");
    }
    size_t Kept() { return testutil::ListDir(dir.path() + "/failed").size(); }
    testutil::TempDir dir;
    config::Settings s;
    Recorder ui;
};

TEST_F(OutputTest, PrinterMediumDrawsPagesForCupsAndKeepsWhatItCannotSubmit) {
    testutil::TempDir cupsRoot;
    testutil::Cupsd cupsd(cupsRoot.path());
    ASSERT_TRUE(cupsd.Start()) << cupsd.Log();
    output::PageLayout m;
    ASSERT_TRUE(GetPrinterLayout("twtest", m));
    s.headings = true;
    s.classicLayout = true;
    s.keepFailed = false; // the kept-job path is the scheduler's below
    const int body = m.lines - 3;
    ASSERT_TRUE(cupsd.AddQueue("held") &&
                !system(("cupsreject -h " + cupsd.server() + " held").c_str()));
    for (auto [printer, says] :
         {std::pair{"nosuchqueue", "Unable to print JOB1.txt on printer nosuchqueue: "},
          {"held", "Unable to print JOB1.txt on printer held: "}}) {
        s.printer = printer;
        EXPECT_EQ(Deliver("JOB1.txt", Lines(5)), 0);
        EXPECT_HAS(ui.text, says);
    }
    // Each outcome has its line: where, why, and whether the job is kept.
    EXPECT_HAS(ui.text,
               "Job " + dir.file("JOB1.txt") +
                   " failed on CUPS printer held: Unable to print JOB1.txt on printer held: ");
    EXPECT_HAS(ui.text, "; it is not kept\n");

    // Two full pages of body lines, then one more line for a third page.
    s.printer = "twtest";
    int id = 0;
    for (int lines : {2 * body, 2 * body + 1}) {
        ASSERT_EQ(Deliver("JOB2.txt", Lines(lines, "body")), 1) << ui.text;
        std::string text = PdfText(cupsd.WaitJob(++id));
        EXPECT_EQ(Pages(text), lines == 2 * body ? 2 : 3) << cupsd.Log();
        EXPECT_HAS(text, lines == 2 * body ? "Page 1 of 2" : "Page 3 of 3");
        EXPECT_HAS(text, "body " + std::to_string(lines) + "\n");
        EXPECT_HAS(ui.text, "Job " + dir.file("JOB2.txt") +
                                " delivered to CUPS printer twtest, job " + std::to_string(id) +
                                "\n");
    }
    // Without PRINTER the job goes to CUPS's default destination.
    for (const char* unset : {"", "NO DEAFULT PRINTER"}) {
        s.printer = unset;
        ASSERT_EQ(Deliver("JOB3.txt", Lines(1, "default")), 1) << ui.text;
        EXPECT_HAS(PdfText(cupsd.WaitJob(++id)), "default 1\n");
    }
    const output::PrinterList list = output::ListPrinters();
    EXPECT_EQ(list.names, (std::vector<std::string>{"held", "twtest"})) << list.error;
    EXPECT_TRUE(list.defaultName == "twtest" && list.error.empty());
    std::string found;
    EXPECT_TRUE(output::CheckOutputMedium(s, found));
    EXPECT_EQ(found, "printer: CUPS destination twtest (the default)");
    s.printer = "nosuchqueue";
    EXPECT_FALSE(output::CheckOutputMedium(s, found));
    EXPECT_EQ(found.rfind("printer: CUPS at ", 0), 0u) << found;
    EXPECT_HAS(found, " has no destination nosuchqueue (");
    s.printer = "twtest";
    EXPECT_EQ(std::pair(ui.delivered, ui.failed), std::pair(4, 2));

    // A long heading keeps the file's own name; a heading given wins over the path.
    std::string deep(90, 'd');
    mkdir(dir.file(deep).c_str(), 0755);
    ASSERT_EQ(Deliver(deep + "/JOB5.txt", Lines(3)), 1);
    std::string text = PdfText(cupsd.WaitJob(++id));
    EXPECT_HAS(text, " ..." + std::string(71, 'd') + "/JOB5.txt\n");
    ASSERT_EQ(Make()->Deliver(Job("JOB6.txt", "x\n"), "Monthly report"), 1);
    EXPECT_HAS(PdfText(cupsd.WaitJob(++id)), "Monthly report");

    // As the host laid it out: the paper and the job options asked for go with the job.
    s.classicLayout = false;
    s.paper = "Letter";
    s.jobOptions = "copies=2 sides=two-sided-long-edge";
    ASSERT_EQ(Deliver("JOB9.txt", "one\ftwo\n"), 1) << ui.text;
    std::string pdf = cupsd.WaitJob(++id);
    EXPECT_EQ(PdfPageSize(pdf), "612 x 792");
    EXPECT_EQ(PageTexts(pdf).size(), 2u);
    std::string args = ReadFile(pdf + ".args");
    for (const char* want : {"copies=2 ", "media=na_letter_8.5x11in", "sides=two-sided-long-edge"})
        EXPECT_HAS(args, want) << want << " in " << args;
    // Without PAPER the destination's default media decides the sheet.
    ASSERT_EQ(
        system(("lpadmin -h " + cupsd.server() + " -p twtest -o media-default=iso_a5_148x210mm")
                   .c_str()),
        0);
    s.paper.clear();
    ASSERT_EQ(Deliver("JOB9.txt", "a5\n"), 1) << ui.text;
    EXPECT_EQ(PdfPageSize(cupsd.WaitJob(++id)), "420 x 595");
    s.classicLayout = true;

    // A stop while the job goes to the scheduler cancels it there; it is kept for later.
    int stop[2];
    ASSERT_EQ(pipe(stop), 0);
    ASSERT_EQ(write(stop[1], "x", 1), 1);
    std::unique_ptr<output::Delivery> stopping = Make();
    stopping->WatchStop(stop[0]);
    EXPECT_EQ(stopping->Deliver(Job("JOB10.txt", Lines(2, "stopped")), ""), 0);
    close(stop[0]), close(stop[1]);
    EXPECT_HAS(ui.text, "Delivery of JOB10.txt was stopped; the job is kept");
    EXPECT_EQ(testutil::Run({"lpstat", "-h", cupsd.server(), "-W", "not-completed", "-o"}), "");
    // Cancelled by us, not left for the scheduler to abort or hold.
    const std::string state =
        testutil::Run({"/bin/sh", "-c",
                       "ipptool -tv ipp://" + cupsd.server() + "/jobs/" + std::to_string(id + 1) +
                           " get-job-attributes.test 2>&1"});
    EXPECT_HAS(state, "job-state (enum) = canceled");
    Make()->RedeliverFailedJobs();
    EXPECT_HAS(PdfText(cupsd.WaitJob(id += 2)), "stopped 2\n");
    EXPECT_NE(
        access((cupsRoot.path() + "/out/job-" + std::to_string(id - 1) + ".pdf").c_str(), F_OK), 0);
    ASSERT_EQ(Kept(), 0u);

    // The scheduler goes away: the job is kept, and goes out when the scheduler is back.
    s.keepFailed = true;
    EXPECT_EQ(Deliver("JOB7.txt", ""), 0); // an empty job prints nothing, and is not kept
    cupsd.Stop();
    EXPECT_EQ(Deliver("JOB8.txt", Lines(4, "kept")), 0);
    EXPECT_HAS(ui.text, "Unable to print JOB8.txt on printer twtest: ");
    ASSERT_EQ(Kept(), 1u);
    ASSERT_TRUE(cupsd.Start());
    Make()->RedeliverFailedJobs();
    text = PdfText(cupsd.WaitJob(++id));
    EXPECT_HAS(text, " JOB8.txt\n"); // the job's own name

    // No default destination left: the job says how to set one.
    ASSERT_EQ(system(("lpadmin -h " + cupsd.server() + " -x twtest").c_str()), 0);
    s.printer = "NO DEAFULT PRINTER";
    s.keepFailed = false;
    EXPECT_EQ(Deliver("JOB9.txt", Lines(1)), 0);
    EXPECT_HAS(ui.text, "Unable to print JOB9.txt: no printer is set (PRINTER) and CUPS has no "
                        "default destination; set one with \"lpadmin -d NAME\" or set PRINTER");
    EXPECT_FALSE(output::CheckOutputMedium(s, found));
    EXPECT_HAS(found, "CUPS has no default destination; set one with");
    unsetenv("CUPS_SERVER");
}

TEST_F(OutputTest, MediumCheckedWithoutAJob) {
    const std::string refused = "127.0.0.1:" + std::to_string(testutil::FreePort());
    struct {
        config::Medium medium;
        std::string value, found;
        bool ok;
    } cases[] = {
        {config::Medium::File, dir.file("JOB"), "files: text copies of the jobs in " + dir.path(),
         true},
        {config::Medium::File, dir.file("none/JOB"),
         "files: " + dir.file("none") + ": No such file", false},
        {config::Medium::Command, "cat -n", "print command cat -n", true},
        {config::Medium::Command, "nosuchcommand -x", "print command: nosuchcommand is not found",
         false},
        {config::Medium::Port, "NUL", "port /dev/null can be written", true},
        {config::Medium::Port, dir.file("none/lp"),
         "port: " + dir.file("none/lp") + ": No such file", false},
        {config::Medium::Socket, refused, "network printer: Error writing to socket: ", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        s.medium = c.medium;
        s.fileName = s.printerCmds = s.portName = s.socketPort = c.value;
        std::string found;
        EXPECT_EQ(output::CheckOutputMedium(s, found), c.ok);
        EXPECT_EQ(found.rfind(c.found, 0), 0u) << found;
    }
}

TEST_F(OutputTest, FileMediumCopiesBesideThePrintFileAndAsksBeforeReplacing) {
    s.medium = config::Medium::File;
    const std::string bytes("a\0\xe9\f\r\n", 6);
    mkdir(dir.file("v.1").c_str(), 0755);
    for (auto [name, copy] : {std::pair{"JOB1.txt", "JOB1f.txt"}, {"v.1/JOB2", "v.1/JOB2f"}}) {
        ASSERT_EQ(Deliver(name, bytes), 1);
        EXPECT_EQ(ReadFile(dir.file(copy)), bytes);
        EXPECT_HAS(ui.text,
                   "Job " + dir.file(name) + " delivered to file " + dir.file(copy) + "\n");
        ui.answer = false;
        ASSERT_EQ(Deliver(name, "new\n"), 1);
        EXPECT_HAS(ui.text, "Output file " + dir.file(copy) + " already exists. Overwrite?");
        EXPECT_EQ(ReadFile(dir.file(copy)), bytes);
        ui.answer = true;
        ASSERT_EQ(Deliver(name, "new\n"), 1);
        EXPECT_EQ(ReadFile(dir.file(copy)), "new\n");
    }
    // A copy that cannot be written is a failed delivery, named with the system's reason.
    mkdir(dir.file("JOB3f.txt").c_str(), 0755);
    s.keepFailed = false;
    EXPECT_EQ(Deliver("JOB3.txt", "x"), 0);
    EXPECT_HAS(ui.text, "Unable to write " + dir.file("JOB3f.txt") + ": Is a directory");
    EXPECT_EQ(ui.failed, 1);
    ui.failed = 0;
    s.keepFailed = true;

    // As PDF on the default page, here without headings: a page holds L lines;
    // Latin-1 shows as the characters, control characters as blanks; long lines wrap.
    s.fileFormat = "pdf";
    s.classicLayout = true;
    output::PageLayout m = output::DefaultLayout();
    std::string latin1 = "caf\xe9\t\xa7\x0bna\xefve\x08x\x0cy\rz\n", wide(m.chars + 10, 'w');
    ASSERT_EQ(Deliver("JOB1.txt", Lines(m.lines - 2) + latin1 + wide + "\n"), 1) << ui.text;
    std::string pdf = dir.file("JOB1f.pdf"), text = PdfText(pdf);
    EXPECT_EQ(Pages(text), 2);
    EXPECT_LACKS(text, "Page 1");
    EXPECT_HAS(text, "caf\xc3\xa9 \xc2\xa7 na\xc3\xafve x y z\n");
    EXPECT_HAS(text, std::string(m.chars - 1, 'w') + "\n");
    EXPECT_HAS(text, "\f" + std::string(11, 'w') + "\n");
    ui.answer = false;
    ASSERT_EQ(Deliver("JOB1.txt", Lines(1)), 1);
    EXPECT_EQ(Pages(PdfText(pdf)), 2);
    ui.answer = true;
    ASSERT_EQ(Deliver("JOB1.txt", Lines(1)), 1);
    EXPECT_EQ(Pages(PdfText(pdf)), 1);
    EXPECT_EQ(Make()->Deliver("NUL", ""), 1);
    EXPECT_EQ(ui.delivered, 10);

    // A page of three lines cannot hold the headings and a line under them.
    output::PageLayout strip =
        output::ComputeLayout(21000, 3 * 2540 * m.lineHeight / 300 + 200, 0, 100, 0, 100);
    ASSERT_EQ(strip.lines, 3);
    EXPECT_FALSE(LayoutUsable(strip, 3, "the strip", ui));
    EXPECT_TRUE(LayoutUsable(strip, 2, "the strip", ui));
    EXPECT_HAS(ui.text, "The page of the strip holds 3 lines of " + std::to_string(strip.chars) +
                            " characters: too small to print on.\n");

    // The port medium wrote its jobs as they came: nothing to do, nothing counted.
    s.medium = config::Medium::Port;
    unlink(dir.file("JOB1f.pdf").c_str());
    EXPECT_EQ(Deliver("JOB1.txt", Lines(1)), 1);
    EXPECT_EQ(access(dir.file("JOB1f.pdf").c_str(), F_OK), -1);
    EXPECT_EQ(ui.delivered + ui.failed, 10);
}

TEST_F(OutputTest, HostLayoutBreaksAtFormFeedsFitsTheWidestLineAndOverstrikes) {
    s.medium = config::Medium::File;
    s.fileFormat = "pdf";
    s.headings = true;
    const std::string pdf = dir.file("JOBf.pdf");
    auto deliver = [&](const std::string& content, const output::JobHints& hints = {}) {
        unlink(pdf.c_str());
        EXPECT_EQ(Make()->Deliver(Job("JOB", content), "Report", hints), 1) << ui.text;
        return PageTexts(pdf);
    };
    for (const Case& c : LoadCases("../output/layouts.txt")) {
        SCOPED_TRACE(c.title);
        s.paper = "a4", s.orientation = "auto", s.lpi = 0, s.cpi = 0;
        output::JobHints hints;
        for (auto& [key, value] : c.items) {
            auto [name, v] = NameValue(value);
            if (key == "set" && name == "PAPER") s.paper = v;
            if (key == "set" && name == "ORIENTATION") s.orientation = v;
            if (key == "set" && name == "LPI") s.lpi = std::stod(v);
            if (key == "set" && name == "CPI") s.cpi = std::stod(v);
            if (key == "width") hints.maxPrintPosition = std::stoi(value);
            if (key == "length") hints.pageLength = std::stoi(value);
        }
        std::vector<std::string> pages = deliver(c.Get("job"), hints);
        EXPECT_EQ(PdfPageSize(pdf), c.Get("size"));
        if (!c.Get("pages").empty()) {
            EXPECT_EQ(pages.size(), std::stoul(c.Get("pages")));
        }
        for (auto& [key, value] : c.items) {
            if (key != "page") continue;
            size_t n = std::stoul(value);
            std::string want = "Report\nPage " + std::to_string(n) + " of " +
                               std::to_string(pages.size()) + "\n" +
                               value.substr(value.find(' ') + 1);
            EXPECT_EQ(n <= pages.size() ? pages[n - 1].substr(0, want.size()) : "", want);
        }
    }

    // Without PAPER a PDF file takes the locale's paper.
    s.paper.clear();
    unsetenv("PAPERSIZE"), unsetenv("LC_ALL"), setenv("LC_PAPER", "en_US.UTF-8", 1);
    deliver("x\n");
    EXPECT_EQ(PdfPageSize(pdf), "612 x 792");
    unsetenv("LC_PAPER");

    // Green-bar paper: the first three lines under the headings shaded, the next three not.
    s.greenbar = true;
    deliver(Lines(9));
    for (int line : {0, 2, 3, 5, 6}) { // 18 pt margins, 12 pt lines, three of headings
        std::string rgb = testutil::PdfPixel(pdf, 400, 18 + (3 + line) * 12 + 6);
        EXPECT_EQ(testutil::Hex(rgb), line / 3 % 2 ? "FF FF FF" : "DE F2 DE") << line;
    }
    s.greenbar = false;

    // Underscores after a bare carriage return, and a backspace, fall on the letters;
    // transparent bytes are not drawn at all.
    output::JobHints hints;
    hints.transparent = {{27, 31}};
    deliver("  SUMMARY PAGE\r  ____\nAB\bB \xc1\xc4\xc2\xc3ok\n", hints);
    std::map<std::string, testutil::PdfWord> w; // the first of each
    for (const testutil::PdfWord& word : testutil::PdfWords(pdf))
        w.emplace(word.text, word);
    auto summary = w["SUMMARY"], under = w["____"], ab = w["AB"], b = w["B"], ok = w["ok"];
    ASSERT_EQ(w.size(), 10u); // with Report, Page, 1, of and PAGE
    EXPECT_NEAR(under.x, summary.x, 0.1);
    EXPECT_NEAR(under.y, summary.y, 0.1);
    EXPECT_NEAR(b.y, ab.y, 0.1);
    EXPECT_NEAR(b.x, ab.x + (ok.x - ab.x) / 3, 0.1);
    EXPECT_NEAR(ok.y, ab.y, 0.1);
    EXPECT_GT(ok.y, summary.y);
    EXPECT_LACKS(PdfText(pdf), "\xc3\x81");
    EXPECT_EQ(ReadFile(dir.file("JOB")).size(), 34u);
}

TEST_F(OutputTest, PortMediumKeepsOneDeviceOpenAndReopensAfterAFault) {
    std::istringstream names(ReadFile(TEST_DATA_DIR "/output/port_names.txt"));
    for (std::string name, path; names >> name >> path;)
        EXPECT_EQ(output::PortDevicePath(name), path) << name;

    // A plain file as the device: opened once, written from its start, opened again after a close.
    s.portName = Job("port", "");
    auto d = Make();
    auto bytes = [](const char* t) {
        return std::span(reinterpret_cast<const uint8_t*>(t), strlen(t));
    };
    ASSERT_TRUE(d->PortWrite(bytes("ABCD\xe9\f")).ok());
    ASSERT_TRUE(d->PortWrite(bytes("xy")).ok());
    EXPECT_EQ(ReadFile(s.portName), "ABCD\xe9\fxy");
    d->PortClose();
    ASSERT_TRUE(d->PortWrite(bytes("zz")).ok());
    EXPECT_EQ(ReadFile(s.portName), "zzCD\xe9\fxy");

    // Missing device: 72 with the device's path and the system's text, no file left behind.
    s.portName = dir.file("nosuchport");
    config::Result r = Make()->PortWrite(bytes("A"));
    EXPECT_EQ(r.code, config::MSG_PORT_OPEN);
    EXPECT_EQ(r.Text(),
              "Unable to open LPT/COM port: " + s.portName + ": No such file or directory");
    EXPECT_EQ(r.subject, s.portName);
    EXPECT_EQ(access(s.portName.c_str(), F_OK), -1);
    s.portName = "lpt99";
    r = Make()->PortWrite(bytes("A"));
    EXPECT_EQ(r.code, config::MSG_PORT_OPEN);
    EXPECT_EQ(r.Text(), "Unable to open LPT/COM port: /dev/lp98: No such file or directory");

    // A device that refuses the bytes: 73, and its descriptor is released.
    s.portName = "/dev/full";
    d = Make();
    int lowest = open("/dev/null", O_RDONLY);
    close(lowest);
    r = d->PortWrite(bytes("A"));
    EXPECT_EQ(r.code, config::MSG_PORT_WRITE);
    EXPECT_EQ(r.Text(), "Unable to write to LPT/COM port: /dev/full: No space left on device");
    EXPECT_EQ(open("/dev/null", O_RDONLY), lowest);
    close(lowest);
}

TEST_F(OutputTest, SocketMediumSendsEachJobAndReportsRefusalAndStall) {
    s.medium = config::Medium::Socket;
    Listener printer;
    const std::string first("first\f\x00\xff", 8);
    for (const std::string& at : {printer.port, "127.0.0.1:" + printer.port, ":" + printer.port,
                                  "[127.0.0.1]:" + printer.port}) {
        s.socketPort = at;
        ASSERT_EQ(Deliver("JOB1.txt", first), 1) << at << ui.text;
        EXPECT_EQ(printer.Next(), first);
        EXPECT_HAS(ui.text,
                   "Job " + dir.file("JOB1.txt") + " delivered to network printer " + at + "\n");
    }
    Listener v6(false, true);
    s.socketPort = "[::1]:" + v6.port;
    ASSERT_EQ(Deliver("JOB2.txt", first), 1) << ui.text;
    EXPECT_EQ(v6.Next(), first);
    EXPECT_EQ(Make()->Deliver("NUL", ""), 1);

    // Nobody listens: 76 with the system's text; the job is kept when asked to.
    s.socketPort = "127.0.0.1:" + std::to_string(testutil::FreePort());
    s.keepFailed = true;
    EXPECT_EQ(Deliver("JOB3.txt", "third\n"), 0);
    // One line says it all: job, medium, reason, where it is kept.
    EXPECT_HAS(ui.text, "Job " + dir.file("JOB3.txt") + " failed on network printer " +
                            s.socketPort +
                            ": Error writing to socket: Connection refused; kept as " + dir.path() +
                            "/failed/");
    EXPECT_EQ(ui.text.find("Error writing to socket"), ui.text.rfind("Error writing to socket"))
        << ui.text;
    EXPECT_LACKS(ui.text, "The job was not delivered");
    // A printer that comes back takes the new job first, then the kept one.
    s.socketPort = "localhost:" + printer.port;
    ASSERT_EQ(Deliver("JOB4.txt", "fourth\n"), 1);
    EXPECT_EQ(printer.Next(), "fourth\n");
    EXPECT_EQ(printer.Next(), "third\n");
    EXPECT_HAS(ui.text, "JOB3.txt delivered to network printer localhost:" + printer.port +
                            "; it had been kept as " + dir.path() + "/failed/");
    EXPECT_EQ(std::pair(ui.delivered, ui.failed), std::pair(8, 1));

    // A printer that stops reading: the write times out after the socket timeout.
    s.socketTimeoutMs = 1000;
    Listener stalled(true);
    s.socketPort = stalled.port;
    EXPECT_EQ(Deliver("JOB5.txt", std::string(32 << 20, 'z')), 0);
    EXPECT_HAS(ui.text, "Error writing to socket: Connection timed out");
    for (std::string bad : {"nosuchhost.invalid:9100", "127.0.0.1:"}) {
        s.socketPort = bad;
        EXPECT_EQ(Deliver("JOB6.txt", "x"), 0);
        EXPECT_HAS(ui.text, "Error writing to socket: ");
        EXPECT_HAS(ui.text, "(" + bad + ")");
    }
}

TEST_F(OutputTest, CommandMediumPipesTheJobAndKeepsFailures) {
    s.medium = config::Medium::Command;
    // No command given means lpr: this one, first on the path.
    std::string out = dir.file("received"), path = getenv("PATH");
    WriteFile(dir.file("lpr"), ReadFile(TEST_DATA_DIR "/output/lpr.sh"));
    chmod(dir.file("lpr").c_str(), 0755);
    setenv("PATH", (dir.path() + ":" + path).c_str(), 1);
    s.printerCmds = "";
    s.printerOptions = "-P office";
    const std::string first("data\x00\xe9\n", 7);
    ASSERT_EQ(Deliver("JOB1.txt", first), 1) << ui.text;
    EXPECT_HAS(ui.text,
               "Job " + dir.file("JOB1.txt") + " delivered to command \"lpr -P office\"\n");

    // A failing command: the status line carries its standard error; the job is kept.
    WriteFile(dir.file("jammed"), ".");
    s.keepFailed = true;
    EXPECT_EQ(Deliver("JOB2.txt", "second\n"), 0);
    EXPECT_LACKS(ui.text, "paper jam\n");
    EXPECT_HAS(ui.text,
               "Job " + dir.file("JOB2.txt") +
                   " failed on command \"lpr -P office\": Print command failed for JOB2.txt: "
                   "\"lpr -P office\" failed (exit status 1): paper jam; kept as " +
                   dir.path() + "/failed/");
    EXPECT_EQ(Deliver("JOB3.txt", "third\n"), 0);
    ASSERT_EQ(Kept(), 2u);
    // Kept jobs go out oldest first, from a session that delivered none yet;
    // the first that fails again holds back the rest.
    WriteFile(dir.file("jammed"), "second");
    Make()->RedeliverFailedJobs();
    EXPECT_EQ(Kept(), 2u);
    unlink(dir.file("jammed").c_str());
    Make()->RedeliverFailedJobs();
    EXPECT_EQ(ReadFile(out),
              first + "args:-P office\nsecond\nargs:-P office\nthird\nargs:-P office\n");
    EXPECT_EQ(std::pair(ui.delivered, ui.failed), std::pair(3, 2));

    // A command that cannot start, and the default off: nothing is kept.
    s.keepFailed = false;
    s.printerCmds = dir.file("nosuchcommand");
    EXPECT_EQ(Deliver("JOB4.txt", "fourth\n"), 0);
    EXPECT_HAS(ui.text, "nosuchcommand -P office\" failed (exit status 127)");
    EXPECT_EQ(Kept(), 0u);
    setenv("PATH", path.c_str(), 1);
}

} // namespace
