// A Prometheus-like scraper: GET /metrics of 127.0.0.1:PORT every INTERVAL ms,
// each on a fresh connection, until the file STOP exists. One long-lived
// process, as a real scraper is, so the machine's cores go to what is
// measured rather than to starting a client ten times a second.
// Usage: scraper PORT INTERVAL_MS STOP; prints one line per scrape:
// "STATUS MILLISECONDS BYTES" (status 0: no answer), from connect to last byte.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

void Scrape(int port) {
    const Clock::time_point start = Clock::now();
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    timeval tv{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    static const char kAsk[] = "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                               "Accept: text/plain;version=0.0.4\r\nConnection: close\r\n\r\n";
    std::string got;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::send(fd, kAsk, sizeof kAsk - 1, MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof kAsk - 1)) {
        static char b[1 << 16];
        for (ssize_t n; (n = ::read(fd, b, sizeof b)) > 0;)
            got.append(b, static_cast<size_t>(n));
    }
    ::close(fd);
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    const int status = got.size() > 12 ? std::atoi(got.c_str() + 9) : 0;
    const size_t head = got.find("\r\n\r\n");
    const size_t body = head == std::string::npos ? 0 : got.size() - head - 4;
    std::printf("%d %.3f %zu\n", status, ms, body);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: scraper PORT INTERVAL_MS STOP\n");
        return 2;
    }
    const int port = std::atoi(argv[1]);
    const auto interval = std::chrono::milliseconds(std::atoi(argv[2]));
    Clock::time_point next = Clock::now();
    while (::access(argv[3], F_OK) != 0) {
        Scrape(port);
        next += interval;
        if (next < Clock::now()) next = Clock::now();
        std::this_thread::sleep_until(next);
    }
    return 0;
}
