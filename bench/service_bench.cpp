// The status endpoint's /metrics built in process for a board of N LUs, as a
// scrape of a pool builds it (target: one scrape of 500 LUs under 20 ms on
// loopback, bench/status_scrape.sh). Every tenth LU has a failed folder with a
// kept job; the others have none yet, as in a healthy pool.
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "service/metrics.h"
#include "session/lu_board.h"
#include "testutil.h"

namespace {

struct Pool {
    explicit Pool(int n) {
        for (int i = 0; i < n; ++i) {
            session::LuEntry e;
            e.name = "LU" + std::to_string(1000 + i);
            e.host = "127.0.0.1:3270";
            e.failedDir = dir.file(e.name + "/failed");
            if (i % 10 == 0) {
                ::mkdir(dir.file(e.name).c_str(), 0700);
                ::mkdir(e.failedDir.c_str(), 0700);
                testutil::WriteFile(e.failedDir + "/JOB1.txt", "x");
            }
            auto c = std::make_shared<session::LuCounters>();
            c->SetState(2);
            c->connectAttempts = 1;
            c->jobsReceived = 1234 + i;
            c->jobsDelivered = 1230 + i;
            c->records = 400000ull * i;
            c->bytes = 32000000ull * i;
            c->lastJobTime = 1765000000 + i;
            for (int r = 0; r < 1000; ++r)
                c->Response(static_cast<uint64_t>(37 * r % 3000), r % 97 == 0);
            e.counters = c;
            board.Set(e);
        }
    }
    testutil::TempDir dir;
    session::LuBoard board;
};

void BM_Metrics(benchmark::State& state) {
    Pool pool(static_cast<int>(state.range(0)));
    service::MetricsWriter writer(pool.board);
    size_t bytes = 0;
    int64_t nowMs = 0;
    for (auto _ : state) {
        // Ten scrapes a second, as bench/status_scrape.sh reads it.
        nowMs += 100;
        const std::string text = writer.Render(nowMs);
        bytes = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_Metrics)->Arg(50)->Arg(500)->Unit(benchmark::kMillisecond);

// The same while the pool starts: an LU's entry is posted again between any two
// scrapes (a session started or ended), so each scrape copies the board anew.
void BM_MetricsWhileLusChange(benchmark::State& state) {
    Pool pool(static_cast<int>(state.range(0)));
    service::MetricsWriter writer(pool.board);
    const std::vector<session::LuEntry> lus = pool.board.Snapshot();
    int64_t nowMs = 0;
    size_t next = 0;
    for (auto _ : state) {
        nowMs += 100;
        pool.board.Set(lus[next++ % lus.size()]);
        const std::string text = writer.Render(nowMs);
        benchmark::DoNotOptimize(text.data());
    }
}
BENCHMARK(BM_MetricsWhileLusChange)->Arg(500)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
