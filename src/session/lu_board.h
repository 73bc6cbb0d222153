// The LUs of this process as a status endpoint sees them: names, where they
// connect and their counters, changed by whoever runs the LUs and read by
// another thread. Only the board's own lock is taken; no session's.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "config/settings.h"
#include "session/kept_job_desk.h"
#include "session/lu_counters.h"
#include "session/lu_history.h"

namespace session {

struct LuEntry {
    std::string name;
    std::string host;     // host:port
    long retryMs = 15000; // RETRYINTERVAL
    bool valid = true;    // its settings are in order
    std::string stopped;  // why it does not run, "" while it runs
    std::string failedDir;
    std::string notifyCommand;                  // NOTIFYCOMMAND, "" none
    long notifyAfterS = 300;                    // NOTIFYAFTER
    std::shared_ptr<const LuCounters> counters; // null while no session ran
    std::shared_ptr<const LuHistory> history;   // null while no session ran
    std::shared_ptr<KeptJobDesk> keptJobs;      // null while no session ran
    std::string archiveDir;                     // ARCHIVEDIR when ARCHIVEDAYS is on, else ""
    // As the session was started with, for printing its archived jobs again; null none.
    std::shared_ptr<const config::Settings> settings;
};

class LuBoard {
  public:
    void Set(LuEntry entry) {
        std::lock_guard<std::mutex> lock(mutex_);
        entries_[entry.name] = std::move(entry);
        ++changes_;
    }
    void Remove(const std::string& name) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (entries_.erase(name)) ++changes_;
    }
    // The entry of name; false when the board has none.
    bool Find(const std::string& name, LuEntry& out) const {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = entries_.find(name);
        if (it == entries_.end()) return false;
        out = it->second;
        return true;
    }
    std::vector<LuEntry> Snapshot() const {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<LuEntry> out;
        out.reserve(entries_.size());
        for (const auto& e : entries_)
            out.push_back(e.second);
        return out;
    }

    // Copies the board into copy when it changed since version, the value the
    // last call wrote back; false when copy is still current. A reader that
    // asks often thus copies nothing while the LUs stay as they are.
    bool Refresh(std::vector<LuEntry>& copy, uint64_t& version) const {
        std::lock_guard<std::mutex> lock(mutex_);
        if (version == changes_) return false;
        copy.clear();
        copy.reserve(entries_.size());
        for (const auto& e : entries_)
            copy.push_back(e.second);
        version = changes_;
        return true;
    }

  private:
    mutable std::mutex mutex_;
    uint64_t changes_ = 1;
    std::map<std::string, LuEntry> entries_;
};

} // namespace session
