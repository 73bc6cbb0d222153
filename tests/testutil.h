// Helpers shared by the tests: temporary directories, files, processes.
#pragma once
#include <signal.h>
#include <sys/types.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testutil {

// Jobs, lines, file names: what a test expects, in order.
using Texts = std::vector<std::string>;

// A fresh directory under /tmp, removed with its contents at destruction.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
std::vector<std::string> ListDir(const std::string& dir);
// How often piece occurs in text.
size_t Count(const std::string& text, const std::string& piece);
// Whether done() holds within ms, asked every 20 ms.
bool Until(const std::function<bool()>& done, int ms = 10000);
// A single LU's settings against 127.0.0.1:port, printing to files JOB...: the
// keys of extra, then those of these that extra does not set.
std::string LuIni(int port, const std::string& extra = "");

// A free loopback TCP port, nothing listening on it.
int FreePort();
// A socket connected to 127.0.0.1:port, or -1.
int ConnectLoopback(int port);
// The whole answer of the status endpoint on port to a form POST of body to path;
// each header line ends in CRLF.
std::string Post(int port, const std::string& path, const std::string& headers,
                 const std::string& body = "");
// A listening socket on 127.0.0.1:port (0: any free one, written back), or -1.
// receiveBuffer > 0 makes the socket's receive buffer that small (4096: a printer
// that soon stops taking data).
int ListenLoopback(int& port, int receiveBuffer = 0);
// A network printer that comes up on 127.0.0.1:port (0: any free one) when made: it
// takes one job a connection, on a thread of its own, until it is stopped.
class LatePrinter {
  public:
    explicit LatePrinter(int port = 0);
    ~LatePrinter();
    LatePrinter(const LatePrinter&) = delete;
    LatePrinter& operator=(const LatePrinter&) = delete;
    bool ok() const { return fd_ >= 0; }
    int port() const { return port_; }
    // The jobs once count of them came (fewer when ms pass first), in order.
    std::vector<std::string> Jobs(size_t count, int ms);
    // Takes the connections already waiting, then stops listening: every job it took.
    std::vector<std::string> Stop();
    // From coming up to the first connection (zero while none came).
    std::chrono::steady_clock::duration FirstAfter();

  private:
    void Serve();
    int fd_ = -1;
    int port_ = 0;
    std::chrono::steady_clock::time_point up_;
    std::chrono::steady_clock::duration first_{};
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<std::string> jobs_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The files in dir once there are count of them (what there is when ms pass first).
std::vector<std::string> WaitFiles(const std::string& dir, size_t count, int ms);
// The delivered copies PREFIX0f.txt, PREFIX1f.txt... once count of them exist
// (fewer when ms pass first), in job order.
std::vector<std::string> DeliveredJobs(const std::string& prefix, size_t count, int ms);
// The jobs the archive in folder has indexed, as a reader of its index sees
// them (0 when it has none yet).
long ArchivedJobs(const std::string& folder);

// A notify socket as the service manager opens it; path "@name" is abstract.
struct NotifySocket {
    explicit NotifySocket(const std::string& path);
    ~NotifySocket();
    NotifySocket(const NotifySocket&) = delete;
    NotifySocket& operator=(const NotifySocket&) = delete;
    // The datagrams that arrive until ms pass without one.
    std::vector<std::string> Receive(int ms = 200);
    int fd;
};

// Poppler's view of a PDF: the text (pdftotext -layout; each page ends in a form
// feed), the first page's size in whole points ("595 x 842"), the words of the
// first page with the top left corner of each, and the RGB bytes of one pixel of
// the first page at 72 dpi.
struct PdfWord {
    std::string text;
    double x, y;
};
std::string PdfText(const std::string& pdf);
// The output of a program that ends within 20 s.
std::string Run(const std::vector<std::string>& argv);
std::string PdfPageSize(const std::string& pdf);
std::vector<PdfWord> PdfWords(const std::string& pdf);
std::string PdfPixel(const std::string& pdf, int x, int y);

// The captures (*.pcap) a host simulator wrote in dir, read by tshark as telnet on
// port in one run: each frame sent to port that the dissector finds malformed or
// warns about, one line each. "" when all are clean or tshark is not installed.
std::string DissectorFlags(const std::string& dir, int port);
bool HaveTshark();

// Hex "01 02 FF" to bytes and back.
std::string Hex(const std::string& bytes);
std::string Unhex(const std::string& hex);

// A child process whose standard output and error are collected together.
class Proc {
  public:
    // env entries are "NAME=value"; dir, when given, is the working directory.
    Proc(const std::vector<std::string>& argv, const std::string& dir = "",
         const std::vector<std::string>& env = {});
    ~Proc();
    Proc(const Proc&) = delete;
    Proc& operator=(const Proc&) = delete;

