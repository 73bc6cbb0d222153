// Headless printer client: same options and INI file as the window.
//
// Status lines go to standard error, one per report, time-stamped. SIGTERM
// and SIGINT stop the client through the stop event; SIGUSR1 logs a summary.
// Exit code: 0 after a stop, 2 for a command line that cannot be read, 10 for
// conflicting connect and associate names,
// otherwise the number of the message that ended the run (for example 65
// "Unable to connect to server").
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "config/ini.h"
#include "config/ini_values.h"
#include "config/messages.h"
#include "config/options.h"
#include "config/report.h"
#include "config/service.h"
#include "config/settings.h"
#include "config/settings_check.h"
#include "config/utilities.h"
#include "output/delivery.h"
#include "output/media.h"
#include "platform/sysinfo.h"
#include "service/notifier.h"
#include "service/status_server.h"
#include "session/archive_command.h"
#include "session/lu_board.h"
#include "session/notify.h"
#include "session/pool.h"
#include "session/printer_session.h"
#include "twprinterd_check.h"

namespace {

class DaemonReport : public config::Reporter {
  public:
    void ShowOnlineState(bool online) override { Line(config::LoadMessage(online ? 7 : 6)); }
    void ShowStatusMessage(int, const std::string& text) override { Line(text); }
    void ShowMessageBox(const std::string& text) override { Line(text); }
    bool AskYesNo(const std::string& question) override {
        // Nobody is there to answer; a headless printer keeps printing.
        Line(question + " Yes");
        return true;
    }
    void StatusLine(const std::string& text) override { Line(text); }

    void Line(const std::string& text) {
        config::LogLines(text);
        std::string flat;
        for (const std::string& line : config::LogMessages(text))
            flat += (flat.empty() ? "" : " ") + line;
        session::NotifyStatus(flat);
    }
};

DaemonReport gReport;

constexpr const char* kUsage =
    "usage: twprinterd [--check] [options]\n"
    "       twprinterd --pool DIR [-d]\n"
    "       twprinterd --archive find WORDS [--lu NAME] [--since DATE] [--until DATE]\n"
    "       twprinterd --archive show ID [--pdf [--file PATH]]\n"
    "       twprinterd --archive reprint ID [--printer NAME | --file PATH]\n"
    "       (with --pool DIR: the archive of that pool)\n"
    "       twprinterd --help | --version\n"
    "Runs one TN3270E printer session with the settings of twprinter.ini in\n"
    "$TWPRINTER_DIR (default ~/.twprinter), as twprinter does without its window.\n"
    "  --check       check the settings, the host and the output medium; exit 0 or 1\n"
    "  --pool DIR    one session per DIR/NAME.ini, spooling to DIR/NAME/\n"
    "  --status host:port  serve /metrics, /healthz, /readyz there (STATUSADDRESS)\n"
    "  --status-token file the endpoint's token (STATUSTOKEN)\n"
    "  -h host       server host name (HOSTNAME)\n"
    "  -s service    service name or port (SERVERNAME)\n"
    "  -l type       LU type 1 or 3 (LUTYPE)\n"
    "  -n id         session id (SESSIONID)\n"
    "  -a address    LU address (LUADDRESS)\n"
    "  -f name       print file name (FILENAME)\n"
    "  -c file       LU-name configuration file (CONFIGFILE)\n"
    "  -C name       connect LU name (CONNECTNAME)\n"
    "  -A name       associate LU name (ASSOCIATENAME)\n"
    "  -E            TN3270E with connect or associate name (3270E)\n"
    "  -x file       translation file\n"
    "  -T            no translation\n"
    "  -D            fixed print file name\n"
    "  -S            print to standard output\n"
    "  -btam         an SCS end-of-message ends the job\n"
    "  -FF           an SCS form feed ends the job\n"
    "  -d            debug traces\n"
    "See twprinterd(8), twprinter(1) and twprinter.ini(5).\n";

// The word after option, "" without one.
std::string ValueOf(int argc, char** argv, const char* option) {
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], option) == 0) return argv[i + 1];
    return {};
}

std::string PoolDir(int argc, char** argv) {
    return ValueOf(argc, argv, "--pool");
}

// The single LU as the status endpoint shows it.
session::LuEntry BoardEntry(const config::Settings& s, bool valid) {
    session::LuEntry entry;
    entry.name = s.connectName && !s.connectName->empty() ? *s.connectName : "twprinter";
    entry.host = (s.host.empty() ? platform::ComputerName() : s.host) + ":" +
                 (s.service.empty() ? config::kDefaultService : s.service);
    entry.retryMs = s.retryDelayMs;
    entry.notifyCommand = s.notifyCommand;
    entry.notifyAfterS = s.notifyAfterS;
    entry.valid = valid;
    entry.failedDir =
        output::FailedFolder(s.fileName.find('/') == std::string::npos ? "./x" : s.fileName);
    entry.archiveDir = s.archiveDays > 0 ? s.archiveDir : "";
    entry.settings = std::make_shared<const config::Settings>(s);
    return entry;
}

