// The host side of the telnet START-TLS exchange.
#include "starttls.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250,
                  kSe = 240, kStartTls = 46, kFollows = 1;

std::string Hex(const uint8_t* b, size_t n) {
    std::string s;
    char buf[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", b[i]);
        s += buf;
    }
    return s;
}

bool SendAll(int fd, const std::vector<uint8_t>& b, std::string& err) {
    size_t off = 0;
    while (off < b.size()) {
        long n = ::send(fd, b.data() + off, b.size() - off, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            err = "send failed";
            return false;
        }
        off += size_t(n);
    }
    return true;
}

// One START-TLS event from the client: WILL, WONT or a subnegotiation body.
struct Event {
    uint8_t cmd = 0; // kWill, kWont or kSb
    std::vector<uint8_t> sub;
};

class Reader {
  public:
    Reader(int fd, int timeoutMs, const std::function<void(uint8_t)>& onByte)
        : fd_(fd), timeoutMs_(timeoutMs), onByte_(onByte) {}

    // Reads until the next event for option 46; other telnet traffic is skipped.
    bool Next(Event& e, const char* what, std::string& err) {
        auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs_);
        for (;;) {
            uint8_t c;
            int left =
                int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                        .count());
            pollfd p{fd_, POLLIN, 0};
            if (left <= 0 || ::poll(&p, 1, left) == 0) {
                err = std::string("no ") + what;
                return false;
            }
            long n = ::recv(fd_, &c, 1, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                err = std::string("connection closed before ") + what;
                return false;
            }
            onByte_(c);
            if (Feed(c, e)) return true;
        }
    }

  private:
    bool Feed(uint8_t c, Event& e) {
        switch (state_) {
        case 0: // data
            if (c == kIac) state_ = 1;
            return false;
        case 1: // after IAC
            if (c == kSb) {
                sub_.clear();
                state_ = 3;
            } else if (c >= kWill && c <= kDont) {
                cmd_ = c;
                state_ = 2;
            } else {
                state_ = 0;
            }
            return false;
        case 2: // option of WILL/WONT/DO/DONT
            state_ = 0;
            if (c != kStartTls || (cmd_ != kWill && cmd_ != kWont)) return false;
            e = {cmd_, {}};
            return true;
        case 3: // subnegotiation body
            if (c == kIac)
                state_ = 4;
            else
                sub_.push_back(c);
            return false;
        default: // IAC inside a subnegotiation
            if (c != kSe) {
                sub_.push_back(c);
                state_ = 3;
                return false;
            }
            state_ = 0;
            if (sub_.empty() || sub_[0] != kStartTls) return false;
            e = {kSb, sub_};
            return true;
        }
    }

    int fd_;
    int timeoutMs_;
    const std::function<void(uint8_t)>& onByte_;
    int state_ = 0;
    uint8_t cmd_ = 0;
    std::vector<uint8_t> sub_;
};

bool IsFollows(const Event& e) {
    return e.cmd == kSb && e.sub.size() == 2 && e.sub[1] == kFollows;
}

} // namespace

StartTlsResult HostStartTls(int fd, bool serverFirst, int timeoutMs,
                            const std::function<void(uint8_t)>& onByte, std::string& err) {
    Reader in(fd, timeoutMs, onByte);
    Event e;
    if (!SendAll(fd, {kIac, kDo, kStartTls}, err)) return StartTlsResult::Failed;
    if (!in.Next(e, "answer to DO START-TLS", err)) return StartTlsResult::Failed;
    if (e.cmd == kWont) return StartTlsResult::Refused;
    if (e.cmd != kWill) {
        err = "START-TLS subnegotiation " + Hex(e.sub.data(), e.sub.size()) + " before WILL";
        return StartTlsResult::Failed;
    }
    const std::vector<uint8_t> follows{kIac, kSb, kStartTls, kFollows, kIac, kSe};
    if (serverFirst && !SendAll(fd, follows, err)) return StartTlsResult::Failed;
    if (!in.Next(e, "START-TLS FOLLOWS from the client", err)) return StartTlsResult::Failed;
    if (!IsFollows(e)) {
        err = e.cmd == kSb ? "START-TLS subnegotiation " + Hex(e.sub.data(), e.sub.size()) +
                                 " is not FOLLOWS"
                           : "WILL/WONT START-TLS again instead of FOLLOWS";
        return StartTlsResult::Failed;
    }
    if (!serverFirst) {
        // A client that starts its handshake before our FOLLOWS is wrong; give
        // it a moment to show it, without taking its bytes from the socket.
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) > 0) {
            uint8_t b[16];
            long n = ::recv(fd, b, sizeof b, MSG_PEEK);
            err = n > 0 ? "client sent " + Hex(b, size_t(n)) + " before the server's FOLLOWS"
                        : "connection closed before the server's FOLLOWS";
            return StartTlsResult::Failed;
        }
        if (!SendAll(fd, follows, err)) return StartTlsResult::Failed;
    }
    return StartTlsResult::Ready;
}

bool HostStartTlsGarbage(int fd, int timeoutMs, const std::function<void(uint8_t)>& onByte,
                         std::string& err) {
    pollfd p{fd, POLLIN, 0};
    uint8_t b[4096];
    long n = ::poll(&p, 1, timeoutMs) > 0 ? ::recv(fd, b, sizeof b, 0) : -1;
    if (n <= 0) {
        err = n == 0 ? "connection closed instead of a TLS client hello"
                     : "no TLS client hello after FOLLOWS";
        return false;
    }
    for (long i = 0; i < n; ++i)
        onByte(b[i]);
    // Plain text: its first byte is no TLS content type.
    static const char kJunk[] = "this is no TLS\r\n";
    return SendAll(fd, std::vector<uint8_t>(kJunk, kJunk + sizeof kJunk - 1), err);
}
