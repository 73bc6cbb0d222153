// Service manager notifications. The notify protocol is one datagram per
// message to the socket named by $NOTIFY_SOCKET; speaking it directly keeps
// libsystemd and its compression and crypto libraries out of a process that
// may run fifty times on one machine.
#include "session/notify.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

namespace session {

namespace {

void Send(const std::string& state) {
    const char* path = std::getenv("NOTIFY_SOCKET");
    if (!path || !*path) return;
    size_t len = std::strlen(path);
    sockaddr_un addr{};
    if ((path[0] != '/' && path[0] != '@') || len >= sizeof addr.sun_path) return;
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path, len);
    if (path[0] == '@') addr.sun_path[0] = '\0'; // abstract namespace
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    ::sendto(fd, state.data(), state.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&addr),
             static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + len));
    ::close(fd);
}

} // namespace

void NotifyReady() {
    Send("READY=1");
}

void NotifyStatus(const std::string& text) {
    // The status is one line; a message with line breaks is flattened.
    std::string flat;
    for (char c : text)
        flat += (c == '\n' || c == '\r') ? ' ' : c;
    Send("STATUS=" + flat);
}

void NotifyWatchdog() {
    Send("WATCHDOG=1");
}

void NotifyStopping() {
    Send("STOPPING=1");
}

unsigned long long NotifyWatchdogUsec() {
    const char* usec = std::getenv("WATCHDOG_USEC");
    if (!usec || !*usec) return 0;
    // The interval is meant for the process named in WATCHDOG_PID, when set.
    const char* pid = std::getenv("WATCHDOG_PID");
    if (pid && *pid && std::strtol(pid, nullptr, 10) != static_cast<long>(getpid())) return 0;
    return std::strtoull(usec, nullptr, 10);
}

} // namespace session
