// The LUs of a board in the Prometheus text format, and whether they are ready.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "session/lu_board.h"

namespace service {

// Writes /metrics: one series per LU (label lu) and the process's own figures.
// A scrape reads the counters as they stand and keeps what the next one can
// use again (the board's copy, the labels, the folder counts, the buffer's
// size), so a pool of hundreds of LUs costs no allocation or system call per
// series. One thread at a time: the endpoint's own.
class MetricsWriter {
  public:
    explicit MetricsWriter(const session::LuBoard& board) : board_(board) {}
    // nowMs: a monotonic clock in milliseconds, for the age of folder counts.
    std::string Render(int64_t nowMs);

  private:
    void Refresh();
    long Waiting(size_t i, int64_t nowMs);

    struct Kept {
        long count = -1; // not counted yet
        uint64_t kept = 0, delivered = 0;
        int64_t atMs = 0;
    };
    const session::LuBoard& board_;
    uint64_t version_ = 0;
    std::vector<session::LuEntry> lus_;
    std::string labels_;            // lu="A"lu="B"... escaped
    std::vector<uint32_t> labelAt_; // where each LU's label starts in labels_, and the end
    std::vector<Kept> kept_;
    size_t lastSize_ = 0;
};

// "" when every LU with valid settings is online or has been offline for no
// longer than its RETRYINTERVAL; else one line per LU that is not, with why.
std::string NotReady(const std::vector<session::LuEntry>& lus, int64_t now);
// Jobs waiting in a failed folder.
long KeptJobCount(const std::string& failedDir);

} // namespace service
