// Opening and closing the connection: name look-up, a connect that watches
// the stop event, the transport on top.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "config/messages.h"
#include "config/report.h"
#include "config/service.h"
#include "config/utilities.h"
#include "platform/sysinfo.h"
#include "session/session_impl.h"

namespace session {

namespace {

// One receive takes many records of a streaming host, and the records that lie
// whole in it are handed over from there without a copy.
constexpr size_t kReceiveSize = 64 * 1024;

// Connects fd to addr while watching stop: 0, an errno value, or -1 when
// stopped. A connect still pending after waitMs (negative: no limit) is ETIMEDOUT.
int ConnectWatched(int fd, const sockaddr_in& addr, const platform::Event& stop, long waitMs) {
    int flags = fcntl(fd, F_GETFL, 0);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) return 0;
    if (errno != EINPROGRESS) return errno;
    const uint64_t until = platform::MonotonicMs() + static_cast<uint64_t>(std::max(waitMs, 0L));
    for (;;) {
        int wait = -1;
        if (waitMs >= 0) {
            const uint64_t now = platform::MonotonicMs();
            if (now >= until) return ETIMEDOUT;
            wait = static_cast<int>(until - now);
        }
        pollfd p[2] = {{fd, POLLOUT, 0}, {stop.fd(), POLLIN, 0}};
        int r = ::poll(p, 2, wait);
        if (r < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (p[1].revents & POLLIN) return -1;
        if (p[0].revents) break;
    }
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) < 0) return errno;
    return err;
}

} // namespace

void PrinterSession::Impl::PublishSocket(int fd) {
    std::lock_guard<std::mutex> lock(socketMutex);
    socket = fd;
    publishedSocket = fd;
}

config::Result PrinterSession::Impl::Connect(long waitMs) {
    counters->connectAttempts.fetch_add(1, std::memory_order_relaxed);
    stream->State().owner = 2;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    int gai = getaddrinfo(host.c_str(), nullptr, &hints, &res);
    if (gai == 0 && res) {
        addr.sin_addr = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr;
        freeaddrinfo(res);
    } else {
        if (res) freeaddrinfo(res);
        config::Trace("gethostbyname() failed: %s\n", gai_strerror(gai));
        if (Stopped(0)) return config::MSG_EXIT_PARENT;
        if (inet_pton(AF_INET, host.c_str(), &addr.sin_addr) != 1) {
            // A name server that is down or a name not yet registered may come
            // right later: retried like a refused connection.
            return {config::MSG_UNABLE_CONNECT,
                    "host " + host + " cannot be resolved: " + gai_strerror(gai), host};
        }
    }
    const std::string service =
        settings.service.empty() ? config::kDefaultService : settings.service;
    bool fallback = false;
    const int port = config::ServicePort(service, &fallback);
    if (port == 0) {
        return {config::MSG_INVALID_PORT,
                service + " (neither a port number 1 to 65535 nor a service name of "
                          "/etc/services)",
                service};
    }
    if (fallback && !serviceFallbackNoted) {
        serviceFallbackNoted = true;
        reporter.StatusLine("Service " + service + " is not in /etc/services: port " +
                            std::to_string(port) + " is used");
    }
    addr.sin_port = htons(static_cast<uint16_t>(port));
    const std::string where = host + ":" + std::to_string(port);
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return config::SystemFailure(config::MSG_SOCKET_ERROR, errno, where);
    PublishSocket(fd);
    config::Trace("Trying to connect to %s\n", host.c_str());
    int err = ConnectWatched(fd, addr, stop, waitMs);
    if (err != 0) {
        PublishSocket(-1);
        ::close(fd);
        if (err < 0 || Stopped(0)) return config::MSG_EXIT_PARENT;
        // Which server refused matters once there are many LUs and hosts.
        return {config::MSG_UNABLE_CONNECT,
                host + " port " + std::to_string(port) + ": " +
                    config::FormatSystemError(nullptr, err),
                where};
    }
    config::Trace("Connected to %s\n", host.c_str());
    if (Stopped(0)) {
        PublishSocket(-1);
        ::close(fd);
        return config::MSG_EXIT_PARENT;
    }
    return Attach(fd);
}

config::Result PrinterSession::Impl::Attach(int fd) {
    protocol->Reset();
    receiveBuffer.assign(kReceiveSize, 0);
    int flags = fcntl(fd, F_GETFL, 0);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) {
        const config::Result failed = config::SystemFailure(config::MSG_SOCKET_ERROR, errno, host);
        ::close(fd);
        return failed;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    PublishSocket(fd);
    transport = MakeTransport(settings.tls, reporter, stop);
    config::Result rc = transport->Start(fd, host);
    if (!rc.ok()) CloseConnection();
    return rc;
}

config::Result PrinterSession::Impl::StartTls(std::span<const uint8_t> early) {
    config::Trace("START-TLS: TLS handshake with %zu bytes already read\n", early.size());
    int fd = transport ? transport->Detach() : -1;
    if (fd < 0) {
        return {config::MSG_UNABLE_CONNECT,
                "TLS: START-TLS inside a connection that cannot be handed over", host};
    }
    transport = MakeTlsTransport(settings.tls, reporter, stop, {early.begin(), early.end()});
    config::Result rc = transport->Start(fd, host);
    if (!rc.ok()) return rc;
    protocol->Secured();
    attemptStart = 0;
    reporter.StatusLine("TLS negotiated with " + host + " (START-TLS)");
    return 0;
}

void PrinterSession::Impl::CloseConnection() {
    trace.Close();
    if (transport) {
        // Cleared under the socket lock so that a Stop from another thread
        // never shuts down a descriptor number that has been reused.
        PublishSocket(-1);
        transport->Close();
        transport.reset();
    } else if (socket >= 0) {
        int fd = socket;
        PublishSocket(-1);
        ::close(fd);
    }
    protocol->Release();
    receiveBuffer.clear();
    receiveBuffer.shrink_to_fit();
}

} // namespace session
