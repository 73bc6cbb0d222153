#include "testutil.h"

#include "status_http.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

// Fontconfig keeps its font cache for the life of the process; every test
// that draws a page would otherwise fail the leak check at exit.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\n";
}

namespace testutil {

TempDir::TempDir() {
    char tmpl[] = "/tmp/twtest.XXXXXX";
    if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp");
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::string cmd = "rm -rf '" + path_ + "'";
    if (std::system(cmd.c_str()) != 0) {
    }
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

std::vector<std::string> ListDir(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string n = e->d_name;
            if (n != "." && n != "..") names.push_back(n);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

size_t Count(const std::string& text, const std::string& piece) {
    size_t n = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
        ++n;
    return n;
}

bool Until(const std::function<bool()>& done, int ms) {
    for (auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms); !done();) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::string LuIni(int port, const std::string& extra) {
    const std::string given = "\n" + extra;
    std::string ini = "[CONFIGURATION]\n" + extra;
    for (const std::string& line : std::vector<std::string>{
             "HOSTNAME=127.0.0.1", "SERVERNAME=" + std::to_string(port), "LUTYPE=1", "3270E=1",
             "FILENAME=JOB", "PRINTTOFILE=1", "CONNECTTIMEOUT=0", "RETRYDELAY=1"}) {
        std::string key(1, '\n');
        key.append(line, 0, line.find('=') + 1);
        if (given.find(key) == std::string::npos) ini += line + "\n";
    }
    return ini;
}

int ListenLoopback(int& port, int receiveBuffer) {
    // Not inherited: a program the test starts later must not hold the port open.
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (receiveBuffer > 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), len) != 0 || ::listen(fd, 8) != 0) {
        ::close(fd);
        return -1;
    }
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    return fd;
}

LatePrinter::LatePrinter(int port) : port_(port), up_(std::chrono::steady_clock::now()) {
    fd_ = ListenLoopback(port_);
    if (fd_ >= 0) thread_ = std::thread([this] { Serve(); });
}

LatePrinter::~LatePrinter() {
    Stop();
}

void LatePrinter::Serve() {
    for (;;) {
        // Once stopping, the connections already waiting are still taken.
        const bool last = stop_;
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, last ? 0 : 20) <= 0) {
            if (last) return;
            continue;
        }
        const int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0) {
            if (last) return;
            continue;
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (jobs_.empty() && first_ == std::chrono::steady_clock::duration{})
                first_ = std::chrono::steady_clock::now() - up_;
        }
        // A sender that never closes costs the test 15 s, not its end.
        timeval tv{15, 0};
        ::setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        std::string job;
        char b[65536];
        for (ssize_t n; (n = ::read(c, b, sizeof b)) > 0;)
            job.append(b, static_cast<size_t>(n));
        ::close(c);
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.push_back(std::move(job));
        arrived_.notify_all();
    }
}

std::vector<std::string> LatePrinter::Jobs(size_t count, int ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    arrived_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return jobs_.size() >= count; });
    return jobs_;
}

std::vector<std::string> LatePrinter::Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    std::lock_guard<std::mutex> lock(mutex_);
    return jobs_;
}

std::chrono::steady_clock::duration LatePrinter::FirstAfter() {
    std::lock_guard<std::mutex> lock(mutex_);
    return first_;
}

std::vector<std::string> WaitFiles(const std::string& dir, size_t count, int ms) {
    std::vector<std::string> files;
    Until([&] { return (files = ListDir(dir)).size() == count; }, ms);
    return files;
}

std::vector<std::string> DeliveredJobs(const std::string& prefix, size_t count, int ms) {
    std::vector<std::string> out;
    for (auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
         out.size() < count && std::chrono::steady_clock::now() < end;) {
        std::string f = prefix + std::to_string(out.size()) + "f.txt";
        if (access(f.c_str(), R_OK) == 0)
            out.push_back(ReadFile(f));
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return out;
}

NotifySocket::NotifySocket(const std::string& path)
    : fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    sockaddr_un addr{AF_UNIX, {}};
    const size_t n = std::min(path.size(), sizeof addr.sun_path - 1);
    std::memcpy(addr.sun_path, path.data(), n);
    if (path[0] == '@') addr.sun_path[0] = '\0';
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr),
           static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + n));
}

NotifySocket::~NotifySocket() {
    ::close(fd);
}

