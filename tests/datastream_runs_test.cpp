// The bulk paths of the interpreter against the byte-at-a-time one: the block
// translation on its own, with every instruction set the processor has, and
// whole records against the same bytes sent a record each, which leaves every
// run one byte long.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "config/report.h"
#include "config/translate.h"
#include "datastream/byte_blocks.h"
#include "datastream/data_stream.h"
#include "datastream/host_link.h"
#include "datastream/job_output.h"
#include "output/delivery.h"
#include "testutil.h"

namespace {

using datastream::ByteBlocks;

// Each length of run against each place of a stop, near every block edge, with
// bytes to spare and without: what is taken is the leading run, translated.
TEST(ByteBlocks, TakeTheLeadingRunWithEveryInstructionSet) {
    // A page with no access after the input: a read past what is readable faults.
    struct Guard {
        const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        uint8_t* base = static_cast<uint8_t*>(
            mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        Guard() { mprotect(base + page, page, PROT_NONE); }
        ~Guard() { munmap(base, 2 * page); }
        uint8_t* End() const { return base + page; }
    } guard;
    ASSERT_NE(guard.base, MAP_FAILED);
    std::mt19937 random(7);
    for (ByteBlocks::Isa isa :
         {ByteBlocks::Isa::None, ByteBlocks::Isa::Avx2, ByteBlocks::Isa::Avx512}) {
        for (int stopsInEight : {0, 1, 4}) {
            std::array<int16_t, 256> one{};
            for (int b = 0; b < 256; ++b)
                one[b] = static_cast<int>(random() % 8) < stopsInEight
                             ? -1
                             : static_cast<int16_t>(random() % 256);
            // Both ends of the byte range, where the vectors' halves meet, and
            // a character that becomes the byte 0 (a stop as well).
            one[0x00] = one[0x7F] = -1;
            one[0x41] = 0;
            one[0x80] = 0x41;
            one[0xFF] = 0x42;
            ByteBlocks blocks;
            blocks.Build(one, isa);
            if (blocks.InUse() != isa) continue; // this processor lacks it
            SCOPED_TRACE(testing::Message()
                         << "isa " << static_cast<int>(isa) << ", stops " << stopsInEight);
            for (size_t n = 0; n <= 140; ++n) {
                for (size_t spare : {size_t{0}, size_t{1}, size_t{31}, size_t{40}}) {
                    // A run of data characters, its stop (if any) at n or before,
                    // its readable bytes up to an unreadable page.
                    const size_t readable = n + spare;
                    uint8_t* in = guard.End() - readable;
                    for (size_t k = 0; k < readable; ++k) {
                        do
                            in[k] = static_cast<uint8_t>(random());
                        while (one[in[k]] <= 0);
                    }
                    const size_t stopAt = random() % (n + 1);
                    if (stopAt < readable && stopsInEight != 0) {
                        uint8_t b;
                        do
                            b = static_cast<uint8_t>(random());
                        while (one[b] > 0);
                        in[stopAt] = b;
                    }
                    size_t lead = 0;
                    while (lead < n && one[in[lead]] > 0)
                        ++lead;
                    std::vector<uint8_t> out(n + ByteBlocks::kBlock + 64, 0xEE);
                    if (!blocks.Usable(readable)) {
                        EXPECT_NE(isa, ByteBlocks::Isa::Avx512);
                        EXPECT_TRUE(isa == ByteBlocks::Isa::None || readable < ByteBlocks::kBlock);
                        continue;
                    }
                    const size_t taken = blocks.Translate(in, n, readable, out.data());
                    ASSERT_LE(taken, lead) << n << " " << spare;
                    // Short of the run only where a block no longer fits.
                    if (taken < lead) {
                        EXPECT_LT(readable - taken, ByteBlocks::kBlock) << n << " " << spare;
                    }
                    for (size_t k = 0; k < taken; ++k)
                        ASSERT_EQ(out[k], one[in[k]]) << k << " of " << n;
                    // Nothing is written past the room it is given.
                    for (size_t k = n + ByteBlocks::kBlock; k < out.size(); ++k)
                        ASSERT_EQ(out[k], 0xEE) << k << " of " << n;
                }
            }
        }
    }
}

// Bytes spread into cells: each its own, at every length, nothing read past
// the input (an unreadable page follows it) nor written past its cells; and
// the first byte below a floor found wherever it is, or none.
TEST(ByteBlocks, SpreadIntoCellsAndFindTheFirstControl) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    auto* base = static_cast<uint8_t*>(
        mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(base, MAP_FAILED);
    ASSERT_EQ(mprotect(base + page, page, PROT_NONE), 0);
    for (size_t n = 0; n <= 70; ++n) {
        uint8_t* in = base + page - n;
        for (size_t k = 0; k < n; ++k)
            in[k] = static_cast<uint8_t>(0x40 + 7 * k % 0xC0);
        std::vector<uint8_t> out(4 * n + 64, 0xEE);
        ByteBlocks::Spread(in, n, 0x02, out.data());
        for (size_t k = 0; k < n; ++k) {
            ASSERT_EQ(out[4 * k], 0x02) << k << " of " << n;
            ASSERT_EQ(out[4 * k + 1], in[k]) << k << " of " << n;
            ASSERT_EQ(out[4 * k + 2] | out[4 * k + 3], 0) << k << " of " << n;
        }
        for (size_t k = 4 * n; k < out.size(); ++k)
            ASSERT_EQ(out[k], 0xEE) << k << " of " << n;
        EXPECT_EQ(ByteBlocks::Below(in, n, 0x40), n);
        for (size_t at = 0; at < n; ++at) {
            const uint8_t was = in[at];
            in[at] = static_cast<uint8_t>(at % 2 ? 0x3F : 0x00);
            ASSERT_EQ(ByteBlocks::Below(in, n, 0x40), at) << n;
            in[at] = was;
        }
    }
    munmap(base, 2 * page);
}

struct Host : datastream::HostLink {
    int SendRecord(std::span<const uint8_t>) override { return 0; }
    bool ExtensionUnnegotiated() const override { return false; }
};

struct Quiet : config::Reporter {
    void ShowOnlineState(bool) override {}
    void ShowStatusMessage(int, const std::string&) override {}
    void ShowMessageBox(const std::string&) override {}
    bool AskYesNo(const std::string&) override { return true; }
    void StatusLine(const std::string&) override {}
};

// The records through one data stream (each single-byte character a record
// of its own when bytewise): everything it printed, jobs in order.
std::string Print(const std::vector<std::string>& records, bool bytewise,
                  const std::function<void(config::Settings&)>& set, bool hold) {
    testutil::TempDir dir;
    config::Settings s = config::DefaultSettings();
    s.fileName = dir.file("J");
    s.medium = config::Medium::File;
    s.luType = 1;
    if (set) set(s);
    // A record starts in single-byte mode: what lies from SO through SI stays one.
    std::vector<std::string> sent;
    for (const auto& rec : records) {
        if (!bytewise) {
            sent.push_back(rec);
            continue;
        }
        for (size_t k = 0; k < rec.size(); ++k) {
            const size_t to = rec[k] == '\x0E' ? std::min(rec.find('\x0F', k), rec.size() - 1) : k;
            sent.push_back(rec.substr(k, to - k + 1));
            k = to;
        }
    }
    Host host;
    Quiet quiet;
    std::string all;
    {
        output::Delivery delivery(s, quiet, nullptr);
        datastream::DataStream ds(s, quiet, host, delivery);
        ds.StartConnection();
        for (size_t r = 0; r < sent.size(); ++r) {
            const auto& rec = sent[r];
            // Held and written at a receive's end, or at once: both ways.
            const auto flush = hold || r % 3 ? datastream::DataStream::Flush::Later
                                             : datastream::DataStream::Flush::Now;
            EXPECT_EQ(
                ds.ProcessRecord({reinterpret_cast<const uint8_t*>(rec.data()), rec.size()}, flush)
                    .code,
                0);
            if (!hold && r % 5 == 4) {
                EXPECT_EQ(ds.FlushPending().code, 0);
            }
        }
        EXPECT_EQ(ds.FlushPending().code, 0);
        if (ds.JobOpen()) ds.EndJob();
    }
    for (int n = 0;; ++n) {
        const std::string f = dir.file("J" + std::to_string(n) + "f.txt");
        if (access(f.c_str(), F_OK) != 0) break;
        all += testutil::ReadFile(f);
    }
    return all;
}

// Records of runs of every length up to past a line, cut by line ends,
// carriage returns, line feeds, backspaces, form feeds and shifts, with the
// odd byte that prints as several or as none.
std::vector<std::string> RandomRecords(std::mt19937& random, const std::string& extra) {
    static const std::string kControls = {'\x15', '\x0D', '\x25', '\x16', '\x0C', '\x05'};
    std::vector<std::string> records;
    for (int r = 0; r < 60; ++r) {
        std::string rec;
        const int runs = 1 + static_cast<int>(random() % 12);
        for (int k = 0; k < runs; ++k) {
            const int length = static_cast<int>(random() % 150);
            for (int c = 0; c < length; ++c) {
                const unsigned pick = random() % 100;
                rec += pick < 2 && !extra.empty()
                           ? extra[random() % extra.size()]
                           : static_cast<char>(0x40 + random() % 0xBF); // 0x40..0xFE
            }
            rec += kControls[random() % kControls.size()];
        }
        if (random() % 4 == 0) rec.pop_back(); // a run up to the record's last byte
        records.push_back(rec);
    }
    return records;
}

TEST(BulkRuns, RecordsPrintAsTheirBytesOneByOne) {
    std::mt19937 random(11);
    struct Variant {
        const char* name;
        std::function<void(config::Settings&)> set;
        std::string extra; // bytes a run may hold besides 0x40..0xFE
        // Written only at the end: the job's output buffer fills many times,
        // in the middle of runs, lines and characters.
        bool hold = false;
    };
    auto codePage = [](const char* page, const char* charset) {
        return [=](config::Settings& s) {
            std::string m;
            ASSERT_TRUE(config::LoadCodePage(page, s.ebcdicToAscii, m)) << m;
            ASSERT_TRUE(LoadHostCharacters(page, s.codePage, m)) << m;
            s.outputCharset = charset;
        };
    };
    const std::vector<Variant> variants = {
        {"plain", {}, ""},
        {"short pages", [](config::Settings& s) { s.linesPerPage = 7; }, ""},
        {"line feeds alone",
         [](config::Settings& s) {
             s.lineEndLf = true;
             s.printAfterNLines = 25;
         },
         ""},
        {"273 into UTF-8", codePage("273", "UTF-8"), "\x3F\xFF"},
        {"273 into ASCII", codePage("273", "ASCII"), ""},
        {"930 into UTF-8", codePage("930", "UTF-8"), "\x0E\x0F\x0E\x0F\x45\x62"},
        {"273 into UTF-8, held", codePage("273", "UTF-8"), "\x3F\xFF", true},
    };
    for (const auto& v : variants) {
        SCOPED_TRACE(v.name);
        auto records = RandomRecords(random, v.extra);
        for (int copy = 0; v.hold && copy < 8; ++copy) {
            const auto more = RandomRecords(random, v.extra);
            records.insert(records.end(), more.begin(), more.end());
        }
        const std::string oneByOne = Print(records, true, v.set, v.hold);
        const std::string whole = Print(records, false, v.set, v.hold);
        ASSERT_GT(whole.size(), v.hold ? 3 * datastream::JobOutput::kCapacity / 2 : 10000u);
        // The first difference, with some context, rather than two long dumps.
        size_t at = 0;
        while (at < whole.size() && at < oneByOne.size() && whole[at] == oneByOne[at])
            ++at;
        EXPECT_EQ(whole.size(), oneByOne.size());
        EXPECT_EQ(at, whole.size())
            << "whole: " << testutil::Hex(whole.substr(at > 40 ? at - 40 : 0, 80))
            << "\nbytes: " << testutil::Hex(oneByOne.substr(at > 40 ? at - 40 : 0, 80));
    }
}

} // namespace
