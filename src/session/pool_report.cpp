#include "session/pool_report.h"


#include <ctime>
#include <utility>

#include "config/messages.h"
#include "platform/sysinfo.h"

namespace session {

namespace {

std::mutex gLineMutex;

std::string Stamp() {
    return platform::LocalTimeNowMs();
}

std::string Flat(const std::string& text) {
    std::string flat;
    for (char c : text)
        flat += (c == '\n' || c == '\r') ? ' ' : c;
    return flat;
}

// Texts of a session that tell of something wrong, kept for the summary.
bool IsProblem(const std::string& text) {
    // "failed " and not "failed": a kept job's path holds the failed/ folder.
    for (const char* word : {"not delivered", "failed ", "Unable", "unable", "cannot", "refused",
                             "Delaying before reconnect", "error", "Error"})
        if (text.find(word) != std::string::npos) return true;
    return false;
}

} // namespace

void PoolLine(const std::string& text) {
    const std::string line = Stamp() + " twprinterd: " + Flat(text) + "\n";
    std::lock_guard<std::mutex> lock(gLineMutex);
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

LuReport::LuReport(std::string name, const std::string& logPath) : name_(std::move(name)) {
    if (!logPath.empty()) log_ = std::fopen(logPath.c_str(), "ae");
}

LuReport::~LuReport() {
    if (log_) std::fclose(log_);
}

void LuReport::ShowOnlineState(bool online) {
    Line(config::LoadMessage(online ? 7 : 6), false);
}

void LuReport::ShowStatusMessage(int, const std::string& text) {
    Line(text, IsProblem(text));
}

void LuReport::ShowMessageBox(const std::string& text) {
    Line(text, true);
}

bool LuReport::AskYesNo(const std::string& question) {
    Line(question + " Yes", false);
    return true;
}

void LuReport::StatusLine(const std::string& text) {
    Line(text, IsProblem(text));
}

std::string LuReport::LastError() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastError_.empty() ? "none" : lastError_;
}

void LuReport::Line(const std::string& text, bool problem) {
    PoolLine(name_ + ": " + text);
    std::lock_guard<std::mutex> lock(mutex_);
    if (problem) lastError_ = Flat(text);
    if (log_) {
        std::fprintf(log_, "%s %s\n", Stamp().c_str(), Flat(text).c_str());
        std::fflush(log_);
    }
}

} // namespace session
