// The pool's life: the folder read at start and at each SIGHUP, sessions
// started, stopped and restarted one LU at a time, the summary, the service
// manager's view (READY once all started, STATUS with the counts).
#include "session/pool.h"

#include <dirent.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>
#include <vector>

#include "archive/archive.h"
#include "config/messages.h"
#include "config/settings.h"
#include "config/settings_check.h"
#include "config/utilities.h"
#include "output/media.h"
#include "platform/sysinfo.h"
#include "session/lu_board.h"
#include "session/notify.h"
#include "session/pool_files.h"
#include "session/pool_report.h"
#include "session/printer_session.h"

namespace session {

namespace {

// An LU whose run ended by itself (a host name that cannot be found, say) is
// tried again after this long; a changed file tries it at once.
constexpr uint64_t kRestartMs = 30000;
// A removed or changed LU stops once its job in progress ended, or after this long.
constexpr uint64_t kJobGraceMs = 60000;

struct Lu {
    std::string name, iniPath, spool, content;
    std::unique_ptr<LuReport> report;
    std::unique_ptr<PrinterSession> session;
    bool leaving = false;  // stops at the end of its job in progress, then goes
    bool stopping = false; // told to stop, not yet ended
    uint64_t leaveTick = 0, endTick = 0;
    std::string ended; // why it does not run ("" while it runs)
    LuEntry entry;     // as the status endpoint shows it
};

bool ReadWhole(const std::string& path, std::string& out) {
    FILE* f = std::fopen(path.c_str(), "rbe");
    if (!f) return false;
    char buf[8192];
    out.clear();
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;)
        out.append(buf, n);
    std::fclose(f);
    return true;
}

// NAME -> contents of DIR/NAME.ini; a name fit for a folder only.
std::map<std::string, std::string> ScanFolder(const std::string& dir, bool& ok) {
    std::map<std::string, std::string> found;
    DIR* d = ::opendir(dir.c_str());
    ok = d != nullptr;
    if (!d) return found;
    while (dirent* e = ::readdir(d)) {
        std::string file = e->d_name;
        if (file.size() <= 4 || file[0] == '.' || file.compare(file.size() - 4, 4, ".ini") != 0)
            continue;
        std::string content;
        const std::string path = dir + "/" + file;
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || !ReadWhole(path, content))
            continue;
        found[file.substr(0, file.size() - 4)] = content;
    }
    ::closedir(d);
    return found;
}

class Pool {
  public:
    Pool(std::string dir, LuBoard* board) : dir_(std::move(dir)), board_(board) {}

    bool Scan(bool first);
    void Tick();
    void Summary() const;
    void StopAll();

  private:
    void Start(Lu& lu);
    void Starting(Lu& lu);
    void Leave(Lu& lu);
    void PublishCounts();
    void Post(Lu& lu);
    std::shared_ptr<archive::Archive> ArchiveFor(const config::Settings& s);

    const std::string dir_;
    LuBoard* const board_;
    // One archive (one writer, one index connection) for the LUs that keep
    // theirs alike, made by the first of them; before lus_: it outlives them.
    std::map<std::string, std::shared_ptr<archive::Archive>> archives_;
    std::vector<std::unique_ptr<Lu>> lus_;
    // Changed LUs whose old session is still stopping: name -> new contents.
    std::map<std::string, std::string> pending_;
    std::string lastStatus_;
};

std::shared_ptr<archive::Archive> Pool::ArchiveFor(const config::Settings& s) {
    if (s.archiveDays <= 0) return nullptr;
    const std::string key =
        s.archiveDir + "\n" + std::to_string(s.archiveDays) + "\n" + std::to_string(s.archiveMaxMb);
    std::shared_ptr<archive::Archive>& store = archives_[key];
    if (!store) {
        store = std::make_shared<archive::Archive>(s.archiveDir, s.archiveDays, s.archiveMaxMb,
                                                   [](const std::string& line) { PoolLine(line); });
        store->OpenInBackground();
    }
    return store;
}

void Pool::Post(Lu& lu) {
    if (!board_) return;
    lu.entry.name = lu.name;
    lu.entry.stopped = lu.ended;
    if (lu.session) {
        lu.entry.counters = lu.session->Counters();
        lu.entry.history = lu.session->History();
        lu.entry.keptJobs = lu.session->KeptJobs();
    }
    board_->Set(lu.entry);
}

// The settings of the LU's file, its spool folder made, the session started.
void Pool::Start(Lu& lu) {
    Starting(lu);
    Post(lu);
}

