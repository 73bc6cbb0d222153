#include "config/report.h"

#include "config/messages.h"
#include "config/options.h"
#include "config/utilities.h"

#include <cstdio>
#include <ctime>
#include <mutex>
#include <sys/time.h>

namespace {

// Headless default: one time-stamped line per report on standard error.
class StderrReport : public UiReport {
  public:
    void ShowOnlineState(bool online) override { Line(online ? LoadMessage(7) : LoadMessage(6)); }
    void ShowStatusMessage(int, const std::string& text) override { Line(text); }
    void ShowMessageBox(const std::string& text) override { Line(text); }
    bool AskYesNo(const std::string& question) override {
        // Nobody can answer: keep what is on disk.
        Line(question + " No");
        return false;
    }
    void StatusLine(const std::string& text) override { Line(text); }

  private:
    void Line(const std::string& text) {
        struct timeval tv;
        gettimeofday(&tv, nullptr);
        struct tm tm;
        localtime_r(&tv.tv_sec, &tm);
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm);
        // Multi-line messages ("LU mismatch.\nTry LU 1") stay on one line.
        std::string flat;
        flat.reserve(text.size());
        for (char c : text)
            flat += (c == '\n' || c == '\r') ? ' ' : c;
        std::lock_guard<std::mutex> lock(mutex_);
        std::fprintf(stderr, "%s.%03ld %s\n", stamp, static_cast<long>(tv.tv_usec / 1000),
                     flat.c_str());
        std::fflush(stderr);
    }
    std::mutex mutex_;
};

StderrReport gStderrReport;
UiReport* gReport = &gStderrReport;

} // namespace

void SetUiReport(UiReport* report) {
    gReport = report ? report : &gStderrReport;
}

UiReport& Ui() {
    return *gReport;
}

void ShowOnlineState(bool online) {
    gReport->ShowOnlineState(online);
}

void ShowStatusMessage(int code) {
    std::string text = TakeMessageText(code);
    if (code != MSG_ATTEMPTING_CONNECT) text += std::string("\n") + LoadMessage(96);
    gReport->ShowStatusMessage(code, text);
    if (gDebug == 1) DebugPrint(text + "\n");
}
