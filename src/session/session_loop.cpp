// One connection cycle: connect (retrying as the settings say), then receive
// until the host closes, an error ends the run or the session is stopped.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "config/messages.h"
#include "config/report.h"
#include "config/utilities.h"
#include "platform/sysinfo.h"
#include "session/session_impl.h"

namespace session {

namespace {

constexpr size_t kMaxLuName = 82;

config::Result NameTooLong(const config::Settings& s) {
    const auto& c = s.connectName;
    const auto& a = s.associateName;
    if (c && c->size() > kMaxLuName)
        return {config::MSG_CFG_CONNECT_LU,
                "connect name of " + std::to_string(c->size()) + " characters; at most " +
                    std::to_string(kMaxLuName) + " fit",
                "CONNECTNAME"};
    if (!(c && !c->empty()) && a && a->size() > kMaxLuName)
        return {config::MSG_CFG_ASSOC_TOO_LONG,
                *a + " (" + std::to_string(a->size()) + " characters; at most " +
                    std::to_string(kMaxLuName) + " fit)",
                "ASSOCIATENAME"};
    return {};
}

// What a new connection starts from; the host may change it.
void ResetPrintState(datastream::PrintState& ps, const config::Settings& s) {
    ps.luType = s.luType == 1 ? 1 : 3;
    ps.bracket = 0;
    ps.sfMode = false;
    ps.extendedTypes = false;
    ps.tblRows = ps.altRows = 27;
    ps.tblCols = ps.altCols = 132;
    ps.rows = 24;
    ps.cols = 80;
    ps.maxRecord = 2048;
}

} // namespace

config::Result PrinterSession::Impl::OpenSession() {
    const long retryMs = settings.retryDelayMs < 0 ? 15000 : settings.retryDelayMs;
    host = settings.host;
    if (host.empty()) {
        char name[64];
        if (gethostname(name, sizeof name) != 0)
            return config::SystemFailure(config::MSG_NO_LOCAL_HOST, errno);
        name[sizeof name - 1] = 0;
        host = name;
    }
    ResetPrintState(stream->State(), settings);
    const ProtocolConfig config = ProtocolConfig::From(settings);
    if (settings.sessionId && !settings.sessionId->empty())
        config::Trace("SessionNew Session = sp->session = %d\n", config.sessionId);
    if (settings.luAddress && !settings.luAddress->empty())
        config::Trace("SessionNEw LU = %d\n", config.luAddress);
    if (config::Result tooLong = NameTooLong(settings); !tooLong.ok()) return tooLong;

    SetOnline(1);
    if (attemptStart == 0) attemptStart = platform::MonotonicMs();
    const uint64_t start = attemptStart;
    if (reconnectAfterClose) {
        reconnectAfterClose = false;
        if (Stopped(static_cast<int>(retryMs))) return config::MSG_EXIT_PARENT;
        ReportStatus(reporter, config::MSG_ATTEMPTING_CONNECT);
    }
    // CONNECTTIMEOUT bounds the whole of the attempts: no pause nor connect runs past it.
    const uint64_t limit = static_cast<uint64_t>(std::max(settings.connectTimeoutMs, 0L));
    auto left = [&]() -> long {
        if (limit == 0) return -1;
        const uint64_t spent = platform::MonotonicMs() - start;
        return spent >= limit ? 0 : static_cast<long>(limit - spent);
    };
    config::Result rc = Connect(limit ? std::max(left(), 1L) : -1);
    while (!rc.ok()) {
        if (rc.code == config::MSG_EXIT_PARENT || rc.code == config::MSG_INVALID_PORT) return rc;
        if (left() == 0) {
            // The last attempt: no delay follows it, and the end of the run says offline.
            reporter.ShowStatusMessage(rc.code, rc.Text());
            return {config::MSG_UNABLE_CONNECT_SERVER, {}, rc.subject};
        }
        ReportStatus(reporter, rc);
        const long pause = limit ? std::min(retryMs, left()) : retryMs;
        if (Stopped(static_cast<int>(pause))) return config::MSG_EXIT_PARENT;
        ReportStatus(reporter, config::MSG_ATTEMPTING_CONNECT);
        CloseConnection();
        rc = Connect(limit ? std::max(left(), 1L) : -1);
    }
    // With TLS still to be negotiated, the attempt is not over yet.
    if (!protocol->TlsPending()) attemptStart = 0;
    // Online only once the negotiation lets records through (Ready).
    lastDataTick = platform::MonotonicMs();
    stream->StartConnection();
    return {};
}

config::Result PrinterSession::Impl::ProtocolFailure(int code) {
    config::Result why = protocol->TakeFailure();
    if (why.code == code) return why;
    if (sendFailure.code == code) return std::exchange(sendFailure, {});
    return code;
}

config::Result PrinterSession::Impl::MainLoop() {
    const long eojTimeoutMs = settings.eojTimeoutMs;
    for (;;) {
        config::Result rc;
        if (transport && transport->Pending()) {
            rc = Receive();
        } else {
            config::Trace("Calling select() in PtMainLoop()\n");
            int timeout = -1;
            if (eojTimeoutMs > 0 && stream->JobOpen()) {
                uint64_t idle = platform::MonotonicMs() - lastDataTick.load();
                timeout = idle >= static_cast<uint64_t>(eojTimeoutMs)
                              ? 0
                              : static_cast<int>(eojTimeoutMs - static_cast<long>(idle));
            }
            if (storeFault) {
                uint64_t since = platform::MonotonicMs() - lastProbeTick;
                int wait = since >= kProbeMs ? 0 : kProbeMs - static_cast<int>(since);
                if (timeout < 0 || wait < timeout) timeout = wait;
            }
            pollfd p[2] = {{socket, POLLIN, 0}, {stop.fd(), POLLIN, 0}};
            int r = ::poll(p, 2, timeout);
            if (p[1].revents & POLLIN) return config::MSG_EXIT_PARENT;
            if (r < 0) {
                if (errno == EINTR) continue;
                return config::SystemFailure(config::MSG_SOCKET_ERROR, errno, host);
            }
            if (r == 0) {
                if (storeFault && platform::MonotonicMs() - lastProbeTick >= kProbeMs) {
                    ProbeStoreFault();
                    continue;
                }
                // A job that has been silent for too long is ended as by PRINT-EOJ.
                if (eojTimeoutMs > 0 && stream->JobOpen() &&
                    platform::MonotonicMs() - lastDataTick.load() >=
                        static_cast<uint64_t>(eojTimeoutMs)) {
                    config::Trace("No data for %ld s: job ended\n", eojTimeoutMs / 1000);
                    EndJob();
                    stream->State().bracket = 0;
                }
                continue;
            }
            if (!p[0].revents) continue;
            config::Trace("FD_ISSET() TRUE, calling TelProc()\n");
            rc = Receive();
        }
        if (rc.code == kConnectionClosed && !stop.IsSet() && protocol->TlsPending())
            rc = {config::MSG_UNABLE_CONNECT,
                  "TLS: the server closed the connection without offering START-TLS, "
                  "which STARTTLS=2 requires",
                  host};
        if (rc.code == config::MSG_UNABLE_CONNECT) return TlsAttemptFailed(rc);
        if (rc.code == kConnectionClosed || rc.code == kRecordTooLong) {
            if (stop.IsSet()) return config::MSG_EXIT_PARENT;
            // The job received so far is delivered, never lost.
            if (stream->JobOpen()) EndJob();
            stream->State().bracket = 0;
            SetOnline(1);
            if (rc.code == kRecordTooLong)
                reporter.StatusLine("A record longer than " + std::to_string(RecordBuffer::kMax) +
                                    " bytes from the server was refused; the connection is "
                                    "reset. " +
                                    config::LoadMessage(96));
            else if (!protocol->Ready())
                // Closed in the negotiation: what it was last told is most likely what it refused.
                reporter.StatusLine(config::StatusMessage(2, &settings.statusMessages) +
                                    ": server closed the connection " +
                                    (protocol->LastTold().empty()
                                         ? std::string("before any negotiation")
                                         : "after " + protocol->LastTold()) +
                                    "\n" + config::LoadMessage(96));
            else
                reporter.StatusLine(config::StatusMessage(2, &settings.statusMessages) + "\n" +
                                    config::LoadMessage(96));
            reconnectAfterClose = true;
            return {};
        }
        if (!rc.ok()) return rc;
        config::Trace("TelProc() returned 0\n");
    }
}

config::Result PrinterSession::Impl::TlsAttemptFailed(const config::Result& why) {
    ReportStatus(reporter, why);
    SetOnline(1);
    reporter.ShowOnlineState(false);
    const uint64_t now = platform::MonotonicMs();
    if (attemptStart == 0) attemptStart = now;
    if (settings.connectTimeoutMs != 0 &&
        now - attemptStart > static_cast<uint64_t>(settings.connectTimeoutMs))
        return {config::MSG_UNABLE_CONNECT_SERVER, {}, why.subject};
    reconnectAfterClose = true;
    return {};
}

config::Result PrinterSession::Impl::Receive() {
    if (!transport || receiveBuffer.empty()) return {};
    for (;;) {
        long n = transport->Recv(receiveBuffer.data(), receiveBuffer.size());
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return {};
            if (errno == ECONNRESET || errno == ENOTCONN || errno == EPIPE)
                return kConnectionClosed;
            return config::SystemFailure(config::MSG_SOCKET_ERROR, errno, host);
        }
        if (n == 0) return kConnectionClosed;
        bytesReceived += static_cast<uint64_t>(n);
        counters->bytes.fetch_add(static_cast<uint64_t>(n), std::memory_order_relaxed);
        lastDataTick = platform::MonotonicMs();
        trace.Received(receiveBuffer.data(), static_cast<size_t>(n));
        const int fed = protocol->Feed({receiveBuffer.data(), static_cast<size_t>(n)});
        // What the receive's records hold is on disk before the next read or wait.
        StorePending();
        if (fed) return ProtocolFailure(fed);
        if (protocol->TlsReady()) {
            const size_t at = protocol->TlsOffset();
            config::Result rc = StartTls({receiveBuffer.data() + at, static_cast<size_t>(n) - at});
            if (!rc.ok()) return rc;
            continue;
        }
        if (!protocol->ReadsOn()) return {};
        // A short read most likely emptied the socket: the wait finds out, not
        // another read that fails (a host in lockstep sends nothing until answered).
        if (static_cast<size_t>(n) < receiveBuffer.size()) return {};
    }
}

} // namespace session
