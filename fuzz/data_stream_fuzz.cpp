// The data stream on arbitrary records, LU1 and LU3.
// Input: a flags byte, a page byte, then records, each a 2-byte big-endian
// length and its bytes (cut at the end of the input). Flags: 0x01 LU3, 0x02
// btam, 0x04 FF ends jobs, 0x08 the first record carries structured fields,
// 0x10 job files in a directory instead of standard output, 0x20 the
// double-byte code page 930 into UTF-8, 0x40 code page 1141 into ISO 8859-15
// (0x20 wins). Page byte: low
// nibble page length, high nibble lines per job.
// Each record lies in a buffer of its own size, so a read past it is caught;
// standard output receives the jobs, and its growth is bounded by what each
// record may print.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config/settings.h"
#include "config/translate.h"
#include "datastream/data_stream.h"
#include "datastream/host_link.h"
#include "fuzz_engine.h"
#include "output/delivery.h"

namespace {

// Replies go nowhere; the extension option is not in use.
class NullHost : public HostLink {
  public:
    int SendRecord(std::span<const uint8_t>) override { return 0; }
    bool ExtensionUnnegotiated() const override { return false; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string dir = FuzzSpoolSetup("twdsfuzz");
    if (size < 2) return 0;
    const uint8_t flags = data[0], page = data[1];
    const bool toStdout = !(flags & 0x10);

    Settings s = DefaultSettings();
    s.btam = flags & 0x02;
    s.formFeed = !s.btam && (flags & 0x04);
    s.standardOutput = toStdout;
    s.fileName = dir + "/J";
    s.medium = Medium::File;
    s.linesPerPage = page & 0x0F;
    s.printAfterNLines = page >> 4;
    s.luType = flags & 0x01 ? 3 : 1;
    if (flags & 0x60) {
        static const Settings paged = [] {
            Settings p = DefaultSettings();
            std::string m;
            if (!LoadHostCharacters("930", p.codePage, m)) std::abort();
            return p;
        }();
        static const Settings latin9 = [] {
            Settings p = DefaultSettings();
            std::string m;
            if (!LoadCodePage("1141", p.ebcdicToAscii, m)) std::abort();
            if (!LoadHostCharacters("1141", p.codePage, m)) std::abort();
            p.outputCharset = "ISO-8859-15";
            return p;
        }();
        const Settings& from = flags & 0x20 ? paged : latin9;
        s.codePage = from.codePage;
        s.ebcdicToAscii = from.ebcdicToAscii;
        s.outputCharset = from.outputCharset;
    }
    std::fflush(stdout);
    if (ftruncate(fileno(stdout), 0) != 0) std::abort();
    std::rewind(stdout);

    NullHost host;
    size_t records = 0;
    Delivery delivery(s, FuzzQuietReporter(), nullptr);
    {
        DataStream ds(s, FuzzQuietReporter(), host, delivery);
        ds.StartConnection();
        ds.State().sfMode = flags & 0x08;
        size_t at = 2;
        while (at + 2 <= size) {
            ++records;
            size_t n = static_cast<size_t>(data[at] << 8 | data[at + 1]);
            at += 2;
            n = std::min(n, size - at);
            std::vector<uint8_t> rec(data + at, data + at + n);
            at += n;
            int16_t st = ds.ProcessRecord(rec);
            // Negative: an offset inside the record; positive: one of the writer's,
            // the reply builders' or the LU mismatch message numbers.
            if (st < -static_cast<int32_t>(n) - 3 ||
                (st > 0 && st != 63 && st != 72 && st != 73 && st != 75 && st != 77 && st != 94))
                std::abort();
        }
        if (ds.JobOpen()) ds.EndJob();
    }
    if (toStdout) {
        std::fflush(stdout);
        long out = std::ftell(stdout);
        // Every record stops within a line of its print limit (a left margin
        // can make each character a line of its own, so no per-byte bound holds).
        const size_t bound = records * (64 * 1024 + 2 * 256) + 64 * size;
        if (out < 0 || static_cast<size_t>(out) > bound) std::abort();
    } else {
        FuzzSpoolClear(dir);
    }
    return 0;
}
