// The bulk paths of the interpreter: runs of data characters (and the line
// ends between them) translated through one table into a block and written
// with one call, while the line writer would only move the column and count
// lines. Anything else is left to the byte-at-a-time code.
#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "datastream/stream_impl.h"

namespace datastream {

namespace {
// The longest run taken in one call: its block fits the run buffer.
constexpr int32_t kRunChunk = 4096;
// The most bytes one character can put out.
constexpr int64_t kGlyphMost = sizeof(JobText::Glyph::bytes);
// A run's bytes, with room for a block or a glyph word written whole past its
// last character.
constexpr size_t kRunRoom =
    static_cast<size_t>(kRunChunk) * sizeof(RunByte::bytes) + sizeof(RunByte) + ByteBlocks::kBlock;
static_assert(kRunRoom <= JobOutput::kMostRoom);
} // namespace

void DataStream::Impl::BuildRunTables() {
    std::array<int16_t, 256> runOne{}, repeatOne{};
    for (int b = 0; b < 256; ++b) {
        const JobText::Glyph& g = text.Table(true)[b];
        const uint8_t c = g.bytes[0];
        const bool oneColumn = g.len != 0 && !g.lossy &&
                               !(g.len == 1 && (c == 0x0D || c == 0x0A || c == 0x0C || c == 0x08));
        RunByte r{};
        std::memcpy(r.bytes, g.bytes, sizeof r.bytes);
        r.len = g.len;
        r.kind = oneColumn ? kRunData : kRunStop;
        repeatBytes[b] = r;
        if (oneColumn && g.len != 1) singleByteRuns = false;
        // NL and IRS are a line end in the data stream (never as repeated data).
        if (!plain[b]) r.kind = b == 0x15 || b == 0x1E ? kRunLineEnd : kRunStop;
        runBytes[b] = r;
        auto one = [](const RunByte& x) -> int16_t {
            return x.kind == kRunData && x.len == 1 ? x.bytes[0] : -1;
        };
        runOne[b] = one(r);
        repeatOne[b] = one(repeatBytes[b]);
    }
    runBlocks.Build(runOne);
    repeatBlocks.Build(repeatOne);
}

int32_t DataStream::Impl::LineLimit() const {
    return writer.lineSize != 0 ? std::min<int32_t>(writer.lineSize, 132) : 132;
}

int32_t DataStream::Impl::RunRoom() const {
    if (writer.toPort || !job.file || !writer.started || writer.HoldsCr()) return 0;
    if (writer.linesPerPage != 0 && writer.lines >= writer.linesPerPage) return 0;
    if (writer.printAfterNLines != 0 && writer.lines >= writer.printAfterNLines) return 0;
    const int32_t limit = LineLimit();
    if (writer.column >= limit || (writer.column == 0 && writer.leftMargin > 0)) return 0;
    return limit - writer.column;
}

namespace {
uint64_t Load(const void* glyph) {
    uint64_t v;
    std::memcpy(&v, glyph, sizeof v);
    return v;
}

// A loaded RunByte's fields, wherever the byte order puts them in the word.
constexpr bool kLittle = std::endian::native == std::endian::little;
constexpr uint64_t kKindBits = kLittle ? 0xFFull << 56 : 0xFF;
// 0 for a data character (any bit of kind set in v: not data).
constexpr uint64_t Kind(uint64_t v) {
    return v & kKindBits;
}
constexpr uint8_t LengthOf(uint64_t v) {
    return static_cast<uint8_t>(kLittle ? v >> 48 : v >> 8);
}
constexpr uint8_t FirstOf(uint64_t v) {
    return static_cast<uint8_t>(kLittle ? v : v >> 56);
}
// A glyph read as one word: its length in the low byte, then lossy, then bytes.
constexpr bool kWordGlyph =
    kLittle && sizeof(JobText::Glyph) == sizeof(uint64_t) && offsetof(JobText::Glyph, len) == 0 &&
    offsetof(JobText::Glyph, lossy) == 1 && offsetof(JobText::Glyph, bytes) == 2;

// Bytes written from addr on, in two pieces when the buffer wraps: the address after.
int32_t WriteCells(Cell* cells, int32_t size, int32_t addr, const uint8_t* bytes, int32_t n) {
    static_assert(sizeof(Cell) == 4 && offsetof(Cell, flags) == 0 && offsetof(Cell, ch) == 1,
                  "a cell is its flags, its byte and two more");
    for (int32_t q = 0; q < n;) {
        const int32_t piece = std::min(n - q, size - addr);
        ByteBlocks::Spread(bytes + q, static_cast<size_t>(piece), 0x02,
                           reinterpret_cast<uint8_t*>(cells + addr));
        q += piece;
        addr += piece;
        if (addr >= size) addr = 0;
    }
    return addr;
}

// Eight data characters at run into out, when all eight are data.
template <bool single>
bool EightData(const uint8_t* run, const RunByte* table, uint8_t* out, size_t& o) {
    uint64_t v[8], kinds = 0;
    for (int j = 0; j < 8; ++j) {
        v[j] = Load(&table[run[j]]);
        kinds |= v[j];
    }
    if (Kind(kinds)) return false;
    for (int j = 0; j < 8; ++j) {
        if constexpr (single) {
            out[o + j] = FirstOf(v[j]);
        } else {
            std::memcpy(out + o, &v[j], sizeof v[j]);
            o += LengthOf(v[j]);
        }
    }
    if constexpr (single) o += 8;
    return true;
}

// Data characters from run[0, most) into out while they are data: how many.
// Bytes up to run[readable) may be read. single: every data glyph is one byte.
template <bool single>
int32_t TranslateRun(const uint8_t* run, int32_t most, int32_t readable, const RunByte* table,
                     const ByteBlocks& blocks, uint8_t* out, size_t& o) {
    int32_t m = 0;
    // Blocks only for a run that looks long: its second and eighth bytes data.
    // A short run (a blank before a line end) costs less byte by byte than
    // the blocks' tables take to load.
    constexpr int32_t kShortRun = 16;
    const bool stopNear = most >= kShortRun && Kind(Load(&table[run[1]]) | Load(&table[run[7]]));
    if (most >= kShortRun && !stopNear) {
        // Blocks of one-byte characters, and one byte at a time where one of
        // several bytes interrupts them; two such in a row past the first,
        // and the rest of the run is likely to be made of them.
        while (m < most && blocks.Usable(static_cast<size_t>(readable - m))) {
            const size_t n = blocks.Translate(run + m, static_cast<size_t>(most - m),
                                              static_cast<size_t>(readable - m), out + o);
            m += static_cast<int32_t>(n);
            o += n;
            // Every data character one byte: the blocks stopped at a control,
            // known without loading its entry again.
            if (single || m == most) return m;
            const uint64_t v = Load(&table[run[m]]);
            if (Kind(v)) return m;
            std::memcpy(out + o, &v, sizeof v);
            o += LengthOf(v);
            ++m;
            if (n == 0 && m > 1) break;
        }
    }
    // Eight at a time while all eight are data, the rest one by one (a run
    // with a stop among its first eight goes one by one at once).
    while (!stopNear && m + 8 <= most && EightData<single>(run + m, table, out, o))
        m += 8;
    for (; m < most; ++m) {
        const uint64_t v = Load(&table[run[m]]);
        if (Kind(v)) break;
        if constexpr (single) {
            out[o++] = FirstOf(v);
        } else {
            std::memcpy(out + o, &v, sizeof v);
            o += LengthOf(v);
        }
    }
    return m;
}
} // namespace

int32_t DataStream::Impl::PlainRun(const uint8_t* d, int32_t i, int32_t len, const RunByte* table) {
    if (RunRoom() == 0) return 0;
    const bool stream = table == nullptr;
    if (stream) table = runBytes.data();
    const ByteBlocks& blocks = stream ? runBlocks : repeatBlocks;
    // Line ends the writer takes as CR LF alone: the page and the job keep a
    // line to spare (their break is the writer's), and no margin falls due.
    int64_t ends = 0;
    if (stream && writer.leftMargin == 0) {
        ends = INT32_MAX;
        if (writer.linesPerPage != 0)
            ends = std::min<int64_t>(ends, writer.linesPerPage - 1 - writer.lines);
        if (writer.printAfterNLines != 0)
            ends = std::min<int64_t>(ends, writer.printAfterNLines - 1 - writer.lines);
    }
    // What the record may still print: the byte that passes it is the writer's.
    int64_t budget = printLimit - writer.printed;
    const int32_t limit = LineLimit(), end = i + std::min(len - i, kRunChunk);
    uint8_t* out = job.out.Room(kRunRoom);
    if (!out) return -94;
    size_t o = 0;
    Cell* cells = buffer.cells.get();
    const int32_t size = buffer.size;
    int32_t addr = buffer.currentAddress, column = writer.column, lines = writer.lines, k = i;
    uint8_t last = writer.lastByte;
    for (;;) {
        // The data characters of this line.
        // The budget is in bytes: a glyph of several may not pass it.
        const int32_t most = static_cast<int32_t>(std::min<int64_t>(
            {end - k, limit - column, singleByteRuns ? budget : budget / kGlyphMost}));
        const size_t before = o;
        const int32_t m = most <= 0 ? 0
                          : singleByteRuns
                              ? TranslateRun<true>(d + k, most, len - k, table, blocks, out, o)
                              : TranslateRun<false>(d + k, most, len - k, table, blocks, out, o);
        addr = WriteCells(cells, size, addr, d + k, m);
        if (m > 0) last = ' ';
        k += m;
        column += m;
        budget -= static_cast<int64_t>(o - before);
        if (k == end || table[d[k]].kind != kRunLineEnd || ends == 0 || budget < 2) break;
        // LINEEND=lf leaves out the CR that an LF follows.
        if (!writer.lfOnly) out[o++] = 0x0D;
        out[o++] = 0x0A;
        column = 0;
        ++lines;
        --ends;
        budget -= 2;
        last = 0x0A;
        ++k;
        if (++addr >= size) addr = 0;
        // An order after the line end (an SBA on a 3270 page) is the interpreter's.
        if (k < end && table[d[k]].kind == kRunStop) break;
    }
    const int32_t n = k - i;
    if (n == 0) return 0;
    buffer.currentAddress = static_cast<int16_t>(addr);
    writer.printed = printLimit - budget;
    writer.Wrote(static_cast<int32_t>(o));
    writer.lastByte = last;
    writer.column = column;
    writer.lines = lines;
    job.out.Commit(o);
    return n;
}

// Double-byte characters in bulk, on the same terms as PlainRun: whole pairs
// while the line has room for two more columns. Returns the bytes taken.
int32_t DataStream::Impl::DoubleRun(const uint8_t* d, int32_t i, int32_t len) {
    if (writer.toPort || !job.file || !writer.started || writer.HoldsCr()) return 0;
    if (writer.linesPerPage != 0 && writer.lines >= writer.linesPerPage) return 0;
    if (writer.printAfterNLines != 0 && writer.lines >= writer.printAfterNLines) return 0;
    if (writer.column == 0 && writer.leftMargin > 0) return 0;
    const int32_t pairs =
        static_cast<int32_t>(std::min<int64_t>({(len - i) / 2, (LineLimit() - writer.column) / 2,
                                                (printLimit - writer.printed) / kGlyphMost}));
    if (pairs <= 0) return 0;
    uint8_t* out = job.out.Room(kRunRoom);
    if (!out) return -94;
    size_t o = 0;
    uint64_t lossyBits = 0; // a glyph word's second byte: lossy
    int32_t at = i;
    // Pairs up to the first control: found at once, not byte by byte.
    const int32_t stop =
        i + static_cast<int32_t>(ByteBlocks::Below(d + i, static_cast<size_t>(2 * pairs), 0x40) &
                                 ~size_t{1});
    for (; at < stop; at += 2) {
        const uint8_t b1 = d[at], b2 = d[at + 1];
        const JobText::Glyph* known = text.Known(b1, b2);
        if constexpr (kWordGlyph) {
            // The glyph as one word, kept in a register: length, lossy flag,
            // then its bytes, stored with one shift (out has room past them).
            uint64_t v;
            if (known) {
                std::memcpy(&v, known, sizeof v);
            } else {
                const JobText::Glyph g = text.Double(b1, b2);
                std::memcpy(&v, &g, sizeof v);
            }
            const uint64_t bytes = v >> 16;
            std::memcpy(out + o, &bytes, sizeof bytes);
            o += static_cast<uint8_t>(v);
            lossyBits |= v;
        } else {
            const JobText::Glyph g = known ? *known : text.Double(b1, b2);
            std::memcpy(out + o, g.bytes, sizeof g.bytes);
            o += g.len;
            lossyBits |= uint64_t{g.lossy} << 8;
        }
    }
    if (lossyBits & 0xFF00) text.NoteLossy();
    buffer.currentAddress = static_cast<int16_t>(
        WriteCells(buffer.cells.get(), buffer.size, buffer.currentAddress, d + i, at - i));
    job.out.Commit(o);
    const int32_t n = (at - i) / 2;
    writer.printed += static_cast<int64_t>(o);
    writer.Wrote(static_cast<int32_t>(o));
    writer.column += 2 * n;
    return at - i;
}

// Blanks go out in blocks while the line has room, else one at a time.
int32_t DataStream::Impl::Pad(int32_t n) {
    static constexpr auto kBlanks = [] {
        std::array<uint8_t, 132> b{};
        b.fill(' ');
        return b;
    }();
    while (n > 0) {
        // Up to the byte that passes the print limit, as one at a time would.
        const int64_t room = std::min<int64_t>(RunRoom(), printLimit + 1 - writer.printed);
        if (room <= 0) {
            if (int32_t s = Put(' ')) return s;
            --n;
            continue;
        }
        const int32_t k = static_cast<int32_t>(std::min<int64_t>(n, room));
        if (!job.out.Write(kBlanks.data(), static_cast<size_t>(k))) return 94;
        writer.printed += k;
        writer.Wrote(k);
        writer.column += k;
        n -= k;
        if (writer.printed > printLimit) return kPrintBound;
    }
    return 0;
}

// Repeat to address: c up to address a (round the whole buffer when it is
// there already), in plain runs of a line at most where the writer allows.
int32_t DataStream::Impl::RepeatTo(uint8_t c, int16_t a) {
    int32_t left = (a - buffer.currentAddress + buffer.size) % buffer.size;
    if (left == 0) left = buffer.size;
    const JobText::Glyph& g = text.Table(true)[c];
    if (g.len == 0 && (writer.toPort || job.file)) {
        // Nothing to print (nulls clearing the buffer): the cells only.
        if (g.lossy) text.NoteLossy();
        for (; left > 0; --left) {
            buffer.Current() = Cell{0x02, c, 0, 0};
            buffer.Advance();
        }
        return 0;
    }
    uint8_t line[132];
    std::memset(line, c, sizeof line);
    while (left > 0) {
        const int32_t want = std::min<int32_t>(left, 132);
        int32_t run = PlainRun(line, 0, want, repeatBytes.data());
        if (run < 0) return 94;
        if (run == 0) {
            if (int32_t s = DataChar(c, true)) return s;
            run = 1;
        }
        left -= run;
    }
    return 0;
}

} // namespace datastream
