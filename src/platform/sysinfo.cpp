#include "platform/sysinfo.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

namespace platform {
namespace {
std::string gCommandLine;
std::vector<std::string> gCommandArgs;
std::string gProgramName;

void MakeDirs(const std::string& dir) {
    std::string cur;
    for (size_t i = 0; i <= dir.size(); ++i) {
        if (i == dir.size() || dir[i] == '/') {
            if (!cur.empty()) ::mkdir(cur.c_str(), 0755);
        }
        if (i < dir.size()) cur += dir[i];
    }
}
} // namespace

std::string SettingsDirectory() {
    std::string dir;
    if (const char* d = std::getenv("TWPRINTER_DIR"); d && *d) {
        dir = d;
    } else if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) {
        dir = std::string(x) + "/twprinter";
    } else {
        const char* home = std::getenv("HOME");
        dir = std::string(home && *home ? home : "/tmp") + "/.config/twprinter";
    }
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    MakeDirs(dir);
    return dir;
}

std::string JoinPath(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    if (dir.back() == '/') return dir + name;
    return dir + "/" + name;
}

std::string ComputerName() {
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0) return {};
    return buf;
}

std::string CurrentDirectory() {
    char buf[PATH_MAX];
    if (!::getcwd(buf, sizeof buf)) return {};
    return buf;
}

void SetCommandLine(int argc, char** argv) {
    std::string line;
    for (int i = 0; i < argc; ++i) {
        if (i) line += ' ';
        line += argv[i];
    }
    gCommandLine = line;
    gCommandArgs.assign(argv + (argc > 0 ? 1 : 0), argv + argc);
    if (argc > 0) {
        const char* slash = std::strrchr(argv[0], '/');
        gProgramName = slash ? slash + 1 : argv[0];
    }
}

void SetCommandLine(const std::string& line) {
    gCommandLine = line;
    gCommandArgs.clear();
    for (size_t p = line.find_first_not_of(" \t"); p != std::string::npos;
         p = line.find_first_not_of(" \t", p)) {
        const size_t end = std::min(line.find_first_of(" \t", p), line.size());
        gCommandArgs.push_back(line.substr(p, end - p));
        p = end;
    }
    if (!gCommandArgs.empty()) gCommandArgs.erase(gCommandArgs.begin());
}

const std::string& CommandLine() {
    return gCommandLine;
}
const std::vector<std::string>& CommandArgs() {
    return gCommandArgs;
}
const std::string& ProgramName() {
    return gProgramName;
}

uint64_t MonotonicMs() {
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

std::string LocalTimeText(int64_t unixSeconds) {
    const time_t t = static_cast<time_t>(unixSeconds);
    tm local{};
    localtime_r(&t, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

std::string LocalTimeNowMs() {
    timeval tv{};
    gettimeofday(&tv, nullptr);
    char ms[24];
    std::snprintf(ms, sizeof ms, ".%03ld", static_cast<long>(tv.tv_usec / 1000));
    return LocalTimeText(tv.tv_sec) + ms;
}

bool FileExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

std::string SystemErrorText(int err) {
    char buf[256];
    // GNU strerror_r returns the text pointer, which may or may not be buf.
    const char* s = strerror_r(err, buf, sizeof buf);
    return s ? s : std::to_string(err);
}

} // namespace platform
