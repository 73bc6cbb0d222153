// The service manager's notify protocol, received on a real datagram socket.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

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

} // namespace