std::vector<std::string> NotifySocket::Receive(int ms) {
    std::vector<std::string> got;
    char buf[4096];
    for (pollfd p{fd, POLLIN, 0}; ::poll(&p, 1, ms) > 0;) {
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        got.emplace_back(buf, static_cast<size_t>(n));
    }
    return got;
}

int FreePort() {
    int port = 0;
    ::close(ListenLoopback(port));
    return port;
}

std::string Post(int port, const std::string& path, const std::string& headers,
                 const std::string& body) {
    return Ask(port, "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                         "\r\nConnection: close\r\nContent-Type: "
                         "application/x-www-form-urlencoded\r\nContent-Length: " +
                         std::to_string(body.size()) + "\r\n" + headers + "\r\n" + body);
}

int ConnectLoopback(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
    ::close(fd);
    return -1;
}

std::string Hex(const std::string& bytes) {
    std::string out;
    char buf[4];
    for (unsigned char c : bytes) {
        if (!out.empty()) out += ' ';
        std::snprintf(buf, sizeof buf, "%02X", c);
        out += buf;
    }
    return out;
}

std::string Unhex(const std::string& hex) {
    std::string out;
    int nib = -1;
    for (char ch : hex) {
        int v;
        if (ch >= '0' && ch <= '9')
            v = ch - '0';
        else if (ch >= 'a' && ch <= 'f')
            v = ch - 'a' + 10;
        else if (ch >= 'A' && ch <= 'F')
            v = ch - 'A' + 10;
        else
            continue;
        if (nib < 0)
            nib = v;
        else {
            out += static_cast<char>(nib * 16 + v);
            nib = -1;
        }
    }
    return out;
}

Proc::Proc(const std::vector<std::string>& argv, const std::string& dir,
           const std::vector<std::string>& env) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
        dup2(fds[1], 1);
        dup2(fds[1], 2);
        if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(126);
        for (const auto& e : env)
            putenv(const_cast<char*>(e.c_str()));
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(fds[1]);
    out_ = fds[0];
}

Proc::~Proc() {
    Stop(SIGKILL);
    if (out_ >= 0) close(out_);
}

bool Proc::WaitFor(const std::string& needle, int ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (text_.find(needle) == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        end - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0 || !ReadSome(static_cast<int>(left))) break;
    }
    return text_.find(needle) != std::string::npos;
}

int Proc::Wait(int ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (pid_ > 0 && std::chrono::steady_clock::now() < end) {
        int st = 0;
        if (waitpid(pid_, &st, WNOHANG) == pid_) return Reaped(st);
        // At end of file the output is closed but the process may not be reaped yet.
        if (!ReadSome(20)) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return pid_ > 0 ? -1 : status_;
}

bool Proc::Alive() const {
    return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0;
}

int Proc::Stop(int sig) {
    if (pid_ <= 0) return status_;
    kill(pid_, sig);
    int st = 0;
    waitpid(pid_, &st, 0);
    return Reaped(st);
}

void Proc::Signal(int sig) {
    if (pid_ > 0) kill(pid_, sig);
}

int Proc::Reaped(int st) {
    while (ReadSome(0)) {
    }
    pid_ = -1;
    status_ = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return status_;
}

bool Proc::ReadSome(int ms) {
    if (out_ < 0) return false;
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0) return ms > 0;
    char buf[4096];
    ssize_t n = read(out_, buf, sizeof buf);
    if (n <= 0) return false;
    text_.append(buf, static_cast<size_t>(n));
    return true;
}

Cupsd::Cupsd(const std::string& root) : root_(root), port_(FreePort()) {}

Cupsd::~Cupsd() {
    Stop();
}

std::string Cupsd::server() const {
    return "127.0.0.1:" + std::to_string(port_);
}

bool Cupsd::Start(bool withQueue) {
    if (access("/usr/sbin/cupsd", X_OK) != 0) return false;
    std::string cmd = std::string("sh '") + TWPRINTER_SOURCE_DIR + "/tests/cups/start-cupsd.sh' '" +
                      root_ + "' " + std::to_string(port_) + (withQueue ? "" : " empty");
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return false;
    if (std::fscanf(p, "%d", &pid_) != 1) pid_ = 0;
    pclose(p);
    if (pid_ <= 0) return false;
    setenv("CUPS_SERVER", server().c_str(), 1);
    // Ready when it takes connections, and has loaded its queue when it has one.
    std::string probe = "lpstat -h " + server() + " -v twtest >/dev/null 2>&1";
    return Until(
        [&] {
            const int fd = ConnectLoopback(port_);
            if (fd >= 0) ::close(fd);
            return fd >= 0 && (!withQueue || std::system(probe.c_str()) == 0);
        },
        10000);
}

