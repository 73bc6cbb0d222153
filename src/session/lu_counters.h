// What one LU has done, kept as atomics so that a status endpoint on another
// thread reads it without ever holding up the session that writes it.
#pragma once
#include <atomic>
#include <cstdint>
#include <ctime>

#include "config/messages.h"
#include "config/report.h"
#include "session/lu_history.h"

namespace session {

struct LuCounters {
    // Upper bounds of the response-time buckets, in microseconds (then +Inf).
    static constexpr uint64_t kBucketsUs[] = {100,  250,   500,   1000,  2500,
                                              5000, 10000, 50000, 250000};
    static constexpr int kBuckets = sizeof kBucketsUs / sizeof kBucketsUs[0];

    std::atomic<uint64_t> connectAttempts{0}, jobsReceived{0}, jobsDelivered{0}, jobsFailed{0},
        jobsKept{0}, records{0}, bytes{0}, negativeResponses{0};
    std::atomic<int> state{0};           // 0 offline, 1 connecting, 2 online
    std::atomic<int64_t> lastJobTime{0}; // Unix seconds, 0 none
    std::atomic<int64_t> lastStateChange{time(nullptr)};
    // Since when the LU is not online (Unix seconds), 0 while online.
    std::atomic<int64_t> offlineSince{time(nullptr)};
    std::atomic<uint64_t> responseBucket[kBuckets + 1]{};
    std::atomic<uint64_t> responseCount{0}, responseSumUs{0};

    void SetState(int s) {
        if (state.exchange(s) == s) return;
        const int64_t now = time(nullptr);
        lastStateChange = now;
        if (s == 2)
            offlineSince = 0;
        else if (offlineSince.load() == 0)
            offlineSince = now;
    }
    void Response(uint64_t us, bool negative) {
        int b = 0;
        while (b < kBuckets && us > kBucketsUs[b])
            ++b;
        responseBucket[b].fetch_add(1, std::memory_order_relaxed);
        responseCount.fetch_add(1, std::memory_order_relaxed);
        responseSumUs.fetch_add(us, std::memory_order_relaxed);
        if (negative) negativeResponses.fetch_add(1, std::memory_order_relaxed);
    }
};

// Passes every report on to the LU's own reporter, counts the jobs it tells of
// and keeps the last jobs and errors.
class CountingReporter final : public config::ForwardingReporter {
  public:
    CountingReporter(config::Reporter& to, LuCounters& counters, LuHistory& history)
        : config::ForwardingReporter(to), c_(counters), h_(history) {}
    void ShowStatusMessage(int code, const std::string& text) override {
        if (code != config::MSG_ATTEMPTING_CONNECT) h_.Error(text);
        to_.ShowStatusMessage(code, text);
    }
    void ShowMessageBox(const std::string& text) override {
        h_.Error(text);
        to_.ShowMessageBox(text);
    }
    void JobReported(const config::JobReport& job) override {
        if (job.received) {
            c_.jobsReceived.fetch_add(1, std::memory_order_relaxed);
            c_.lastJobTime = time(nullptr);
            printBytes.fetch_add(static_cast<uint64_t>(job.bytes), std::memory_order_relaxed);
        } else if (!job.kept.empty()) {
            // A failure keeps the job; a delivery with a kept path delivered it again.
            (job.delivered ? deliveredAgain : c_.jobsKept).fetch_add(1, std::memory_order_relaxed);
        }
        h_.Job(job);
        to_.JobReported(job);
    }
    // The summary line's figures beside the counters: the jobs' file bytes and
    // the kept jobs delivered again.
    std::atomic<uint64_t> printBytes{0}, deliveredAgain{0};

  private:
    LuCounters& c_;
    LuHistory& h_;
};

} // namespace session
