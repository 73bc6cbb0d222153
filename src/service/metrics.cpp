#include "service/metrics.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

// A label value as the text format wants it: backslash, quote and line break escaped.
std::string Label(const std::string& v) {
    std::string out;
    for (char c : v) {
        if (c == '\\' || c == '"')
            out += '\\', out += c;
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

struct Family {
    const char* name;
    const char* type;
    const char* help;
};

long CountEntries(const char* dir) {
    DIR* d = ::opendir(dir);
    if (!d) return 0;
    long n = 0;
    while (dirent* e = ::readdir(d))
        if (e->d_name[0] != '.') ++n;
    ::closedir(d);
    return n;
}

long StatusField(const char* key) {
    FILE* f = std::fopen("/proc/self/status", "re");
    if (!f) return 0;
    char line[256];
    long value = 0;
    const size_t n = std::strlen(key);
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, key, n) == 0 && line[n] == ':') {
            value = std::strtol(line + n + 1, nullptr, 10);
            break;
        }
    std::fclose(f);
    return value;
}

} // namespace

long KeptJobCount(const std::string& failedDir) {
    return failedDir.empty() ? 0 : CountEntries(failedDir.c_str());
}

std::string RenderMetrics(const std::vector<LuEntry>& lus) {
    std::string out;
    out.reserve(512 + lus.size() * 2048);
    char buf[256];
    auto family = [&](const Family& f) {
        out += "# HELP ";
        out += f.name;
        out += ' ';
        out += f.help;
        out += "\n# TYPE ";
        out += f.name;
        out += ' ';
        out += f.type;
        out += '\n';
    };
    std::vector<std::string> labels;
    labels.reserve(lus.size());
    for (const LuEntry& lu : lus)
        labels.push_back("lu=\"" + Label(lu.name) + "\"");
    auto series = [&](const Family& f, auto value) {
        family(f);
        for (size_t i = 0; i < lus.size(); ++i) {
            const LuCounters* c = lus[i].counters.get();
            std::snprintf(buf, sizeof buf, "%s{%s} %lld\n", f.name, labels[i].c_str(),
                          static_cast<long long>(c ? value(*c) : 0));
            out += buf;
        }
    };
    using C = const LuCounters&;
    series({"twprinter_up", "gauge", "1 while the LU's session is online."},
           [](C c) { return c.state.load() == 2 ? 1 : 0; });
    series({"twprinter_connection_attempts_total", "counter", "Connection attempts."},
           [](C c) { return c.connectAttempts.load(); });
    series({"twprinter_jobs_received_total", "counter", "Jobs received from the host."},
           [](C c) { return c.jobsReceived.load(); });
    series({"twprinter_jobs_delivered_total", "counter", "Jobs delivered."},
           [](C c) { return c.jobsDelivered.load(); });
    series({"twprinter_jobs_failed_total", "counter", "Job deliveries that failed."},
           [](C c) { return c.jobsFailed.load(); });
    series({"twprinter_jobs_kept_total", "counter", "Jobs kept in the failed folder."},
           [](C c) { return c.jobsKept.load(); });
    family({"twprinter_jobs_waiting", "gauge", "Jobs waiting in the failed folder."});
    for (size_t i = 0; i < lus.size(); ++i) {
        std::snprintf(buf, sizeof buf, "twprinter_jobs_waiting{%s} %ld\n", labels[i].c_str(),
                      KeptJobCount(lus[i].failedDir));
        out += buf;
    }
    series({"twprinter_records_received_total", "counter", "Data records received."},
           [](C c) { return c.records.load(); });
    series({"twprinter_bytes_received_total", "counter", "Bytes received from the host."},
           [](C c) { return c.bytes.load(); });
    series({"twprinter_negative_responses_total", "counter", "Negative responses sent."},
           [](C c) { return c.negativeResponses.load(); });
    series({"twprinter_last_job_timestamp_seconds", "gauge", "When the last job came in."},
           [](C c) { return c.lastJobTime.load(); });
    series({"twprinter_last_state_change_timestamp_seconds", "gauge",
            "When the session last changed state."},
           [](C c) { return c.lastStateChange.load(); });
    family({"twprinter_response_seconds", "histogram",
            "Time from a record's end to the response sent for it."});
    for (size_t i = 0; i < lus.size(); ++i) {
        const LuCounters* c = lus[i].counters.get();
        uint64_t cumulative = 0;
        for (int b = 0; b <= LuCounters::kBuckets; ++b) {
            cumulative += c ? c->responseBucket[b].load() : 0;
            char le[32];
            if (b < LuCounters::kBuckets)
                std::snprintf(le, sizeof le, "%g", LuCounters::kBucketsUs[b] / 1e6);
            else
                std::snprintf(le, sizeof le, "+Inf");
            std::snprintf(buf, sizeof buf, "twprinter_response_seconds_bucket{%s,le=\"%s\"} %llu\n",
                          labels[i].c_str(), le, static_cast<unsigned long long>(cumulative));
            out += buf;
        }
        std::snprintf(buf, sizeof buf,
                      "twprinter_response_seconds_sum{%s} %.6f\n"
                      "twprinter_response_seconds_count{%s} %llu\n",
                      labels[i].c_str(), c ? c->responseSumUs.load() / 1e6 : 0.0, labels[i].c_str(),
                      static_cast<unsigned long long>(cumulative));
        out += buf;
    }
    family({"twprinter_process_resident_memory_bytes", "gauge", "Resident memory."});
    out += "twprinter_process_resident_memory_bytes " +
           std::to_string(StatusField("VmRSS") * 1024L) + "\n";
    family({"twprinter_process_threads", "gauge", "Threads of the process."});
    out += "twprinter_process_threads " + std::to_string(StatusField("Threads")) + "\n";
    family({"twprinter_process_open_fds", "gauge", "Open file descriptors."});
    out += "twprinter_process_open_fds " + std::to_string(CountEntries("/proc/self/fd") - 1) + "\n";
    return out;
}

std::string NotReady(const std::vector<LuEntry>& lus, int64_t now) {
    std::string why;
    for (const LuEntry& lu : lus) {
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