// The status endpoint when an address is set; false (said) when it cannot start.
bool StartStatus(service::StatusServer& server, const std::string& address,
                 const std::string& token) {
    if (address.empty()) return true;
    const std::string error = server.Start(address, token);
    if (!error.empty()) {
        config::LogLines("Status endpoint: " + error);
        return false;
    }
    config::LogLines("Status endpoint on " + address + " (port " + std::to_string(server.Port()) +
                     ")");
    return true;
}

// The signals blocked for every thread and read from the returned descriptor
// (-1 on failure, said). A file-size limit on the spool then fails the write
// with a message instead of killing us.
int SignalsAsFd(std::initializer_list<int> signals) {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : signals)
        sigaddset(&set, sig);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::signal(SIGXFSZ, SIG_IGN);
    const int sfd = signalfd(-1, &set, SFD_CLOEXEC);
    if (sfd < 0) std::perror("signalfd");
    return sfd;
}

// Many LUs in this process: the signals as for one, and SIGHUP reads the folder again.
int RunPoolMain(const std::string& dir, bool debug, const std::string& status,
                const std::string& token) {
    const int sfd = SignalsAsFd({SIGTERM, SIGINT, SIGUSR1, SIGHUP, SIGPIPE});
    if (sfd < 0) return 1;
    session::LuBoard board;
    service::StatusServer server(board);
    if (!StartStatus(server, status, token)) return 1;
    service::Notifier notifier(board);
    if (debug) {
        config::gDebug = 1;
        config::DebugOpen();
    }
    const int code = RunPool(dir, sfd, &board);
    config::DebugClose();
    ::close(sfd);
    return code;
}

// The settings of a pool's archive: LU's file when it has one, else the first NAME.ini.
std::string PoolSettingsFile(const std::string& pool, const std::string& lu) {
    if (!lu.empty() && ::access((pool + "/" + lu + ".ini").c_str(), R_OK) == 0)
        return pool + "/" + lu + ".ini";
    std::vector<std::string> names;
    if (DIR* d = ::opendir(pool.c_str())) {
        while (dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".ini") == 0)
                names.push_back(name);
        }
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return pool + "/" + (names.empty() ? std::string("twprinter.ini") : names.front());
}

bool HasWord(int argc, char** argv, const char* word) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], word) == 0) return true;
    return false;
}

// A job still open after this long no longer holds up a restart.
constexpr uint64_t kRestartGraceMs = 60000;

std::string ReadIniText() {
    std::string text;
    if (FILE* f = std::fopen(config::gIniPath.c_str(), "rb")) {
        char buf[4096];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;)
            text.append(buf, n);
        std::fclose(f);
    }
    return text;
}

// SIGHUP: the settings file read again. The settings to restart with when it
// changed and they can run; null when it is unchanged or cannot be used (said,
// and the session goes on as it is).
std::unique_ptr<config::Settings> ReloadSettings(std::string& iniText) {
    const std::string text = ReadIniText();
    if (text == iniText) {
        gReport.Line("Settings file " + config::gIniPath + " is unchanged.");
        return nullptr;
    }
    const config::IniValues ini = config::IniValues::Parse(config::gIniPath, text);
    auto s = std::make_unique<config::Settings>(config::DefaultSettings());
    const config::Result loaded = LoadSettings(ini, platform::CommandArgs(), false, *s);
    s->deliveryThread = true;
    const config::SettingsCheck check = CheckSettings(ini, *s);
    for (const std::string& line : check.lines)
        gReport.Line(line);
    if (!loaded.ok() || check.stop != 0) {
        gReport.Line("Settings file " + config::gIniPath + " changed but cannot be used (" +
                     (!loaded.ok() ? loaded.Text() : config::LoadMessage(check.stop)) +
                     "); the session goes on with the settings it has.");
        return nullptr;
    }
    iniText = text;
    gReport.Line("Settings file " + config::gIniPath +
                 " changed: the session starts again after its job.");
    return s;
}

} // namespace

