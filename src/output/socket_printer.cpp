// The socket medium: each job on its own TCP connection to a network printer
// (raw port printing), closed after the last byte.
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>

#include "config/messages.h"
#include "config/utilities.h"
#include "output/media.h"

namespace output {

namespace {

config::Result SocketFail(int err, int fd, const std::string& hostPort) {
    if (fd >= 0) ::close(fd);
    return config::SystemFailure(config::MSG_SOCKET_WRITE, err, hostPort);
}

// 1 ready, 0 timed out, kAbandoned when stopFd turned readable.
int WaitFd(int fd, short events, int timeoutMs, int stopFd) {
    pollfd p[2] = {{fd, events, 0}, {stopFd, POLLIN, 0}};
    int r;
    do
        r = ::poll(p, stopFd >= 0 ? 2 : 1, timeoutMs);
    while (r < 0 && errno == EINTR);
    if (stopFd >= 0 && (p[1].revents & POLLIN)) return kAbandoned;
    return r > 0 ? 1 : 0;
}

// Reset rather than closed: the kernel would otherwise go on sending what it holds,
// and the printer would print part of a job that is to be sent again whole.
int Abandon(int fd) {
    linger now{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &now, sizeof now);
    ::close(fd);
    return kAbandoned;
}

} // namespace

config::Result SendToSocket(const std::string& hostPort, long timeoutMs, const std::string& bytes,
                            int stopFd) {
    std::string host = "127.0.0.1", port = hostPort;
    size_t colon = hostPort.rfind(':');
    if (colon != std::string::npos) {
        host = hostPort.substr(0, colon);
        port = hostPort.substr(colon + 1);
        if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
            host = host.substr(1, host.size() - 2);
        if (host.empty()) host = "127.0.0.1";
    }
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    int rc = port.empty() ? EAI_SERVICE : ::getaddrinfo(host.c_str(), port.c_str(), &hints, &res);
    if (rc != 0) {
        return {config::MSG_SOCKET_WRITE, std::string(gai_strerror(rc)) + " (" + hostPort + ")",
                hostPort};
    }
    // A printer that hangs up must give a write error, not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    // Whole seconds from one second to an hour, as SOCKETTIMEOUT allows.
    int timeout = static_cast<int>(std::clamp(timeoutMs / 1000, 1L, 3600L) * 1000);
    int fd = -1, err = ECONNREFUSED;
    for (addrinfo* a = res; a; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            err = errno;
            continue;
        }
        if (::connect(fd, a->ai_addr, a->ai_addrlen) == 0) break;
        err = errno;
        if (err == EINPROGRESS) {
            int w = WaitFd(fd, POLLOUT, timeout, stopFd);
            if (w == kAbandoned) {
                ::freeaddrinfo(res);
                return Abandon(fd);
            }
            if (w) {
                socklen_t len = sizeof err;
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
                if (err == 0) break;
            } else {
                err = ETIMEDOUT;
            }
        }
        ::close(fd);
        fd = -1;
    }
    ::freeaddrinfo(res);
    if (fd < 0) return SocketFail(err, -1, hostPort);
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            int w = WaitFd(fd, POLLOUT, timeout, stopFd);
            if (w == kAbandoned) return Abandon(fd);
            if (!w) return SocketFail(ETIMEDOUT, fd, hostPort);
            continue;
        }
        return SocketFail(n < 0 ? errno : EPIPE, fd, hostPort);
    }
    ::shutdown(fd, SHUT_WR);
    ::close(fd);
    return {};
}

} // namespace output
