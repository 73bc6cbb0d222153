// Failure notifications: an LU's NOTIFYCOMMAND run, without a shell, on a job
// kept, on the LU offline longer than NOTIFYAFTER seconds and on its return,
// with LU, EVENT, JOB and REASON in its environment. It watches the board's
// counters from a thread of its own, so a slow command never holds up a
// session; each run is bounded in time, and a failing one said once.
#pragma once
#include <atomic>
#include <map>
#include <string>
#include <thread>

namespace session {
class LuBoard;
struct LuEntry;
} // namespace session

namespace service {

class Notifier {
  public:
    // A command running longer than this is killed.
    static constexpr int kTimeoutMs = 10000;

    explicit Notifier(const session::LuBoard& board);
    ~Notifier();
    Notifier(const Notifier&) = delete;
    Notifier& operator=(const Notifier&) = delete;

    // Runs command (words split at blanks) with the event; "" when it exited
    // with 0, else why not.
    static std::string Run(const std::string& command, const std::string& lu,
                           const std::string& event, const std::string& job,
                           const std::string& reason, int timeoutMs = kTimeoutMs);

  private:
    struct Seen {
        const void* counters = nullptr; // of the session the counts are of
        unsigned long long kept = 0;
        bool offlineSaid = false;
        bool failureSaid = false;
    };
    void Watch();
    void Look(const session::LuEntry& lu, Seen& seen, long long now);
    void Event(const session::LuEntry& lu, Seen& seen, const char* event, const std::string& job,
               const std::string& reason);

    const session::LuBoard& board_;
    std::map<std::string, Seen> seen_;
    std::atomic<bool> quit_{false};
    std::thread thread_;
};

} // namespace service
