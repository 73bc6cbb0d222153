// A Prometheus-like scraper: GET /metrics of 127.0.0.1:PORT every INTERVAL ms,
// each on a fresh connection, until the file STOP exists. One long-lived
// process, as a real scraper is, so the machine's cores go to what is
// measured rather than to starting a client ten times a second.
// Usage: scraper PORT INTERVAL_MS STOP; prints one line per scrape:
// "STATUS MILLISECONDS BYTES" (status 0: no answer), from connect to last byte.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "../tests/status_http.h"

namespace {

using Clock = std::chrono::steady_clock;

void Scrape(int port) {
    const Clock::time_point start = Clock::now();
    const std::string got =
        Ask(port, "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                  "Accept: text/plain;version=0.0.4\r\nConnection: close\r\n\r\n");
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    std::printf("%d %.3f %zu\n", Status(got), ms, Body(got).size());
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
