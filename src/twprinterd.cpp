// Headless printer client: same options and INI file as the window.
//
// Status lines go to standard error, one per report, time-stamped. SIGTERM
// and SIGINT stop the client through the stop event; SIGUSR1 logs a summary.
// Exit code: 0 after a stop, 10 for conflicting connect and associate names
// (taken inside Configure), otherwise the number of the message that ended
// the run (for example 65 "Unable to connect to server").
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>

#include "config/ini.h"
#include "config/messages.h"
#include "config/options.h"
#include "config/report.h"
#include "config/utilities.h"
#include "platform/sysinfo.h"
#include "session/notify.h"
#include "session/session.h"

namespace {

class DaemonReport : public UiReport {
  public:
    void ShowOnlineState(bool online) override { Line(LoadMessage(online ? 7 : 6)); }
    void ShowStatusMessage(int, const std::string& text) override { Line(text); }
    void ShowMessageBox(const std::string& text) override { Line(text); }
    bool AskYesNo(const std::string& question) override {
        // Nobody is there to answer; a headless printer keeps printing.
        Line(question + " Yes");
        return true;
    }
    void StatusLine(const std::string& text) override { Line(text); }

    void Line(const std::string& text) {
        timeval tv;
        gettimeofday(&tv, nullptr);
        tm t;
        localtime_r(&tv.tv_sec, &t);
        char stamp[40];
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &t);
        std::string flat;
        for (char c : text)
            flat += (c == '\n' || c == '\r') ? ' ' : c;
        std::lock_guard<std::mutex> lock(mutex_);
        std::fprintf(stderr, "%s.%03ld twprinterd: %s\n", stamp, long(tv.tv_usec / 1000),
                     flat.c_str());
        std::fflush(stderr);
        NotifyStatus(flat);
    }

  private:
    std::mutex mutex_;
};

DaemonReport gReport;

} // namespace

int main(int argc, char** argv) {
    platform::SetCommandLine(argc, argv);
    SetIniPathFromProgram(platform::ProgramName());
    SetUiReport(&gReport);

    // The signals are taken synchronously through a signalfd: no handler runs
    // in signal context, and the client thread never sees them.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGUSR1);
    sigaddset(&set, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    // A file-size limit on the spool then fails the write with a message instead of killing us.
    std::signal(SIGXFSZ, SIG_IGN);
    int sfd = signalfd(-1, &set, SFD_CLOEXEC);
    if (sfd < 0) {
        std::perror("signalfd");
        return 1;
    }

    if (platform::CommandLine().find("-d") != std::string::npos) {
        gDebug = 1;
        DebugOpen();
    }
    // Without a usable settings directory nothing could be kept: say which and stop,
    // so a service manager shows the reason and retries.
    const std::string dir = platform::WindowsDirectory();
    if (::access(dir.c_str(), W_OK | X_OK) != 0) {
        gReport.Line("Settings directory " + dir +
                     " cannot be used: " + FormatSystemError(nullptr, errno));
        return 1;
    }
    EnsureDefaultIni();
    if (!platform::FileExists(gIniPath)) {
        gReport.Line("Settings file " + gIniPath + " cannot be written");
        return 1;
    }
    LoadOutputSettings();

    if (!ClientStart()) {
        gReport.Line("Unable to start the printer client");
        return 1;
    }
    gReport.Line(LoadMessage(MSG_ATTEMPTING_CONNECT));
    NotifyReady();
    // The service manager's watchdog is fed at half its interval while the client runs.
    const uint64_t watchdogMs = NotifyWatchdogUsec() / 2000;
    uint64_t lastPing = platform::TickCount();
    int code = -1;
    while (ClientRunning()) {
        if (watchdogMs && platform::TickCount() - lastPing >= watchdogMs) {
            NotifyWatchdog();
            lastPing = platform::TickCount();
        }
        pollfd p{sfd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        signalfd_siginfo info;
        if (::read(sfd, &info, sizeof info) != sizeof info) continue;
        if (info.ssi_signo == SIGUSR1) {
            gReport.Line(SessionStatusSummary());
        } else if (info.ssi_signo == SIGTERM || info.ssi_signo == SIGINT) {
            NotifyStopping();
            ClientStop();
            code = ClientWait();
            break;
        }
    }
    if (code < 0) {
        NotifyStopping();
        code = ClientWait();
    }
    DebugClose();
    ::close(sfd);
    return code == MSG_EXIT_PARENT || code == 0 ? 0 : code;
}
