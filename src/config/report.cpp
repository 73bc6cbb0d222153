#include "config/report.h"

#include "config/messages.h"
#include "config/utilities.h"
#include "platform/sysinfo.h"

#include <cstdio>
#include <ctime>
#include <mutex>

namespace config {

namespace {

class StderrReport : public Reporter {
  public:
    void ShowOnlineState(bool online) override {
        LogLines(online ? LoadMessage(7) : LoadMessage(6));
    }
    void ShowStatusMessage(int, const std::string& text) override { LogLines(text); }
    void ShowMessageBox(const std::string& text) override { LogLines(text); }
    bool AskYesNo(const std::string& question) override {
        // Nobody can answer: keep what is on disk.
        LogLines(question + " No");
        return false;
    }
    void StatusLine(const std::string& text) override { LogLines(text); }
};

StderrReport gStderrReport;
std::mutex gLogMutex; // lines of sessions on several threads stay whole

} // namespace

std::string JobLine(const JobReport& job) {
    auto count = [](long long n, const char* what) {
        return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
    };
    std::string line = "Job " + job.name;
    if (job.received)
        return line + " received" + (job.lu.empty() ? "" : " from LU " + job.lu) + ": " +
               count(job.bytes, "byte") + ", " + count(job.records, "record") + ", " +
               count(job.pages, "page");
    if (job.delivered)
        return line + " delivered to " + job.where +
               (job.kept.empty() ? "" : "; it had been kept as " + job.kept);
    line += " failed" + (job.where.empty() ? "" : " on " + job.where) + ": " +
            (job.reason.empty() ? "no reason given" : job.reason);
    return line + (job.kept.empty() ? "; it is not kept" : "; kept as " + job.kept);
}

std::vector<std::string> LogMessages(const std::string& text) {
    const std::string delay = std::string("\n") + LoadMessage(96);
    std::vector<std::string> out;
    std::string rest = text;
    for (size_t at; (at = rest.find(delay)) != std::string::npos;) {
        out.push_back(rest.substr(0, at));
        rest.erase(0, at + 1);
    }
    out.push_back(rest);
    for (std::string& line : out)
        for (char& c : line)
            if (c == '\n' || c == '\r') c = ' ';
    return out;
}

void LogLines(const std::string& text) {
    const std::string stamp = platform::LocalTimeNowMs();
    const std::string& name = platform::ProgramName();
    const char* program = name.empty() ? "twprinter" : name.c_str();
    std::lock_guard<std::mutex> lock(gLogMutex);
    for (const std::string& line : LogMessages(text))
        std::fprintf(stderr, "%s %s: %s\n", stamp.c_str(), program, line.c_str());
    std::fflush(stderr);
}

Reporter& StderrReporter() {
    return gStderrReport;
}

std::string ComposeStatus(const Result& result) {
    std::string text = result.Text();
    if (result.code != MSG_ATTEMPTING_CONNECT) text += std::string("\n") + LoadMessage(96);
    if (gDebug == 1) DebugPrint(text + "\n");
    return text;
}

void ReportStatus(Reporter& reporter, const Result& result) {
    reporter.ShowStatusMessage(result.code, ComposeStatus(result));
}

} // namespace config