int main(int argc, char** argv) {
    if (HasWord(argc, argv, "--help")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (HasWord(argc, argv, "--version")) {
        std::printf("twprinterd %s\n", TWPRINTER_VERSION);
        return 0;
    }
    if (argc > 1 && std::strcmp(argv[1], "--archive") == 0) {
        // The archive of this program's settings folder, or of a pool's; nothing is written
        // to the settings.
        platform::SetCommandLine(1, argv);
        config::SetIniPathFromProgram(platform::ProgramName());
        std::vector<std::string> words;
        std::string pool, lu;
        for (int i = 2; i < argc; ++i) {
            if (std::strcmp(argv[i], "--pool") == 0 && i + 1 < argc) {
                pool = argv[++i];
                continue;
            }
            if (std::strcmp(argv[i], "--lu") == 0 && i + 1 < argc) lu = argv[i + 1];
            words.push_back(argv[i]);
        }
        std::string iniPath = config::gIniPath;
        if (!pool.empty()) iniPath = PoolSettingsFile(pool, lu);
        config::Settings settings = config::DefaultSettings();
        LoadSettings(config::IniValues::Read(iniPath), {}, false, settings);
        return session::ArchiveCommand(words, settings);
    }
    if (HasWord(argc, argv, "--pool")) {
        const std::string dir = PoolDir(argc, argv);
        if (dir.empty()) {
            std::fputs("twprinterd: --pool needs a folder\n", stderr);
            return config::kBadCommandLine;
        }
        // A pool's settings are its files: -d and --check are the options beside the folder.
        for (int i = 1; i < argc; ++i) {
            const std::string w = argv[i];
            if (w == "--pool" || w == "-d" || w == "--check" || w == "--status" ||
                w == "--status-token")
                continue;
            const std::string before = i > 1 ? argv[i - 1] : "";
            if (before == "--pool" || before == "--status" || before == "--status-token") continue;
            std::fprintf(stderr,
                         "twprinterd: %s is no option of a pool (only -d, --check and --status "
                         "are)\n%s",
                         w.c_str(), kUsage);
            return config::kBadCommandLine;
        }
        if (HasWord(argc, argv, "--check")) return CheckPool(dir);
        return RunPoolMain(dir, HasWord(argc, argv, "-d"), ValueOf(argc, argv, "--status"),
                           ValueOf(argc, argv, "--status-token"));
    }
    // --check and --status are no options of the session: the option scan must not see them.
    const bool checkOnly = HasWord(argc, argv, "--check");
    std::string statusAddress = ValueOf(argc, argv, "--status");
    std::string statusToken = ValueOf(argc, argv, "--status-token");
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--status") == 0 || std::strcmp(argv[i], "--status-token") == 0) {
            ++i;
            continue;
        }
        if (std::strcmp(argv[i], "--check") != 0) args.push_back(argv[i]);
    }
    args.push_back(nullptr);
    argc = static_cast<int>(args.size()) - 1;
    argv = args.data();
    platform::SetCommandLine(argc, argv);
    // Every word is read before anything is written, so a misread never reaches the INI file.
    config::CommandWords words = config::ParseCommandWords(platform::CommandArgs());
    if (words.error.empty() && !words.operands.empty())
        words.error = "unexpected word " + words.operands.front() + " (options begin with -)";
    if (!words.error.empty()) {
        std::fprintf(stderr, "twprinterd: %s\n", words.error.c_str());
        std::fputs(kUsage, stderr);
        return config::kBadCommandLine;
    }
    config::SetIniPathFromProgram(platform::ProgramName());

    // The signals are taken synchronously through a signalfd: no handler runs
    // in signal context, and the client thread never sees them.
    const int sfd = SignalsAsFd({SIGTERM, SIGINT, SIGUSR1, SIGHUP, SIGPIPE});
    if (sfd < 0) return 1;

    if (words.Has("-d")) {
        config::gDebug = 1;
        config::DebugOpen();
    }
    // Without a usable settings directory nothing could be kept: say which and stop,
    // so a service manager shows the reason and retries.
    const std::string dir = platform::SettingsDirectory();
    if (::access(dir.c_str(), W_OK | X_OK) != 0) {
        gReport.Line("Settings directory " + dir +
                     " cannot be used: " + config::FormatSystemError(nullptr, errno));
        return 1;
    }
    config::IniValues ini = config::IniValues::Read(config::gIniPath);
    config::Settings settings = config::DefaultSettings();
    config::Result loaded = LoadSettings(ini, platform::CommandArgs(), false, settings);
    if (loaded.code == config::kConflictingNames) {
        std::fprintf(stderr, "twprinterd: %s\n", loaded.reason.c_str());
        return config::kConflictingNames;
    }
    // The first start writes the default file; a dry run writes nothing.
    if (!checkOnly && !ini.fileExists()) {
        config::EnsureDefaultIni();
        if (!platform::FileExists(config::gIniPath)) {
            gReport.Line("Settings file " + config::gIniPath + " cannot be written");
            return 1;
        }
        ini = config::IniValues::Read(config::gIniPath);
        loaded = LoadSettings(ini, platform::CommandArgs(), false, settings);
    }
    const config::SettingsCheck check = CheckSettings(ini, settings);
    if (checkOnly) return Check(settings, check, loaded);
    for (const std::string& line : check.lines)
        gReport.Line(line);
    // The options are kept for later starts only once they passed the check.
    if (loaded.ok()) SaveOptionKeys(settings, check);
    if (check.stop) {
        gReport.Line(config::LoadMessage(check.stop));
        config::DebugClose();
        ::close(sfd);
        return check.stop;
    }
    // What SIGHUP compares with: the file as this run read it.
    std::string iniText = ReadIniText();
    // Kept jobs are then tried again on their own, and go out before newer ones.
    settings.deliveryThread = true;
    if (statusAddress.empty()) statusAddress = settings.statusAddress;
    if (statusToken.empty()) statusToken = settings.statusToken;
    session::LuEntry entry = BoardEntry(settings, loaded.ok());
    auto owned = std::make_unique<session::PrinterSession>(std::move(settings), gReport);
    session::PrinterSession* session = owned.get();
    session::LuBoard board;
    entry.counters = session->Counters();
    entry.history = session->History();
    entry.keptJobs = session->KeptJobs();
    board.Set(entry);
    service::StatusServer server(board);
    if (!StartStatus(server, statusAddress, statusToken)) {
        config::DebugClose();
        ::close(sfd);
        return 1;
    }
    service::Notifier notifier(board);
    if (!loaded.ok()) {
        // A settings error ends the run at once, with the lines a run ended by it shows.
        gReport.Line(config::LoadMessage(config::MSG_ATTEMPTING_CONNECT));
        session::NotifyReady();
        const std::string text = loaded.Text();
        gReport.ShowMessageBox(text);
        if (config::gDebug) config::DebugPrint(text + "\n");
        config::Trace("%s\n", text.c_str());
        gReport.ShowOnlineState(false);
        session::NotifyStopping();
        config::DebugClose();
        ::close(sfd);
        return loaded.code;
    }
    if (!session->Start()) {
        gReport.Line("Unable to start the printer client");
        return 1;
    }
    gReport.Line(config::LoadMessage(config::MSG_ATTEMPTING_CONNECT));
    session::NotifyReady();
    // The service manager's watchdog is fed at half its interval while the client runs.
    const uint64_t watchdogMs = session::NotifyWatchdogUsec() / 2000;
    uint64_t lastPing = platform::MonotonicMs();
    int code = -1;
    // Changed settings wait here until the session's job has ended.
    std::unique_ptr<config::Settings> next;
    uint64_t changedTick = 0;
    while (session->Running()) {
        if (watchdogMs && platform::MonotonicMs() - lastPing >= watchdogMs) {
            session::NotifyWatchdog();
            lastPing = platform::MonotonicMs();
        }
        if (next && (!session->JobInProgress() ||
                     platform::MonotonicMs() - changedTick >= kRestartGraceMs)) {
            session->Stop();
            session->Wait();
            entry = BoardEntry(*next, true);
            owned = std::make_unique<session::PrinterSession>(std::move(*next), gReport);
            session = owned.get();
            next.reset();
            entry.counters = session->Counters();
            entry.history = session->History();
            entry.keptJobs = session->KeptJobs();
            board.Set(entry);
            if (!session->Start()) {
                gReport.Line("Unable to start the printer client");
                code = 1;
                break;
            }
            gReport.Line(config::LoadMessage(config::MSG_ATTEMPTING_CONNECT));
        }
        pollfd p{sfd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        signalfd_siginfo info;
        if (::read(sfd, &info, sizeof info) != sizeof info) continue;
        if (info.ssi_signo == SIGUSR1) {
            gReport.Line(session->StatusSummary());
        } else if (info.ssi_signo == SIGHUP) {
            if (std::unique_ptr<config::Settings> changed = ReloadSettings(iniText)) {
                if (!next) changedTick = platform::MonotonicMs();
                next = std::move(changed);
            }
        } else if (info.ssi_signo == SIGTERM || info.ssi_signo == SIGINT) {
            session::NotifyStopping();
            session->Stop();
            code = session->Wait();
            break;
        }
    }
    if (code < 0) {
        session::NotifyStopping();
        code = session->Wait();
    }
    config::DebugClose();
    ::close(sfd);
    return code == config::MSG_EXIT_PARENT || code == 0 ? 0 : code;
}
