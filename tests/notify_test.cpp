// The service manager's notify protocol, received on a real datagram socket.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "session/notify.h"
#include "testutil.h"

namespace {

// A notify socket as the service manager opens it; path "@name" is abstract.
class NotifySocket {
  public:
    explicit NotifySocket(const std::string& path) : path_(path) {
        fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::memcpy(addr.sun_path, path.data(), path.size());
        if (path[0] == '@') addr.sun_path[0] = '\0';
        bind(fd_, reinterpret_cast<sockaddr*>(&addr),
             static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size()));
    }
    ~NotifySocket() { close(fd_); }
    // Every datagram that arrives within ms.
    std::vector<std::string> Receive(int ms = 200) {
        std::vector<std::string> got;
        pollfd p{fd_, POLLIN, 0};
        while (poll(&p, 1, ms) > 0) {
            char buf[4096];
            ssize_t n = recv(fd_, buf, sizeof buf, 0);
            if (n <= 0) break;
            got.emplace_back(buf, static_cast<size_t>(n));
        }
        return got;
    }

  private:
    std::string path_;
    int fd_ = -1;
};

TEST(Notify, MessagesReachThePathAndAbstractSocketsAndNothingElse) {
    testutil::TempDir dir;
    for (std::string path : {dir.file("notify"), "@twnotify" + std::to_string(getpid())}) {
        SCOPED_TRACE(path);
        NotifySocket sock(path);
        setenv("NOTIFY_SOCKET", path.c_str(), 1);
        NotifyReady();
        NotifyStatus("Unable to connect: refused\nDelaying before reconnect.");
        NotifyWatchdog();
        NotifyStopping();
        EXPECT_EQ(sock.Receive(),
                  (std::vector<std::string>{"READY=1",
                                            "STATUS=Unable to connect: refused Delaying before "
                                            "reconnect.",
                                            "WATCHDOG=1", "STOPPING=1"}));
    }
    // Outside a service (no socket, or a name that is no path) nothing is sent or broken.
    unsetenv("NOTIFY_SOCKET");
    NotifyReady();
    setenv("NOTIFY_SOCKET", "relative/name", 1);
    NotifyReady();
    unsetenv("NOTIFY_SOCKET");
}

TEST(Notify, WatchdogIntervalOnlyForTheNamedProcess) {
    unsetenv("WATCHDOG_PID");
    unsetenv("WATCHDOG_USEC");
    EXPECT_EQ(NotifyWatchdogUsec(), 0u);
    setenv("WATCHDOG_USEC", "60000000", 1);
    EXPECT_EQ(NotifyWatchdogUsec(), 60000000u);
    setenv("WATCHDOG_PID", std::to_string(getpid()).c_str(), 1);
    EXPECT_EQ(NotifyWatchdogUsec(), 60000000u);
    setenv("WATCHDOG_PID", std::to_string(getpid() + 1).c_str(), 1);
    EXPECT_EQ(NotifyWatchdogUsec(), 0u);
    unsetenv("WATCHDOG_PID");
    unsetenv("WATCHDOG_USEC");
}

// twprinterd under a pretend service manager: ready once running, each status
// line as STATUS, watchdog pings at half the interval, STOPPING on SIGTERM.
TEST(Notify, DaemonReportsReadinessStatusWatchdogAndStop) {
    testutil::TempDir dir;
    // Port 1 on loopback refuses: the client keeps retrying with status lines.
    testutil::WriteFile(dir.file("twprinter.ini"),
                        "[CONFIGURATION]\nHOSTNAME=127.0.0.1\nSERVERNAME=1\nLUTYPE=1\n"
                        "CONNECTTIMEOUT=0\n");
    NotifySocket sock(dir.file("notify"));
    pid_t pid = fork();
    if (pid == 0) {
        setenv("TWPRINTER_DIR", dir.path().c_str(), 1);
        setenv("NOTIFY_SOCKET", dir.file("notify").c_str(), 1);
        setenv("WATCHDOG_USEC", "400000", 1);
        std::string self = std::to_string(getpid());
        setenv("WATCHDOG_PID", self.c_str(), 1);
        if (chdir(dir.path().c_str()) != 0) _exit(126);
        if (!freopen("/dev/null", "w", stderr)) _exit(125);
        execl(TWPRINTERD_PATH, TWPRINTERD_PATH, static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_GT(pid, 0);
    std::vector<std::string> got;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    while (std::chrono::steady_clock::now() < end)
        for (auto& m : sock.Receive(100))
            got.push_back(m);
    kill(pid, SIGTERM);
    for (auto& m : sock.Receive(1000))
        got.push_back(m);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    auto count = [&](const std::string& prefix) {
        int n = 0;
        for (const auto& m : got)
            n += m.rfind(prefix, 0) == 0;
        return n;
    };
    std::string all;
    for (const auto& m : got)
        all += m + "|";
    EXPECT_EQ(count("READY=1"), 1) << all;
    EXPECT_GE(count("STATUS=Attempting to connect..."), 1) << all;
    EXPECT_GE(count("STATUS=Unable to connect:"), 1) << all;
    // 1.5 s at a 400 ms interval: a ping every 200 ms, give or take scheduling.
    EXPECT_GE(count("WATCHDOG=1"), 4) << all;
    EXPECT_LE(count("WATCHDOG=1"), 9) << all;
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(count("STOPPING=1"), 1) << all;
    // Nothing but status lines after the stop notice.
    bool stopped = false;
    for (const auto& m : got) {
        if (stopped) {
            EXPECT_EQ(m.rfind("STATUS=", 0), 0u) << all;
        }
        if (m == "STOPPING=1") stopped = true;
    }
}

} // namespace
