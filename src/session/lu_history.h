// The last jobs and errors of one LU, for a status page: written by the
// session and its delivery, read by another thread under a lock of its own
// that is held only to copy a few lines.
#pragma once
#include <cstdint>
#include <ctime>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace config {
struct JobReport;
}

namespace session {

struct JobEntry {
    int64_t time = 0;    // Unix seconds of its last news
    std::string name;    // the job file, absolute
    long pages = 0;      // as received
    long long bytes = 0; // as received
    std::string outcome; // "received", "delivered", "failed" or "kept"
    std::string where;   // where it went or was meant to go
    std::string reason;  // why it failed
    std::string kept;    // where it is kept, "" when it is not
};

struct ErrorEntry {
    int64_t time = 0;
    std::string text;
};

class LuHistory {
  public:
    static constexpr size_t kJobs = 50, kErrors = 20;

    // A job received or its outcome; a failed one is an error too.
    void Job(const config::JobReport& job);
    void Error(const std::string& text);

    // Newest first.
    std::vector<JobEntry> Jobs() const;
    std::vector<ErrorEntry> Errors() const;
    // Jobs received since local midnight.
    long JobsToday(int64_t now) const;

  private:
    mutable std::mutex mutex_;
    std::deque<JobEntry> jobs_;
    std::deque<ErrorEntry> errors_;
    long today_ = 0;
    int todayDate_ = 0; // yyyymmdd of today_
};

} // namespace session
