// Whole sessions on arbitrary records of both types: each record goes to the
// printer as a TN3270E message that asks for a response, through the protocol
// core into a real data stream. Whatever the records hold, the session never
// ends and every record gets exactly one response.
// Input: a flags byte, a page byte, then records, each a 2-byte big-endian
// length and its bytes (cut at the end of the input); the length's top bit
// turns the record to the other LU type. Flags: 0x01 LU3 records, 0x02
// btam, 0x04 FF ends jobs, 0x08 the first record carries structured fields,
// 0x10 jobs to standard output instead of memory, 0x20 the
// double-byte code page 930 into UTF-8, 0x40 code page 1141 into ISO 8859-15
// (0x20 wins). Page byte: low
// nibble page length, high nibble lines per job.
// The jobs' bytes are bounded by what each record may print.
#include <iconv.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "config/settings.h"
#include "config/translate.h"
#include "datastream/data_stream.h"
#include "datastream/host_link.h"
#include "fuzz_engine.h"
#include "output/delivery.h"
#include "session/telnet_protocol.h"

namespace {

// Responses counted.
class Peer : public FuzzPeer {
  public:
    size_t responses = 0;

    int Send(std::span<const uint8_t> chunk) override {
        if (!chunk.empty() && chunk[0] == 0x02) ++responses;
        return 0;
    }
};

// The server's side of TN3270E up to the agreed functions.
const uint8_t kNegotiation[] = {
    0xFF, 0xFD, 0x28, 0xFF, 0xFA, 0x28, 0x08, 0x02, 0xFF, 0xF0, 0xFF, 0xFA, 0x28, 0x02, 0x04, 'I',
    'B',  'M',  '-',  '3',  '2',  '8',  '7',  '-',  '1',  0x01, 'P',  'R',  'T',  '1',  0xFF, 0xF0,
    0xFF, 0xFA, 0x28, 0x03, 0x04, 0x00, 0x01, 0x02, 0x03, 0xFF, 0xF0, 0xFF, 0xFC, 0x37};

// Converters open until the target exits.
class HeldConverters {
  public:
    HeldConverters(std::initializer_list<std::pair<const char*, const char*>> pairs) {
        for (const auto& [to, from] : pairs) {
            open_.push_back(iconv_open(to, from));
            if (open_.back() == reinterpret_cast<iconv_t>(-1)) std::abort();
        }
    }
    ~HeldConverters() {
        for (iconv_t cd : open_)
            iconv_close(cd);
    }

  private:
    std::vector<iconv_t> open_;
};

// A record's print is bounded low (a full page of 15 lines of 132 columns
// fits): the bound's code path is the same at any size, and the rate of
// inputs is what finds faults.
constexpr int64_t kPrintBase = 2 * 1024, kPrintPerByte = 4;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool once = (FuzzStdoutSetup("twdsfuzz"), true);
    (void)once;
    if (size < 2) return 0;
    const uint8_t flags = data[0], page = data[1];
    const bool toStdout = flags & 0x10;

    config::Settings s = config::DefaultSettings();
    s.btam = flags & 0x02;
    s.formFeed = !s.btam && (flags & 0x04);
    s.standardOutput = toStdout;
    s.fileName = "J"; // never made: the jobs go to memory
    s.medium = config::Medium::File;
    s.linesPerPage = page & 0x0F;
    s.printAfterNLines = page >> 4;
    s.luType = flags & 0x01 ? 3 : 1;
    if (flags & 0x60) {
        static const config::Settings paged = [] {
            config::Settings p = config::DefaultSettings();
            std::string m;
            if (!LoadHostCharacters("930", p.codePage, m)) std::abort();
            return p;
        }();
        static const config::Settings latin9 = [] {
            config::Settings p = config::DefaultSettings();
            std::string m;
            if (!config::LoadCodePage("1141", p.ebcdicToAscii, m)) std::abort();
            if (!LoadHostCharacters("1141", p.codePage, m)) std::abort();
            p.outputCharset = "ISO-8859-15";
            return p;
        }();
        // Converters held open for the whole run keep their modules loaded: each
        // stream opens its own, and a module loaded per input costs more than the input.
        static const HeldConverters held{{"UTF-32LE", paged.codePage.name.c_str()},
                                         {latin9.outputCharset.c_str(), "UTF-32LE"}};
        (void)held;
        const config::Settings& from = flags & 0x20 ? paged : latin9;
        s.codePage = from.codePage;
        s.ebcdicToAscii = from.ebcdicToAscii;
        s.outputCharset = from.outputCharset;
    }
    Peer peer;
    MemoryJobs memory;
    size_t records = 0;
    output::Delivery delivery(s, FuzzQuietReporter(), nullptr);
    {
        datastream::DataStream ds(s, FuzzQuietReporter(), peer, delivery);
        if (!toStdout) ds.WriteJobsTo(memory);
        ds.LimitRecordPrint(kPrintBase, kPrintPerByte);
        session::ProtocolConfig config = session::ProtocolConfig::From(s);
        config.tn3270e = true;
        config.name = "PRT1";
        config.nameKind = 1;
        session::TelnetProtocol core(config, ds.State(), peer);
        peer.stream = &ds;
        peer.core = &core;
        ds.StartConnection();
        if (core.Feed(kNegotiation) != 0) std::abort();
        ds.State().sfMode = flags & 0x08;
        peer.responses = 0;
        size_t at = 2;
        std::vector<uint8_t> message;
        while (at + 2 <= size) {
            const bool other = data[at] & 0x80;
            size_t n = static_cast<size_t>((data[at] & 0x7F) << 8 | data[at + 1]);
            at += 2;
            n = std::min(n, size - at);
            const bool lu3 = (flags & 0x01) != other;
            message.clear();
            // The header's sequence number is escaped like the data: record 255 has FF in it.
            const auto put = [&message](uint8_t b) {
                message.push_back(b);
                if (b == 0xFF) message.push_back(0xFF);
            };
            for (const uint8_t b :
                 {static_cast<uint8_t>(lu3 ? 0x00 : 0x01), uint8_t{0x00}, uint8_t{0x02},
                  static_cast<uint8_t>(records >> 8), static_cast<uint8_t>(records)})
                put(b);
            for (const uint8_t* b = data + at; b < data + at + n; ++b)
                put(*b);
            message.insert(message.end(), {0xFF, 0xEF});
            ++records;
            at += n;
            // A session ends for no record; each one is answered once.
            if (core.Feed(message) != 0 || peer.responses != records) std::abort();
        }
        if (ds.JobOpen()) ds.EndJob();
    }
    // Every record stops within a line of its print limit (a left margin
    // can make each character a line of its own, so no per-byte bound holds).
    const size_t out = toStdout ? FuzzStdoutBytes() : memory.bytes;
    if (out > records * (kPrintBase + 2 * 256) + kPrintPerByte * size) std::abort();
    return 0;
}