void Pool::Starting(Lu& lu) {
    lu.ended.clear();
    lu.endTick = 0;
    // A file that is no settings file would run as an LU on defaults (its own host, port 23).
    if (std::string problem = PoolFileProblem(lu.content); !problem.empty()) {
        lu.ended = "pool file " + lu.iniPath + " " + problem;
        if (!lu.report) lu.report = std::make_unique<LuReport>(lu.name, "");
        lu.report->Problem(lu.ended + "; the LU is not started until the file is fixed");
        return;
    }
    if (::mkdir(lu.spool.c_str(), 0755) != 0 && errno != EEXIST) {
        lu.ended = "spool folder " + lu.spool +
                   " cannot be made: " + config::FormatSystemError(nullptr, errno);
        if (!lu.report) lu.report = std::make_unique<LuReport>(lu.name, "");
        lu.report->Problem(lu.ended);
        lu.endTick = platform::MonotonicMs();
        return;
    }
    lu.report = std::make_unique<LuReport>(lu.name, lu.spool + "/twprinterd.log");
    config::Settings s = config::DefaultSettings();
    // Job files, failed jobs and the trace are the LU's own, in its spool folder.
    const config::IniValues ini = config::IniValues::Read(lu.iniPath);
    const config::Result loaded = LoadSettings(ini, {}, false, s, lu.spool);
    config::SettingsCheck check = CheckSettings(ini, s);
    for (const std::string& line : check.lines)
        lu.report->Problem("setting " + line);
    lu.entry.host = s.host + ":" + (s.service.empty() ? "kesservd" : s.service);
    lu.entry.retryMs = s.retryDelayMs;
    lu.entry.notifyCommand = s.notifyCommand;
    lu.entry.notifyAfterS = s.notifyAfterS;
    lu.entry.failedDir =
        s.fileName.empty() ? lu.spool + "/failed" : output::FailedFolder(s.fileName);
    lu.entry.valid = loaded.ok() && check.stop == 0;
    if (!loaded.ok() || check.stop != 0) {
        lu.ended = !loaded.ok() ? loaded.Text() : config::LoadMessage(check.stop);
        lu.report->Problem(lu.ended + "; the LU waits for its file to change");
        return;
    }
    s.traceDir = lu.spool;
    s.deliveryThread = true;
    lu.entry.archiveDir = s.archiveDays > 0 ? s.archiveDir : "";
    lu.entry.settings = std::make_shared<const config::Settings>(s);
    std::shared_ptr<archive::Archive> store = ArchiveFor(s);
    lu.session = std::make_unique<PrinterSession>(std::move(s), *lu.report, std::move(store));
    lu.report->Note(config::LoadMessage(config::MSG_ATTEMPTING_CONNECT));
    if (!lu.session->Start()) {
        lu.ended = "the session could not be started";
        lu.report->Problem(lu.ended);
        lu.session.reset();
        lu.endTick = platform::MonotonicMs();
        return;
    }
}

void Pool::Leave(Lu& lu) {
    if (lu.leaving) return;
    lu.leaving = true;
    lu.leaveTick = platform::MonotonicMs();
}

bool Pool::Scan(bool first) {
    bool ok = false;
    auto found = ScanFolder(dir_, ok);
    if (!ok) {
        PoolLine("Pool folder " + dir_ +
                 " cannot be read: " + config::FormatSystemError(nullptr, errno));
        return false;
    }
    for (auto& lu : lus_) {
        auto it = found.find(lu->name);
        if (it == found.end()) {
            if (!lu->leaving) lu->report->Note("Its file is gone: the LU stops after its job.");
            Leave(*lu);
            pending_.erase(lu->name);
        } else if (lu->leaving) {
            // Back (or changed again) while the LU stops: it starts again with this file.
            pending_[lu->name] = it->second;
        } else if (it->second != lu->content) {
            lu->report->Note("Its file changed: the LU starts again after its job.");
            Leave(*lu);
            pending_[lu->name] = it->second;
        }
    }
    for (auto& entry : found) {
        const std::string& name = entry.first;
        const std::string& content = entry.second;
        bool known =
            std::any_of(lus_.begin(), lus_.end(), [&](const auto& lu) { return lu->name == name; });
        if (known) continue;
        auto lu = std::make_unique<Lu>();
        lu->name = name;
        lu->iniPath = dir_ + "/" + name + ".ini";
        lu->spool = dir_ + "/" + name;
        lu->content = content;
        Start(*lu);
        lus_.push_back(std::move(lu));
    }
    std::sort(lus_.begin(), lus_.end(),
              [](const auto& a, const auto& b) { return a->name < b->name; });
    if (first && lus_.empty()) PoolLine("Pool folder " + dir_ + " holds no LU (NAME.ini) yet.");
    PublishCounts();
    return true;
}

