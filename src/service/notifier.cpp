#include "service/notifier.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <vector>

#include "config/report.h"
#include "session/lu_board.h"

extern char** environ;

namespace service {

namespace {

// The newest file of the failed folder: the job just kept (names sort by time).
std::string NewestKept(const std::string& dir) {
    std::string newest;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d))
            if (e->d_name[0] != '.' && newest < e->d_name) newest = e->d_name;
        ::closedir(d);
    }
    return newest.empty() ? "" : dir + "/" + newest;
}

} // namespace

Notifier::Notifier(const session::LuBoard& board) : board_(board) {
    thread_ = std::thread([this] { Watch(); });
}

Notifier::~Notifier() {
    quit_ = true;
    thread_.join();
}

void Notifier::Watch() {
    while (!quit_) {
        const long long now = time(nullptr);
        for (const session::LuEntry& lu : board_.Snapshot()) {
            if (quit_) return;
            if (lu.notifyCommand.empty() || !lu.counters) continue;
            Seen& seen = seen_[lu.name];
            // A session started again counts from nothing.
            if (seen.counters != lu.counters.get()) {
                seen.counters = lu.counters.get();
                seen.kept = 0;
            }
            Look(lu, seen, now);
        }
        for (int i = 0; i < 5 && !quit_; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

void Notifier::Look(const session::LuEntry& lu, Seen& seen, long long now) {
    const session::LuCounters& c = *lu.counters;
    const unsigned long long kept = c.jobsKept.load();
    if (kept > seen.kept) {
        seen.kept = kept;
        Event(lu, seen, "kept", NewestKept(lu.failedDir), "the job could not be delivered");
    }
    const long long since = c.offlineSince.load();
    if (!seen.offlineSaid && c.state.load() != 2 && since && now - since >= lu.notifyAfterS) {
        seen.offlineSaid = true;
        Event(lu, seen, "offline", "",
              "offline for " + std::to_string(now - since) + " s, connecting to " + lu.host);
    } else if (seen.offlineSaid && c.state.load() == 2) {
        seen.offlineSaid = false;
        Event(lu, seen, "online", "", "online again");
    }
}

void Notifier::Event(const session::LuEntry& lu, Seen& seen, const char* event,
                     const std::string& job, const std::string& reason) {
    const std::string why = Run(lu.notifyCommand, lu.name, event, job, reason);
    if (why.empty()) {
        seen.failureSaid = false;
    } else if (!seen.failureSaid) {
        seen.failureSaid = true;
        config::LogLines(lu.name + ": NOTIFYCOMMAND " + lu.notifyCommand + " failed: " + why +
                         " (said once until it works again)");
    }
}

std::string Notifier::Run(const std::string& command, const std::string& lu,
                          const std::string& event, const std::string& job,
                          const std::string& reason, int timeoutMs) {
    std::vector<std::string> words;
    for (size_t at = 0; (at = command.find_first_not_of(" \t", at)) != std::string::npos;) {
        const size_t end = command.find_first_of(" \t", at);
        words.push_back(command.substr(at, end - at));
        at = end;
    }
    if (words.empty()) return "no command";
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "LU=", 3) && std::strncmp(*e, "EVENT=", 6) &&
            std::strncmp(*e, "JOB=", 4) && std::strncmp(*e, "REASON=", 7))
            env.push_back(*e);
    env.push_back("LU=" + lu);
    env.push_back("EVENT=" + std::string(event));
    env.push_back("JOB=" + job);
    env.push_back("REASON=" + reason);
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // Its own process group, so a time-out ends what it started as well.
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
    posix_spawnattr_setpgroup(&attr, 0);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) return std::string("cannot be started: ") + std::strerror(rc);
    int status = 0;
    for (int waited = 0;; waited += 20) {
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) break;
        if (r < 0) return std::string("lost: ") + std::strerror(errno);
        if (waited >= timeoutMs) {
            ::kill(-pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return "timed out after " + std::to_string(timeoutMs / 1000) + " s and was killed";
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return "";
    if (WIFEXITED(status)) return "exit code " + std::to_string(WEXITSTATUS(status));
    return "ended by signal " + std::to_string(WTERMSIG(status));
}

} // namespace service
