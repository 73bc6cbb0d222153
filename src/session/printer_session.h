// One printer LU: its settings, connection, protocol state, data stream,
// delivery and counters, run on a thread of its own. Many can run in one process.
#pragma once
#include <memory>
#include <string>

#include "config/settings.h"

namespace config {
class Reporter;
}
namespace archive {
class Archive;
}

namespace session {

struct LuCounters;
class LuHistory;
class KeptJobDesk;

class PrinterSession {
  public:
    // The session keeps its own settings: later changes by whoever made them are not seen.
    // archive: where its jobs are archived when ARCHIVEDAYS is on (a pool's, opened by
    // the pool); null for one of its own.
    PrinterSession(config::Settings settings, config::Reporter& reporter,
                   std::shared_ptr<archive::Archive> archive = nullptr);
    // Stops and joins a run still going.
    ~PrinterSession();
    PrinterSession(const PrinterSession&) = delete;
    PrinterSession& operator=(const PrinterSession&) = delete;

    // Launches the run on its own thread; false when one is running or no stop event could be made.
    bool Start();
    // Sets the stop event, wakes any wait, joins.
    void Stop();
    // Stop without the join: many sessions can be told at once, then waited for.
    void RequestStop();
    // A job was begun and not yet ended. Any thread.
    bool JobInProgress() const;
    // The session is connected and bound to its LU. Any thread.
    bool Online() const;
    bool Running() const;
    // Blocks until the run ends: 69 after a stop, else the message number that ended it.
    int Wait();
    // The run on the calling thread (connect, receive, reconnect, until stop or error).
    int Run();

    // One line: state, LU, jobs delivered and failed, the last job, jobs received, kept
    // jobs delivered again and waiting, print bytes and bytes on the wire. Any thread.
    std::string StatusSummary() const;
    // The LU's counters; they outlive the session for whoever holds them.
    std::shared_ptr<const LuCounters> Counters() const;
    // Its last jobs and errors, and where its kept jobs are asked for; both outlive it.
    std::shared_ptr<const LuHistory> History() const;
    std::shared_ptr<KeptJobDesk> KeptJobs() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace session
