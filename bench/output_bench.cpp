// Rendering and submitting a 1000-page job: drawing alone, and the whole
// delivery through a private CUPS scheduler started here.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cups/cups.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "config/report.h"
#include "config/settings.h"
#include "output/delivery.h"
#include "output/pdf_render.h"
#include "testutil.h"

namespace {

constexpr int kPages = 1000;

std::string MakeDir() {
    char tmpl[] = "/tmp/twbench.XXXXXX";
    if (!mkdtemp(tmpl)) return "/tmp";
    chmod(tmpl, 0755); // the scheduler's backend runs as another user
    return tmpl;
}

const std::string& Dir() {
    static std::string d = MakeDir();
    return d;
}

std::string JobFile(int bodyLines) {
    std::string path = Dir() + "/JOB1000.txt";
    FILE* f = std::fopen(path.c_str(), "w");
    for (int i = 0; i < kPages * bodyLines; ++i)
        std::fprintf(
            f, "%08d The quick brown fox jumps over the lazy dog \xe9\xe8\xe0 0123456789 ABCDEF\n",
            i);
    std::fclose(f);
    return path;
}

void BM_Render1000Pages(benchmark::State& state) {
    output::PageLayout m = output::DefaultLayout();
    std::string path = JobFile(m.lines - 3);
    std::string pdf;
    for (auto _ : state) {
        if (!RenderPdf(path, m, 3, path, pdf)) state.SkipWithError("render failed");
        benchmark::DoNotOptimize(pdf.data());
    }
    state.counters["pages"] = kPages;
    state.counters["pdf_MB"] = pdf.size() / 1e6;
}
BENCHMARK(BM_Render1000Pages)->Unit(benchmark::kMillisecond)->Iterations(3);

// The default layout: the same lines, each page ended by a form feed, on A4.
void BM_RenderHostLayout1000Pages(benchmark::State& state) {
    std::string path = Dir() + "/JOBHOST.txt";
    FILE* f = std::fopen(path.c_str(), "w");
    for (int p = 0; p < kPages; ++p) {
        for (int i = 0; i < 60; ++i)
            std::fprintf(f,
                         "%08d The quick brown fox jumps over the lazy dog \xe9\xe8\xe0 0123456789 "
                         "ABCDEF\r\n",
                         p * 60 + i);
        std::fputc('\f', f);
    }
    std::fclose(f);
    output::Paper a4;
    PaperByName("a4", a4);
    std::string pdf;
    for (auto _ : state) {
        if (!DrawHostPages(path, a4, output::PageChoices{}, output::JobHints{}, 3, path, pdf,
                           config::StderrReporter()))
            state.SkipWithError("render failed");
        benchmark::DoNotOptimize(pdf.data());
    }
    state.counters["pages"] = kPages;
    state.counters["pdf_MB"] = pdf.size() / 1e6;
}
BENCHMARK(BM_RenderHostLayout1000Pages)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_PrintThroughCups1000Pages(benchmark::State& state) {
    testutil::Cupsd cupsd(Dir() + "/cups");
    if (!cupsd.Start()) {
        state.SkipWithError("cupsd did not start");
        return;
    }
    cupsSetServer(cupsd.server().c_str());
    config::Settings settings;
    settings.medium = config::Medium::Printer;
    settings.printer = "twtest";
    settings.headings = true;
    output::Delivery delivery(settings, config::StderrReporter(), nullptr);
    output::PageLayout m;
    GetPrinterLayout("twtest", m);
    std::string path = JobFile(m.lines - 3);
    for (auto _ : state) {
        if (delivery.Deliver(path, path) != 1) state.SkipWithError("print failed");
    }
    state.counters["pages"] = kPages;
}
BENCHMARK(BM_PrintThroughCups1000Pages)->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace

BENCHMARK_MAIN();
