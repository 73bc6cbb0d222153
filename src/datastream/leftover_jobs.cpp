// Job files left in the spool by an earlier run that ended in the middle of
// a job (killed, power lost): found at start, reported and delivered.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <utility>
#include <vector>

#include "config/report.h"
#include "config/utilities.h"
#include "datastream/stream_impl.h"
#include "output/delivery.h"

namespace datastream {

namespace {

// The numbers n of the files PREFIXn.txt in the prefix's folder, ascending.
std::vector<long> NumberedJobs(const std::string& prefix) {
    size_t slash = prefix.find_last_of('/');
    std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : prefix.substr(0, slash);
    std::string base = slash == std::string::npos ? prefix : prefix.substr(slash + 1);
    std::vector<long> numbers;
    DIR* d = ::opendir(dir.c_str());
    if (!d) return numbers;
    while (dirent* e = ::readdir(d)) {
        std::string name = e->d_name;
        if (name.size() <= base.size() + 4 || name.compare(0, base.size(), base) != 0 ||
            name.compare(name.size() - 4, 4, ".txt") != 0)
            continue;
        std::string digits = name.substr(base.size(), name.size() - base.size() - 4);
        if (digits.size() > 9 || !std::all_of(digits.begin(), digits.end(),
                                              [](unsigned char c) { return std::isdigit(c); }))
            continue;
        numbers.push_back(std::stol(digits));
    }
    ::closedir(d);
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

} // namespace

void DataStream::DeliverLeftoverJobs() {
    Impl& s = *impl_;
    const config::Settings& set = s.settings;
    const std::string& prefix = set.fileName;
    // Only numbered job files can be told apart from what a user keeps there.
    if (prefix.empty() || prefix[0] == '0' || set.fixedFile || set.standardOutput ||
        s.job.IsNulPrefix(prefix))
        return;
    for (long n : NumberedJobs(prefix)) {
        const std::string path = prefix + std::to_string(n) + ".txt";
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat st {};
        // A job file another session is writing is locked; it is no left-over.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            continue;
        }
        if (st.st_size == 0) {
            // Opened but never written: nothing was received for it.
            ::unlink(path.c_str());
            ::close(fd);
            continue;
        }
        s.reporter.StatusLine("Print file " + path + " (" + std::to_string(st.st_size) +
                              " bytes) was left by an earlier run in the middle of a job; it "
                              "is delivered now as an incomplete job.");
        config::Trace("Incomplete job %s from an earlier run delivered (%lld bytes)\n",
                      path.c_str(), static_cast<long long>(st.st_size));
        if (config::gDebug)
            config::DebugPrint("Incomplete job " + path + " from an earlier run delivered\n");
        const bool delivered = s.delivery.Deliver(path, path + " (incomplete)") == 1;
        // Delivered, or moved to the failed folder: otherwise it stays for the next start.
        if (delivered)
            ::unlink(path.c_str());
        else if (::access(path.c_str(), F_OK) == 0)
            s.reporter.StatusLine("Print file " + path +
                                  " could not be delivered; it stays in the "
                                  "spool for the next start.");
        ::close(fd);
    }
}

} // namespace datastream