void Cupsd::Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 50 && kill(pid_, 0) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    pid_ = 0;
}

bool Cupsd::AddQueue(const std::string& name) {
    std::string cmd =
        "lpadmin -h " + server() + " -p " + name + " -E -v file:///dev/null >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

std::string Cupsd::WaitJob(int id) {
    std::string path = root_ + "/out/job-" + std::to_string(id) + ".pdf";
    for (int i = 0; i < 150; ++i) {
        if (access(path.c_str(), F_OK) == 0) return path;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return "";
}

std::string Cupsd::Log() const {
    return ReadFile(root_ + "/log/error_log");
}

std::string Run(const std::vector<std::string>& argv) {
    Proc p(argv);
    p.Wait(20000);
    return p.text();
}

bool HaveTshark() {
    return ::access("/usr/bin/tshark", X_OK) == 0;
}

std::string DissectorFlags(const std::string& dir, int port) {
    if (!HaveTshark()) return "";
    // Classic pcap files join into one by dropping every header but the first, so
    // that one tshark reads all of a test's connections.
    constexpr size_t kHeader = 24;
    std::string all;
    for (const std::string& name : ListDir(dir)) {
        if (name.size() < 5 || name.compare(name.size() - 5, 5, ".pcap") != 0) continue;
        const std::string one = ReadFile(dir + "/" + name);
        if (one.size() < kHeader) return name + ": no pcap header\n";
        all += all.empty() ? one : one.substr(kHeader);
    }
    if (all.empty()) return "";
    const std::string merged = dir + "/all.capture";
    WriteFile(merged, all);
    const std::string p = std::to_string(port);
    std::istringstream out(
        Run({"/usr/bin/tshark", "-r", merged, "-d", "tcp.port==" + p + ",telnet", "-Y",
             "(_ws.malformed || _ws.expert.severity >= warning) && "
             "tcp.dstport==" +
                 p}));
    std::remove(merged.c_str());
    std::string flagged;
    for (std::string line; std::getline(out, line);)
        if (line.find("Running as user") == std::string::npos && !line.empty())
            flagged += line + "\n";
    return flagged;
}

std::string PdfText(const std::string& pdf) {
    return Run({"/usr/bin/pdftotext", "-layout", pdf, "-"});
}

std::string PdfPageSize(const std::string& pdf) {
    std::string info = Run({"/usr/bin/pdfinfo", pdf});
    double w = 0, h = 0;
    size_t at = info.find("Page size:");
    if (at != std::string::npos) std::sscanf(info.c_str() + at, "Page size: %lf x %lf", &w, &h);
    return std::to_string(std::lround(w)) + " x " + std::to_string(std::lround(h));
}

std::vector<PdfWord> PdfWords(const std::string& pdf) {
    std::istringstream in(Run({"/usr/bin/pdftotext", "-bbox", "-l", "1", pdf, "-"}));
    std::vector<PdfWord> words;
    double x, y;
    char text[512];
    for (std::string line; std::getline(in, line);)
        if (std::sscanf(line.c_str(), " <word xMin=\"%lf\" yMin=\"%lf\" %*[^>]>%511[^<]", &x, &y,
                        text) == 3)
            words.push_back({text, x, y});
    return words;
}

std::string PdfPixel(const std::string& pdf, int x, int y) {
    std::string ppm = Run({"/usr/bin/pdftoppm", "-r", "72", "-l", "1", "-x", std::to_string(x),
                           "-y", std::to_string(y), "-W", "1", "-H", "1", pdf});
    return ppm.size() < 3 ? "" : ppm.substr(ppm.size() - 3);
}

long ArchivedJobs(const std::string& folder) {
    sqlite3* db = nullptr;
    long n = 0;
    if (sqlite3_open_v2((folder + "/index.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr) ==
        SQLITE_OK) {
        sqlite3_busy_timeout(db, 1000);
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT count(*) FROM jobs", -1, &s, nullptr) == SQLITE_OK &&
            sqlite3_step(s) == SQLITE_ROW)
            n = static_cast<long>(sqlite3_column_int64(s, 0));
        sqlite3_finalize(s);
    }
    sqlite3_close(db);
    return n;
}

} // namespace testutil