// Every tick: leaving LUs stopped once their job ended, stopped ones reaped,
// changed ones started again, ended ones retried, the counts published.
void Pool::Tick() {
    const uint64_t now = platform::MonotonicMs();
    for (auto& lu : lus_) {
        if (lu->leaving && !lu->stopping && lu->session &&
            (!lu->session->JobInProgress() || now - lu->leaveTick >= kJobGraceMs)) {
            lu->session->RequestStop();
            lu->stopping = true;
        }
        if (lu->session && !lu->session->Running()) {
            lu->session->Wait();
            lu->session.reset();
            if (!lu->leaving) {
                lu->ended = "its session ended";
                lu->endTick = now;
            }
            Post(*lu);
        }
        if (!lu->session && !lu->leaving && lu->endTick && now - lu->endTick >= kRestartMs)
            Start(*lu);
    }
    // Leaving LUs that ended: gone, or started again with their new file.
    for (auto it = lus_.begin(); it != lus_.end();) {
        Lu& lu = **it;
        if (!lu.leaving || lu.session) {
            ++it;
            continue;
        }
        auto next = pending_.find(lu.name);
        if (next == pending_.end()) {
            lu.report->Note("The LU stopped.");
            if (board_) board_->Remove(lu.name);
            it = lus_.erase(it);
            continue;
        }
        lu.content = next->second;
        pending_.erase(next);
        lu.leaving = lu.stopping = false;
        Start(lu);
        ++it;
    }
    PublishCounts();
}

void Pool::PublishCounts() {
    size_t online = 0;
    for (const auto& lu : lus_)
        if (lu->session && lu->session->Online()) ++online;
    const std::string status = std::to_string(lus_.size()) + " LUs: " + std::to_string(online) +
                               " online, " + std::to_string(lus_.size() - online) + " offline";
    if (status == lastStatus_) return;
    lastStatus_ = status;
    NotifyStatus(status);
}

void Pool::Summary() const {
    PoolLine("pool " + dir_ + ": " + lastStatus_);
    for (const auto& lu : lus_) {
        std::string line =
            lu->session ? lu->session->StatusSummary() : "state stopped (" + lu->ended + ")";
        lu->report->Note(line + ", last error " + lu->report->LastError());
    }
}

// Every session told at once, then each waited for: jobs received are delivered or kept.
void Pool::StopAll() {
    for (auto& lu : lus_)
        if (lu->session) lu->session->RequestStop();
    for (auto& lu : lus_)
        if (lu->session) {
            lu->session->Wait();
            lu->session.reset();
        }
    lus_.clear();
}

} // namespace

int RunPool(const std::string& dir, int signalFd, LuBoard* board) {
    struct stat st {};
    if (dir.empty() || ::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        ::access(dir.c_str(), W_OK | X_OK) != 0) {
        PoolLine("Pool folder " + dir +
                 " cannot be used: " + config::FormatSystemError(nullptr, errno ? errno : ENOTDIR));
        return 1;
    }
    // Two processes on one folder would connect every LU twice and share its spool folders.
    std::string why;
    const int lock = LockPoolFolder(dir, why);
    if (lock < 0) {
        PoolLine("Pool folder " + dir + " cannot be used: " + why + ".");
        return 1;
    }
    // Relative paths of the LUs' files (LU-name file, certificates) are the pool folder's.
    if (::chdir(dir.c_str()) != 0) {
        PoolLine("Pool folder " + dir +
                 " cannot be entered: " + config::FormatSystemError(nullptr, errno));
        return 1;
    }
    // Without TZ the C library reads the zone again, freeing and copying its
    // name, at every local time (cairo's PDF date among them) of every LU's
    // thread; named once, it is read once.
    if (!std::getenv("TZ")) ::setenv("TZ", ":/etc/localtime", 0);
    ::tzset();
    Pool pool(dir, board);
    if (!pool.Scan(true)) return 1;
    NotifyReady();
    const uint64_t watchdogMs = NotifyWatchdogUsec() / 2000;
    uint64_t lastPing = platform::MonotonicMs();
    for (;;) {
        if (watchdogMs && platform::MonotonicMs() - lastPing >= watchdogMs) {
            NotifyWatchdog();
            lastPing = platform::MonotonicMs();
        }
        pollfd p{signalFd, POLLIN, 0};
        if (::poll(&p, 1, 100) > 0) {
            signalfd_siginfo info;
            if (::read(signalFd, &info, sizeof info) == sizeof info) {
                if (info.ssi_signo == SIGUSR1) {
                    pool.Summary();
                } else if (info.ssi_signo == SIGHUP) {
                    PoolLine("Reading the pool folder " + dir + " again.");
                    pool.Scan(false);
                } else if (info.ssi_signo == SIGTERM || info.ssi_signo == SIGINT) {
                    NotifyStopping();
                    pool.StopAll();
                    PoolLine("The pool stopped.");
                    return 0;
                }
            }
        }
        pool.Tick();
    }
}

} // namespace session
