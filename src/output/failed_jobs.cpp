// The folder of jobs whose delivery failed (KEEPFAILED): "failed" beside the
// print files, each job under a time stamp that sorts oldest first.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>

#include "config/report.h"
#include "config/utilities.h"
#include "output/media.h"

namespace output {

namespace {

// Across file systems rename cannot move: copied, then removed.
bool MoveFile(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) == 0) return true;
    std::string bytes;
    if (!ReadFileBytes(from, bytes)) return false;
    FILE* f = std::fopen(to.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = std::fclose(f) == 0 && ok;
    if (!ok) {
        ::unlink(to.c_str());
        return false;
    }
    ::unlink(from.c_str());
    return true;
}

} // namespace

std::string FailedFolder(const std::string& printFilePath) {
    return DirName(printFilePath) + "/failed";
}

std::string KeepFailedJob(const std::string& path, config::Reporter& reporter) {
    struct stat st {};
    if (IsNul(path) || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0)
        return "";
    std::string dir = FailedFolder(path);
    if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
        reporter.StatusLine("Unable to keep the failed job " + path + ": " +
                            config::FormatSystemError(dir.c_str(), errno));
        return "";
    }
    // The time stamp makes the names sort oldest first and keeps reused job names apart.
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    tm t{};
    ::gmtime_r(&ts.tv_sec, &t);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d-%02d%02d%02d.%09ld-", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, ts.tv_nsec);
    std::string target = dir + "/" + stamp + BaseName(path);
    if (!MoveFile(path, target)) {
        reporter.StatusLine("Unable to keep the failed job " + path + ": " +
                            config::FormatSystemError(target.c_str(), errno));
        return "";
    }
    reporter.StatusLine("The job was not delivered and is kept as " + target + ".");
    return target;
}

std::vector<KeptJob> KeptJobs(const std::string& dir) {
    std::vector<KeptJob> jobs;
    DIR* d = ::opendir(dir.c_str());
    if (!d) return jobs;
    std::vector<std::string> names;
    while (dirent* e = ::readdir(d))
        if (e->d_name[0] != '.') names.emplace_back(e->d_name);
    ::closedir(d);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        std::string full = dir + "/" + name;
        struct stat st {};
        if (::stat(full.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        // The name after the stamp's date and time parts.
        size_t dash = name.find('-', name.find('-') + 1);
        jobs.push_back({full, dash == std::string::npos ? name : name.substr(dash + 1)});
    }
    return jobs;
}

} // namespace output
