// The command medium: the job on the standard input of a print command
// (PRINTERCMD with PRINTEROPTIONS), its standard error kept for the report.
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>

#include "config/utilities.h"
#include "output/media.h"

namespace output {

namespace {

constexpr auto kCommandLimit = std::chrono::seconds(300);
constexpr size_t kErrorTextMax = 4096;

} // namespace

int RunCommand(const std::string& cmd, const std::string& path, std::string& detail, int stopFd) {
    int in = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        detail = config::FormatSystemError(path.c_str(), errno);
        return 0;
    }
    int errPipe[2];
    if (::pipe2(errPipe, O_CLOEXEC) != 0) {
        detail = config::FormatSystemError(nullptr, errno);
        ::close(in);
        return 0;
    }
    pid_t pid = ::fork();
    if (pid == 0) {
        // Its own process group, so that a command that hangs goes with all its children.
        ::setpgid(0, 0);
        ::dup2(in, 0);
        int devnull = ::open("/dev/null", O_WRONLY);
        if (devnull >= 0) ::dup2(devnull, 1);
        ::dup2(errPipe[1], 2);
        ::execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    ::close(in);
    ::close(errPipe[1]);
    if (pid < 0) {
        detail = config::FormatSystemError(nullptr, errno);
        ::close(errPipe[0]);
        return 0;
    }
    std::string err;
    auto deadline = std::chrono::steady_clock::now() + kCommandLimit;
    bool timedOut = false, abandoned = false;
    for (;;) {
        int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        deadline - std::chrono::steady_clock::now())
                                        .count());
        pollfd p[2] = {{errPipe[0], POLLIN, 0}, {stopFd, POLLIN, 0}};
        int r = left <= 0 ? 0 : ::poll(p, stopFd >= 0 ? 2 : 1, left);
        if (r < 0 && errno == EINTR) continue;
        if (stopFd >= 0 && (p[1].revents & POLLIN)) {
            abandoned = true;
            ::kill(-pid, SIGKILL);
            break;
        }
        if (r <= 0) {
            timedOut = true;
            ::kill(-pid, SIGKILL);
            break;
        }
        char buf[512];
        ssize_t n = ::read(errPipe[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (err.size() < kErrorTextMax) err.append(buf, static_cast<size_t>(n));
    }
    ::close(errPipe[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    while (!err.empty() && (err.back() == '\n' || err.back() == '\r'))
        err.pop_back();
    if (abandoned) return kAbandoned;
    if (timedOut) {
        detail = "\"" + cmd + "\" did not finish";
        return 0;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return 1;
    char what[64];
    if (WIFEXITED(status))
        std::snprintf(what, sizeof what, "exit status %d", WEXITSTATUS(status));
    else
        std::snprintf(what, sizeof what, "signal %d", WTERMSIG(status));
    detail = "\"" + cmd + "\" failed (" + what + ")" + (err.empty() ? "" : ": " + err);
    return 0;
}

} // namespace output
