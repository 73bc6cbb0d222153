// The print archive: jobs of 5 pages (60 lines of 80 columns, words drawn from
// a vocabulary) queued one by one as delivery threads do and archived by the
// writer, then a word search over all of them, and the index's size against
// the archived text's. ARCHIVE_BENCH_JOBS sets the count (default 100000; the
// targets: a search under 50 ms, 1000 jobs/s archived, the index under 20% of
// the text).
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "testutil.h"

namespace {

long Jobs() {
    const char* n = std::getenv("ARCHIVE_BENCH_JOBS");
    return n && std::atol(n) > 0 ? std::atol(n) : 100000;
}

std::vector<std::string> Vocabulary() {
    std::mt19937 random(1);
    std::vector<std::string> words;
    for (int i = 0; i < 20000; ++i) {
        std::string w;
        const int length = 3 + static_cast<int>(random() % 8);
        for (int c = 0; c < length; ++c)
            w += static_cast<char>('A' + random() % 26);
        words.push_back(w);
    }
    return words;
}

std::string Report(std::mt19937& random, const std::vector<std::string>& words) {
    std::string text;
    for (int page = 0; page < 5; ++page) {
        for (int line = 0; line < 60; ++line) {
            std::string l;
            while (l.size() < 72)
                l += words[random() % words.size()] + " ";
            text += l + "\r\n";
        }
        text += "\f";
    }
    return text;
}

long long Size(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_size : 0;
}

// The most CPU time any thread but this one has used, in seconds.
double BusiestThreadSeconds() {
    double most = 0;
    const std::string self = std::to_string(::gettid());
    for (const std::string& tid : testutil::ListDir("/proc/self/task")) {
        if (tid == self) continue;
        std::ifstream in("/proc/self/task/" + tid + "/stat");
        std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::istringstream fields(stat.substr(stat.rfind(')') + 2));
        std::string f;
        unsigned long long ticks = 0;
        for (int i = 3; i <= 15 && fields >> f; ++i)
            if (i >= 14) ticks += std::stoull(f);
        most = std::max(most,
                        static_cast<double>(ticks) / static_cast<double>(::sysconf(_SC_CLK_TCK)));
    }
    return most;
}

struct Filled {
    testutil::TempDir dir;
    archive::Archive store{dir.file("archive"), 30, 0, nullptr};
    double jobsPerSecond = 0, cpuJobsPerSecond = 0;
    long long textBytes = 0;
    std::vector<std::string> words = Vocabulary();
    Filled() {
        store.Open();
        std::mt19937 random(2);
        const long n = Jobs();
        // Reports made beforehand, so that what is timed is the archive's work.
        std::vector<std::string> reports;
        for (int i = 0; i < 1000; ++i)
            reports.push_back(Report(random, words));
        const double before = BusiestThreadSeconds();
        const auto start = std::chrono::steady_clock::now();
        for (long i = 0; i < n; ++i) {
            archive::Job job;
            job.lu = "PRT" + std::to_string(i % 500);
            job.name = "/spool/JOB" + std::to_string(i) + ".txt";
            job.number = i;
            job.delivered = job.received = archive::Now();
            job.pages = 5;
            job.medium = "file";
            job.outcome = "delivered";
            job.raw = "JOB " + std::to_string(i) + "\r\n" + reports[i % reports.size()];
            job.text = job.raw;
            job.bytes = static_cast<long long>(job.raw.size());
            textBytes += job.bytes;
            store.Enqueue(std::move(job));
        }
        store.Flush();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        jobsPerSecond = static_cast<double>(n) / took.count();
        // On a shared machine the clock also counts other programs' turns: the
        // writer's busiest thread's own time says what it keeps up with alone.
        cpuJobsPerSecond = static_cast<double>(n) / (BusiestThreadSeconds() - before);
    }
};

Filled& Archive() {
    static Filled filled;
    return filled;
}

void BM_ArchiveJobs(benchmark::State& state) {
    Filled& a = Archive();
    for (auto _ : state) {
    }
    state.counters["jobs"] = static_cast<double>(Jobs());
    state.counters["jobs/s"] = a.jobsPerSecond;
    state.counters["cpu jobs/s"] = a.cpuJobsPerSecond;
    const std::string index = a.dir.file("archive/index.db");
    state.counters["index%text"] = 100.0 * static_cast<double>(Size(index) + Size(index + "-wal")) /
                                   static_cast<double>(a.textBytes);
}
BENCHMARK(BM_ArchiveJobs)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_ArchiveWordSearch(benchmark::State& state) {
    Filled& a = Archive();
    std::mt19937 random(3);
    size_t hits = 0;
    for (auto _ : state) {
        archive::Query q;
        q.words = {a.words[random() % a.words.size()]};
        std::vector<archive::Hit> found;
        std::string why;
        a.store.Find(q, found, why);
        hits += found.size();
    }
    state.counters["hits/search"] =
        static_cast<double>(hits) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_ArchiveWordSearch)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
