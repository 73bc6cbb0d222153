// A Prometheus-like scraper: GET /metrics of 127.0.0.1:PORT every INTERVAL ms,
// each on a fresh connection, until the file STOP exists. One long-lived
// process, as a real scraper is, so the machine's cores go to what is
// measured rather than to starting a client ten times a second.
// Usage: scraper PORT INTERVAL_MS STOP; prints one line per scrape:
// "STATUS MILLISECONDS BYTES UP STARTED FIRST" (status 0: no answer): the time
// from connect to last byte; UP the LUs online, STARTED those that have tried to
// connect (so that the pool's start can be told from what follows); FIRST the
// milliseconds to the first byte (the server's share: waking, rendering, writing).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "../tests/status_http.h"

namespace {

using Clock = std::chrono::steady_clock;

// The LUs whose series name has a value that pred likes.
template <typename Pred> int Count(const std::string& body, const std::string& name, Pred pred) {
    const std::string start = "\n" + name + "{";
    int n = 0;
    for (size_t at = 0; (at = body.find(start, at)) != std::string::npos; ++at) {
        const size_t value = body.find("} ", at);
        if (value != std::string::npos && pred(std::atol(body.c_str() + value + 2))) ++n;
    }
    return n;
}

const std::string kRequest = "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                             "Accept: text/plain;version=0.0.4\r\nConnection: close\r\n\r\n";

void Scrape(int port) {
    const Clock::time_point start = Clock::now();
    double firstMs = 0;
    const std::string got = Ask(port, kRequest, &firstMs);
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    const std::string body = Body(got);
    std::printf("%d %.3f %zu %d %d %.3f\n", Status(got), ms, body.size(),
                Count(body, "twprinter_up", [](long v) { return v == 1; }),
                Count(body, "twprinter_connection_attempts_total", [](long v) { return v > 0; }),
                firstMs);
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
