// How the LUs of a pool report: every line on standard error carries the LU's
// name and goes to the LU's own log in its spool folder as well.
#pragma once
#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

#include "config/report.h"

namespace session {

// One time-stamped line on standard error; lines of many threads never mix.
void PoolLine(const std::string& text);

class LuReport final : public config::Reporter {
  public:
    // logPath: the LU's own log, appended to; empty for none.
    LuReport(std::string name, const std::string& logPath);
    ~LuReport() override;
    LuReport(const LuReport&) = delete;
    LuReport& operator=(const LuReport&) = delete;

    void ShowOnlineState(bool online) override;
    void ShowStatusMessage(int code, const std::string& text) override;
    void ShowMessageBox(const std::string& text) override;
    // Nobody is there to answer; a headless printer keeps printing.
    bool AskYesNo(const std::string& question) override;
    void StatusLine(const std::string& text) override;

    // A line of the pool about this LU (not a report of its session).
    void Note(const std::string& text) { Line(text, false); }
    // A problem of the LU found by the pool (settings), kept as its last error.
    void Problem(const std::string& text) { Line(text, true); }
    std::string LastError() const;

  private:
    void Line(const std::string& text, bool problem);
    const std::string name_;
    mutable std::mutex mutex_;
    std::string lastError_;
    FILE* log_ = nullptr;
};

} // namespace session