    // Reads until needle appears in the output or ms pass.
    bool WaitFor(const std::string& needle, int ms = 10000);
    // Waits for the process to end by itself: its exit code, or -1.
    int Wait(int ms);
    bool Alive() const;
    // Signals the process and returns its exit code (-1 when a signal ended it).
    int Stop(int sig);
    // Signals the process; it is reaped by Wait or Stop.
    void Signal(int sig);
    const std::string& text() const { return text_; }

  private:
    bool ReadSome(int ms);
    int Reaped(int status);
    pid_t pid_ = -1;
    int out_ = -1;
    int status_ = -1;
    std::string text_;
};

// p's output shows the text (in ms, 10 s by default); a failure shows all of it.
#define EXPECT_SAYS(p, ...) EXPECT_TRUE((p).WaitFor(__VA_ARGS__)) << (p).text()
#define ASSERT_SAYS(p, ...) ASSERT_TRUE((p).WaitFor(__VA_ARGS__)) << (p).text()

// text holds piece, or does not; a failure names the piece and shows the text.
#define EXPECT_HAS(text, piece)                                                                    \
    EXPECT_NE((text).find(piece), std::string::npos) << "no " << (piece) << " in:\n" << (text)
#define ASSERT_HAS(text, piece)                                                                    \
    ASSERT_NE((text).find(piece), std::string::npos) << "no " << (piece) << " in:\n" << (text)
#define EXPECT_LACKS(text, piece)                                                                  \
    EXPECT_EQ((text).find(piece), std::string::npos) << (piece) << " in:\n" << (text)

#ifdef HOSTSIM_PATH
// The host simulator playing script (kept as dir/NAME.script) with args added, on
// 127.0.0.1:at (0: any free port); port is the one it took, once it listens. Each
// connection is captured.
struct Host {
    TempDir captures;
    std::unique_ptr<Proc> proc;
    int port = 0;
    Host(const TempDir& dir, const std::string& name, const std::string& script,
         std::vector<std::string> args = {}, int at = 0) {
        WriteFile(dir.file(name + ".script"), script);
        args.insert(args.begin(), {HOSTSIM_PATH, "--script", dir.file(name + ".script"), "--port",
                                   std::to_string(at), "--pcap", captures.path()});
        proc = std::make_unique<Proc>(args);
        // Told to listen late, it is bound first: that is enough.
        const bool late = std::find(args.begin(), args.end(), "--listen-after") != args.end();
        if (!proc->WaitFor(late ? "PORT " : "LISTENING", 5000)) return;
        port = std::atoi(proc->text().c_str() + proc->text().find("PORT ") + 5);
    }
    // Ends it: what the client sent that an independent dissector flags, "" nothing.
    std::string Flags() {
        if (proc) proc->Stop(SIGTERM);
        return DissectorFlags(captures.path(), port);
    }
};
#endif

// A private CUPS scheduler on a loopback port (tests/cups/start-cupsd.sh). With
// its queue, "twtest" keeps each document it receives as ROOT/out/job-<id>.pdf.
class Cupsd {
  public:
    explicit Cupsd(const std::string& root);
    ~Cupsd();
    Cupsd(const Cupsd&) = delete;
    Cupsd& operator=(const Cupsd&) = delete;

    // Starts it (again on the same port after Stop) and sets CUPS_SERVER.
    bool Start(bool withQueue = true);
    void Stop();
    std::string server() const;
    // Adds a queue that discards what it receives.
    bool AddQueue(const std::string& name);
    // The document of job id once the queue has written it, or "".
    std::string WaitJob(int id);
    std::string Log() const;

  private:
    std::string root_;
    int port_;
    pid_t pid_ = 0;
};

} // namespace testutil
