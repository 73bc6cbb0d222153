#include "service/metrics.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace service {

namespace {

// How long a failed folder's count stands when nothing this process did could
// have changed it; shorter while jobs wait there, since someone removing them
// by hand is what comes next.
constexpr int64_t kRecountMs = 5000;
constexpr int64_t kRecountWaitingMs = 1000;

// A label value as the text format wants it: backslash, quote and line break escaped.
void AppendLabel(std::string& out, const std::string& v) {
    for (char c : v) {
        if (c == '\\' || c == '"')
            out += '\\', out += c;
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
}

template <typename T> void AppendNumber(std::string& out, T v) {
    char b[24];
    const auto r = std::to_chars(b, b + sizeof b, v);
    out.append(b, static_cast<size_t>(r.ptr - b));
}

// Microseconds as seconds with six decimals, exact where a double would round.
void AppendMicros(std::string& out, uint64_t us) {
    AppendNumber(out, us / 1000000);
    char b[7] = {'.'};
    for (int i = 6, f = static_cast<int>(us % 1000000); i > 0; --i, f /= 10)
        b[i] = static_cast<char>('0' + f % 10);
    out.append(b, sizeof b);
}

struct Family {
    std::string_view name;
    const char* type;
    const char* help;
};

void AppendFamily(std::string& out, const Family& f) {
    out += "# HELP ";
    out += f.name;
    out += ' ';
    out += f.help;
    out += "\n# TYPE ";
    out += f.name;
    out += ' ';
    out += f.type;
    out += '\n';
}

long CountEntries(const char* dir) {
    DIR* d = ::opendir(dir);
    if (!d) return 0;
    long n = 0;
    while (dirent* e = ::readdir(d))
        if (e->d_name[0] != '.') ++n;
    ::closedir(d);
    return n;
}

// A number field of /proc/self/status ("VmRSS", "Threads") in text already read.
long StatusField(const char* status, const char* key) {
    const size_t n = std::strlen(key);
    for (const char* line = status; *line;) {
        if (std::strncmp(line, key, n) == 0 && line[n] == ':')
            return std::strtol(line + n + 1, nullptr, 10);
        const char* next = std::strchr(line, '\n');
        if (!next) break;
        line = next + 1;
    }
    return 0;
}

// Open descriptors, by one poll over the whole descriptor table (size: FDSize
// of /proc/self/status): those not open answer POLLNVAL. Listing /proc/self/fd
// instead costs the kernel an entry made for each, a thousand in a big pool.
long OpenDescriptors(long tableSize) {
    rlimit limit{};
    // poll takes no more than the limit; a table that outgrew it is listed instead.
    if (tableSize <= 0 || ::getrlimit(RLIMIT_NOFILE, &limit) != 0 ||
        static_cast<rlim_t>(tableSize) > limit.rlim_cur)
        return CountEntries("/proc/self/fd") - 1; // less the one that reads it
    std::vector<pollfd> fds(static_cast<size_t>(tableSize));
    for (size_t i = 0; i < fds.size(); ++i)
        fds[i] = {static_cast<int>(i), 0, 0};
    if (::poll(fds.data(), fds.size(), 0) < 0) return CountEntries("/proc/self/fd") - 1;
    long n = 0;
    for (const pollfd& p : fds)
        if (!(p.revents & POLLNVAL)) ++n;
    return n;
}

// The histogram's le values, as "%g" gives them.
const std::vector<std::string>& BucketBounds() {
    static const std::vector<std::string> bounds = [] {
        std::vector<std::string> out;
        for (uint64_t us : session::LuCounters::kBucketsUs) {
            char b[32];
            std::snprintf(b, sizeof b, "%g", static_cast<double>(us) / 1e6);
            out.push_back(b);
        }
        out.push_back("+Inf");
        return out;
    }();
    return bounds;
}

} // namespace

long KeptJobCount(const std::string& failedDir) {
    return failedDir.empty() ? 0 : CountEntries(failedDir.c_str());
}

void MetricsWriter::Refresh() {
    std::vector<session::LuEntry> fresh;
    if (!board_.Refresh(fresh, version_)) return;
    // While a pool starts its board changes between any two scrapes; the folder counts of
    // the LUs that stayed as they were (same session, same folder) stand, so that such a
    // scrape does not read every LU's folder again. Both lists are in name order.
    std::vector<Kept> kept(fresh.size());
    for (size_t i = 0, j = 0; i < fresh.size() && j < lus_.size();) {
        const int order = fresh[i].name.compare(lus_[j].name);
        if (order == 0 && fresh[i].failedDir == lus_[j].failedDir &&
            fresh[i].counters == lus_[j].counters)
            kept[i] = kept_[j];
        i += order <= 0;
        j += order >= 0;
    }
    lus_ = std::move(fresh);
    kept_ = std::move(kept);
    labels_.clear();
    labelAt_.clear();
    for (const session::LuEntry& lu : lus_) {
        labelAt_.push_back(static_cast<uint32_t>(labels_.size()));
        labels_ += "lu=\"";
        AppendLabel(labels_, lu.name);
        labels_ += '"';
    }
    labelAt_.push_back(static_cast<uint32_t>(labels_.size()));
}

// Counted again when the LU kept a job, delivered one while some waited, or
// the count has aged; a healthy pool's scrape thus reads hardly a folder.
long MetricsWriter::Waiting(size_t i, int64_t nowMs) {
    const session::LuEntry& lu = lus_[i];
    Kept& k = kept_[i];
    const session::LuCounters* c = lu.counters.get();
    const uint64_t kept = c ? c->jobsKept.load(std::memory_order_relaxed) : 0;
    const uint64_t delivered = c ? c->jobsDelivered.load(std::memory_order_relaxed) : 0;
    const bool first = k.count < 0;
    if (first || kept != k.kept || (k.count > 0 && delivered != k.delivered) ||
        nowMs - k.atMs >= (k.count > 0 ? kRecountWaitingMs : kRecountMs)) {
        k.count = KeptJobCount(lu.failedDir);
        k.kept = kept;
        k.delivered = delivered;
        // The first counts are aged apart, so later scrapes share the recounting.
        k.atMs =
            first ? nowMs - kRecountMs * static_cast<int64_t>(i) / static_cast<int64_t>(lus_.size())
                  : nowMs;
    }
    return k.count;
}

std::string MetricsWriter::Render(int64_t nowMs) {
    Refresh();
    std::string out;
    out.reserve(lastSize_ ? lastSize_ + lastSize_ / 8 : 4096 + lus_.size() * 1536);
    auto label = [&](size_t i) { out.append(labels_, labelAt_[i], labelAt_[i + 1] - labelAt_[i]); };
    auto series = [&](const Family& f, auto value) {
        AppendFamily(out, f);
        for (size_t i = 0; i < lus_.size(); ++i) {
            const session::LuCounters* c = lus_[i].counters.get();
            out += f.name;
            out += '{';
            label(i);
            out += "} ";
            AppendNumber(out, c ? value(*c) : 0);
            out += '\n';
        }
    };
    using C = const session::LuCounters&;
    constexpr auto relaxed = std::memory_order_relaxed;
    series({"twprinter_up", "gauge", "1 while the LU's session is online."},
           [](C c) { return c.state.load(relaxed) == 2 ? 1 : 0; });
    series({"twprinter_connection_attempts_total", "counter", "Connection attempts."},
           [](C c) { return c.connectAttempts.load(relaxed); });
    series({"twprinter_jobs_received_total", "counter", "Jobs received from the host."},
           [](C c) { return c.jobsReceived.load(relaxed); });
    series({"twprinter_jobs_delivered_total", "counter", "Jobs delivered."},
           [](C c) { return c.jobsDelivered.load(relaxed); });
    series({"twprinter_jobs_failed_total", "counter", "Job deliveries that failed."},
           [](C c) { return c.jobsFailed.load(relaxed); });
    series({"twprinter_jobs_kept_total", "counter", "Jobs kept in the failed folder."},
           [](C c) { return c.jobsKept.load(relaxed); });
    AppendFamily(out, {"twprinter_jobs_waiting", "gauge", "Jobs waiting in the failed folder."});
    for (size_t i = 0; i < lus_.size(); ++i) {
        out += "twprinter_jobs_waiting{";
        label(i);
        out += "} ";
        AppendNumber(out, Waiting(i, nowMs));
        out += '\n';
    }
    series({"twprinter_records_received_total", "counter", "Data records received."},
           [](C c) { return c.records.load(relaxed); });
    series({"twprinter_bytes_received_total", "counter", "Bytes received from the host."},
           [](C c) { return c.bytes.load(relaxed); });
    series({"twprinter_negative_responses_total", "counter", "Negative responses sent."},
           [](C c) { return c.negativeResponses.load(relaxed); });
    series({"twprinter_last_job_timestamp_seconds", "gauge", "When the last job came in."},
           [](C c) { return c.lastJobTime.load(relaxed); });
    series({"twprinter_last_state_change_timestamp_seconds", "gauge",
            "When the session last changed state."},
           [](C c) { return c.lastStateChange.load(relaxed); });
    AppendFamily(out, {"twprinter_response_seconds", "histogram",
                       "Time from a record's end to the response sent for it."});
    const std::vector<std::string>& bounds = BucketBounds();
    for (size_t i = 0; i < lus_.size(); ++i) {
        const session::LuCounters* c = lus_[i].counters.get();
        uint64_t cumulative = 0;
        for (int b = 0; b <= session::LuCounters::kBuckets; ++b) {
            cumulative += c ? c->responseBucket[b].load(relaxed) : 0;
            out += "twprinter_response_seconds_bucket{";
            label(i);
            out += ",le=\"";
            out += bounds[static_cast<size_t>(b)];
            out += "\"} ";
            AppendNumber(out, cumulative);
            out += '\n';
        }
        out += "twprinter_response_seconds_sum{";
        label(i);
        out += "} ";
        AppendMicros(out, c ? c->responseSumUs.load(relaxed) : 0);
        // The count is the buckets' sum, so the two never disagree mid-update.
        out += "\ntwprinter_response_seconds_count{";
        label(i);
        out += "} ";
        AppendNumber(out, cumulative);
        out += '\n';
    }
    char status[8192];
    ssize_t n = -1;
    if (const int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC); fd >= 0) {
        n = ::read(fd, status, sizeof status - 1);
        ::close(fd);
    }
    status[n > 0 ? n : 0] = '\0';
    AppendFamily(out, {"twprinter_process_resident_memory_bytes", "gauge", "Resident memory."});
    out += "twprinter_process_resident_memory_bytes ";
    AppendNumber(out, StatusField(status, "VmRSS") * 1024L);
    AppendFamily(out.append("\n"),
                 {"twprinter_process_threads", "gauge", "Threads of the process."});
    out += "twprinter_process_threads ";
    AppendNumber(out, StatusField(status, "Threads"));
    AppendFamily(out.append("\n"),
                 {"twprinter_process_open_fds", "gauge", "Open file descriptors."});
    out += "twprinter_process_open_fds ";
    AppendNumber(out, OpenDescriptors(StatusField(status, "FDSize")));
    out += '\n';
    lastSize_ = out.size();
    return out;
}

std::string NotReady(const std::vector<session::LuEntry>& lus, int64_t now) {
    std::string why;
    for (const session::LuEntry& lu : lus) {
        if (!lu.valid) continue;
        std::string reason;
        if (!lu.stopped.empty()) {
            reason = lu.stopped;
        } else if (lu.counters && lu.counters->state.load() != 2) {
            const int64_t since = lu.counters->offlineSince.load();
            if (since && (now - since) * 1000 > lu.retryMs)
                reason =
                    "offline for " + std::to_string(now - since) + " s, connecting to " + lu.host;
        }
        if (!reason.empty()) why += lu.name + ": " + reason + "\n";
    }
    return why;
}

} // namespace service
