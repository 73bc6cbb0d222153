// Writing to the host: each chunk of the protocol as one send, traced, with a
// wait of at most 5 seconds whenever the socket takes no more.
#include <poll.h>

#include <cerrno>
#include <ctime>

#include "config/messages.h"
#include "config/utilities.h"
#include "session/session_impl.h"

namespace session {

int PrinterSession::Impl::Send(std::span<const uint8_t> chunk) {
    auto fail = [&](int err) {
        sendFailure = config::SystemFailure(config::MSG_SOCKET_ERROR, err, host);
        return sendFailure.code;
    };
    if (!transport) return fail(ENOTCONN);
    const uint8_t* bytes = chunk.data();
    size_t length = chunk.size();
    while (length > 0) {
        long n = transport->Send(bytes, length);
        if (n > 0) trace.Wrote(bytes, length, static_cast<size_t>(n));
        if (n >= 0 && static_cast<size_t>(n) == length) return 0;
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
                n = 0;
            } else {
                // A stop request shuts the socket down under a send in progress.
                if (stop.IsSet()) return config::MSG_EXIT_PARENT;
                return fail(errno);
            }
        }
        bytes += n;
        length -= static_cast<size_t>(n);
        config::Result rc = WaitWritable();
        if (!rc.ok()) {
            sendFailure = std::move(rc);
            return sendFailure.code;
        }
    }
    return 0;
}

config::Result PrinterSession::Impl::WaitWritable() {
    time_t deadline = std::time(nullptr) + 5;
    for (;;) {
        pollfd p[2] = {{socket, POLLOUT, 0}, {stop.fd(), POLLIN, 0}};
        int r = ::poll(p, 2, 5000);
        if (p[1].revents & POLLIN) return config::MSG_EXIT_PARENT;
        if (r < 0) {
            if (errno == EINTR) continue;
            return config::SystemFailure(config::MSG_SOCKET_ERROR, errno, host);
        }
        if (r > 0 && p[0].revents) return {};
        if (std::time(nullptr) > deadline) return config::MSG_WRITE_TIMEOUT;
    }
}

} // namespace session
