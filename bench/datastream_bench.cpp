// 100 MB jobs through the record interpreter into a real print file, records
// streamed (no response asked, written once per 64 KB received): SCS text
// (80-column lines, 60-line pages) with the built-in table and with host code
// pages into UTF-8 (single-byte 273, double-byte 930), and LU3 Writes with
// orders. Reports MB/s of host data and the peak resident memory, which must
// not grow with the job.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "config/report.h"
#include "config/settings.h"
#include "config/translate.h"
#include "datastream/data_stream.h"
#include "datastream/host_link.h"
#include "output/delivery.h"

namespace {

constexpr size_t kJobBytes = 100u << 20;

class QuietReport : public config::Reporter {
  public:
    void ShowOnlineState(bool) override {}
    void ShowStatusMessage(int, const std::string&) override {}
    void ShowMessageBox(const std::string&) override {}
    bool AskYesNo(const std::string&) override { return true; }
    void StatusLine(const std::string&) override {}
};

class NullHost : public datastream::HostLink {
  public:
    int SendRecord(std::span<const uint8_t>) override { return 0; }
    bool ExtensionUnnegotiated() const override { return false; }
};

// EBCDIC text: letters, digits and spaces, 79 characters and NL per line.
std::vector<uint8_t> ScsRecord() {
    static const uint8_t text[] = {0xE3, 0xC8, 0xC5, 0x40, 0xD8, 0xE4, 0xC9, 0xC3, 0xD2, 0x40,
                                   0x82, 0x99, 0x96, 0xA6, 0x95, 0x40, 0xF0, 0xF1, 0xF2, 0xF3};
    std::vector<uint8_t> r;
    for (int line = 0; line < 48; ++line) {
        for (int c = 0; c < 79; ++c)
            r.push_back(text[(c + line) % sizeof text]);
        r.push_back(0x15);
    }
    return r;
}

// Erase/Write, WCC for 80-column lines, then rows placed by SBA, a field, text.
std::vector<uint8_t> Lu3Record() {
    static const uint8_t code[64] = {
        0x40, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0x4A, 0x4B, 0x4C,
        0x4D, 0x4E, 0x4F, 0x50, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9,
        0x5A, 0x5B, 0x5C, 0x5D, 0x5E, 0x5F, 0x60, 0x61, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6,
        0xE7, 0xE8, 0xE9, 0x6A, 0x6B, 0x6C, 0x6D, 0x6E, 0x6F, 0xF0, 0xF1, 0xF2, 0xF3,
        0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0x7A, 0x7B, 0x7C, 0x7D, 0x7E, 0x7F};
    std::vector<uint8_t> r{0xF5, 0xF1};
    for (int row = 0; row < 27; ++row) {
        int a = row * 132;
        r.insert(r.end(), {0x11, code[(a >> 6) & 0x3F], code[a & 0x3F], 0x1D, 0x60});
        for (int c = 0; c < 78; ++c)
            r.push_back(c % 9 == 8 ? 0x40 : static_cast<uint8_t>(0xC1 + c % 9));
        r.push_back(0x15);
    }
    return r;
}

// Japanese: each line SO, 38 kanji, SI, then a blank and NL: 80 bytes, 79 columns.
std::vector<uint8_t> DbcsRecord() {
    static const uint8_t kanji[] = {0x45, 0x62, 0x45, 0x66, 0x48, 0xE7, 0x4F, 0x58, 0x48, 0xF2};
    std::vector<uint8_t> r;
    for (int line = 0; line < 48; ++line) {
        r.push_back(0x0E);
        for (int c = 0; c < 38; ++c) {
            r.push_back(kanji[(2 * (c + line)) % sizeof kanji]);
            r.push_back(kanji[(2 * (c + line) + 1) % sizeof kanji]);
        }
        r.insert(r.end(), {0x0F, 0x40, 0x15});
    }
    return r;
}

long PeakRssKb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

void RunJob(benchmark::State& state, int lutype, const std::vector<uint8_t>& rec,
            const char* codePage = nullptr) {
    QuietReport quiet;
    NullHost host;
    // TWBENCH_DIR (default /tmp) holds the job files: /dev/shm leaves the
    // file system's own cost, and its noise, out of the figure.
    const char* base = std::getenv("TWBENCH_DIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/twdsbench.XXXXXX";
    const std::string dir = mkdtemp(tmpl.data()) ? tmpl : "/tmp";
    config::Settings s = config::DefaultSettings();
    s.fileName = dir + "/JOB";
    s.medium = config::Medium::File;
    s.linesPerPage = 60;
    s.luType = lutype;
    std::string message;
    if (codePage && (!config::LoadCodePage(codePage, s.ebcdicToAscii, message) ||
                     !LoadHostCharacters(codePage, s.codePage, message))) {
        state.SkipWithError(message.c_str());
        return;
    }
    output::Delivery delivery(s, quiet, nullptr);
    datastream::DataStream ds(s, quiet, host, delivery);
    ds.StartConnection();
    ds.State().owner = 2;
    const size_t records = kJobBytes / rec.size();
    const long rssBefore = PeakRssKb();
    int job = 0;
    // As a streaming host's records come: no response asked, written once per receive.
    constexpr size_t kReceive = 64 * 1024;
    const size_t perReceive = std::max<size_t>(1, kReceive / rec.size());
    for (auto _ : state) {
        for (size_t i = 0; i < records; ++i)
            if (!ds.ProcessRecord(rec, datastream::DataStream::Flush::Later).ok() ||
                ((i + 1) % perReceive == 0 && !ds.FlushPending().ok())) {
                state.SkipWithError("record rejected");
                break;
            }
        state.PauseTiming();
        // Delivery copies the file; it is not the interpreter's cost.
        ds.EndJob();
        std::remove((dir + "/JOB" + std::to_string(job++) + "f.txt").c_str());
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * records * rec.size()));
    state.counters["MB_per_job"] = static_cast<double>(records * rec.size()) / 1e6;
    state.counters["rss_growth_MB"] = static_cast<double>(PeakRssKb() - rssBefore) / 1024.0;
    std::string rm = "rm -rf '" + dir + "'";
    if (std::system(rm.c_str()) != 0) state.SkipWithError("cleanup failed");
}

void BM_ScsText100MB(benchmark::State& state) {
    RunJob(state, 1, ScsRecord());
}
BENCHMARK(BM_ScsText100MB)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_ScsTextUtf8_100MB(benchmark::State& state) {
    RunJob(state, 1, ScsRecord(), "273");
}
BENCHMARK(BM_ScsTextUtf8_100MB)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_ScsDbcsUtf8_100MB(benchmark::State& state) {
    RunJob(state, 1, DbcsRecord(), "930");
}
BENCHMARK(BM_ScsDbcsUtf8_100MB)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_Lu3Writes100MB(benchmark::State& state) {
    RunJob(state, 3, Lu3Record());
}
BENCHMARK(BM_Lu3Writes100MB)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
