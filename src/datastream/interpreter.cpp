// The SCS controls and 3270 orders of one Write, into the print buffer and the
// line writer.
#include <algorithm>
#include <cstring>
#include <utility>

#include "config/messages.h"
#include "config/utilities.h"
#include "datastream/stream_impl.h"

namespace datastream {

namespace {
void SortStops(uint8_t* t) {
    uint8_t* b = t + 3;
    size_t n = 0;
    while (3 + n < 137 && b[n])
        ++n;
    std::sort(b, b + n);
    uint8_t* e = std::unique(b, b + n);
    std::fill(e, b + n, 0);
}

void ApplyPairs(PrintBuffer& pb, const uint8_t* p, int n) {
    Cell& c = pb.Current();
    for (int i = 0; i < n; ++i) {
        uint8_t t = p[2 * i], v = p[2 * i + 1];
        if (t == 0xC0)
            pb.SetAttribute(c, v);
        else if (t == 0x41)
            c.ext = static_cast<uint8_t>((c.ext & 0x3F) | ((v & 3) << 6));
        else if (t == 0x42)
            c.ext = static_cast<uint8_t>((c.ext & 0xC7) | ((v & 7) << 3));
    }
    pb.Advance();
}

} // namespace

int32_t DataStream::Impl::Put(uint8_t c) {
    return PutChar(&c, 1, 1);
}

int32_t DataStream::Impl::PutChar(const uint8_t* bytes, int n, int width) {
    int32_t s = writer.Put(bytes, n, width, job.file ? &job.out : nullptr);
    if (s == LineWriter::kJobFull) {
        EndJob();
        writer.column = writer.lines = 0;
        job.Open(settings);
        s = 0;
    }
    // Checked after a job end too: a margin past the line can make every byte end one.
    if (s == 0 && writer.printed > printLimit) return kPrintBound;
    return s;
}

int32_t DataStream::Impl::CrLf() {
    int32_t s = Put(0x0D);
    return s ? s : Put(0x0A);
}

int32_t DataStream::Impl::DataChar(uint8_t b, bool translate) {
    buffer.Current() = Cell{0x02, b, 0, 0};
    int32_t s = 0;
    if (!writer.toPort && !job.file) {
        config::Trace("PRINTFILE SUDDENLY NULL\n");
        if (job.openFailed) s = config::MSG_FPUTC;
    } else {
        const JobText::Glyph& g = text.Table(translate)[b];
        if (g.lossy) text.NoteLossy();
        if (g.len == 1)
            s = Put(g.bytes[0]);
        else if (g.len > 1)
            s = PutChar(g.bytes, g.len, 1);
    }
    buffer.Advance();
    return s;
}

// A double-byte character takes two buffer positions and two columns.
int32_t DataStream::Impl::DoubleChar(uint8_t b1, uint8_t b2) {
    buffer.Current() = Cell{0x02, b1, 0, 0};
    buffer.Advance();
    buffer.Current() = Cell{0x02, b2, 0, 0};
    buffer.Advance();
    if (!writer.toPort && !job.file) return 0;
    JobText::Glyph g = text.Double(b1, b2);
    if (g.lossy) text.NoteLossy();
    return PutChar(g.bytes, g.len, 2);
}

// SO or SI: a buffer position of its own, printed as a blank in 3270 data
// (the screen shows it so); SCS gives it no column.
int32_t DataStream::Impl::ShiftByte(uint8_t b) {
    buffer.Current() = Cell{0x02, b, 0, 0};
    buffer.Advance();
    return state.luType != 1 && (writer.toPort || job.file) ? Put(' ') : 0;
}

// The first byte of a pair still waiting is an odd byte: a data character.
int32_t DataStream::Impl::OddByte() {
    if (pendingByte < 0) return 0;
    uint8_t b = static_cast<uint8_t>(pendingByte);
    pendingByte = -1;
    return DataChar(b, true);
}

void DataStream::Impl::SingleByteAgain() {
    doubleByte = false;
    pendingByte = -1;
}

// A job ended by EM or FF continues into the next job's file.
void DataStream::Impl::EndJobMidRecord() {
    EndJob();
    if (!writer.toPort) job.Open(settings);
}

int16_t DataStream::Impl::Interpret(const uint8_t* d, int32_t len) {
    PrintBuffer& pb = buffer;
    if (!writer.toPort) job.Open(settings);
    // Refused whole while the spool takes no job file: nothing of it is lost unanswered.
    if (!writer.toPort && !job.file && job.openFailed) return config::MSG_FPUTC;
    int32_t i = 0, base = 0;
    const bool lu3 = state.luType != 1;
    if (lu3) {
        if (len < 2) return 0;
        uint8_t wcc = d[1];
        pb.wcc = wcc;
        static constexpr int32_t kSizes[4] = {0, 40, 64, 80};
        writer.lineSize = kSizes[(wcc >> 4) & 3];
        config::Trace("glinesize = %d\n", writer.lineSize);
        if (wcc & 0x01) ResetModified(pb);
        if (wcc & 0x40) pb.replyMode = 0;
        i = base = 2;
    }
    // Offsets past the status range still read as errors, never as message numbers.
    auto err = [&](int32_t at) {
        errorAt = i; // the order at fault, whatever byte of it the offset names
        return static_cast<int16_t>(-std::clamp<int32_t>(at - base, 1, INT16_MAX));
    };
    while (i < len) {
        uint8_t b = d[i];
        int32_t s = 0;
        if (doubleByte || (b == 0x0E && text.Dbcs())) {
            if (b == 0x0E || b == 0x0F) {
                if (!(s = OddByte())) s = ShiftByte(b);
                doubleByte = b == 0x0E;
                ++i;
                if (s) return static_cast<int16_t>(s);
                continue;
            }
            if (b >= 0x40) {
                if (pendingByte < 0) {
                    const int32_t run = DoubleRun(d, i, len);
                    if (run < 0) return 94;
                    if (run > 0) {
                        i += run;
                        continue;
                    }
                }
                if (pendingByte < 0)
                    pendingByte = b;
                else
                    s = DoubleChar(static_cast<uint8_t>(std::exchange(pendingByte, -1)), b);
                ++i;
                if (s) return static_cast<int16_t>(s);
                continue;
            }
            // A control inside a double-byte run, after an odd byte perhaps.
            if ((s = OddByte())) return static_cast<int16_t>(s);
        }
        switch (b) { // every code with a case here is listed in kPlainBytes
        case 0x11:   // SBA
        case 0x12:   // EUA
        case 0x3C: { // RA
            int need = b == 0x3C ? 4 : 3;
            if (i + need > len) return err(i + 1);
            int16_t a = DecodeBufferAddress(d + i + 1, pb.size);
            if (a < 0) return err(b == 0x3C ? i + 3 : i + 1);
            if (b == 0x11) {
                pb.currentAddress = a;
            } else if (b == 0x3C) {
                if ((s = RepeatTo(d[i + 3], a))) return static_cast<int16_t>(s);
            } else {
                int k = pb.currentAddress;
                bool prot = false;
                for (int n = 0; n < pb.size; ++n) {
                    int q = (k - n + pb.size) % pb.size;
                    if (pb.cells[q].flags & 0x01) {
                        prot = pb.cells[q].ch & 0x20;
                        break;
                    }
                }
                do {
                    Cell& c = pb.cells[k];
                    if (c.flags & 0x01)
                        prot = c.ch & 0x20;
                    else if (!prot)
                        c = Cell{0x02, 0, 0, 0};
                    k = (k + 1) % pb.size;
                } while (k != a);
                pb.currentAddress = a;
            }
            i += need;
            continue;
        }
        case 0x1D: // SF
            if (i + 2 > len) return err(i + 1);
            SingleByteAgain(); // a field starts in single-byte mode
            pb.Current() = Cell{0x03, 0, 0, 0};
            pb.SetAttribute(pb.Current(), d[i + 1]);
            pb.Advance();
            i += 2;
            continue;
        case 0x29:   // SFE
        case 0x2C: { // MF
            if (i + 2 > len) return err(i + 1);
            int n = d[i + 1];
            if (i + 2 + 2 * n > len) return err(i + 1);
            if (b == 0x29) {
                SingleByteAgain();
                pb.Current() = Cell{0x03, 0x40, 0, 0};
                ApplyPairs(pb, d + i + 2, n);
            } else if (pb.Current().flags & 0x01) {
                ApplyPairs(pb, d + i + 2, n);
            }
            i += 2 + 2 * n;
            continue;
        }
        case 0x28: // SA
            if (i + 3 > len) return err(i + 1);
            i += 3;
            continue;
        case 0x13: // IC
            pb.cursorAddress = static_cast<uint16_t>(pb.currentAddress);
            ++i;
            continue;
        case 0x04: { // vertical channel select
            if (i + 2 > len) return err(i + 1);
            int k = d[i + 1] & 0x0F, col = writer.column;
            int t = writer.vformat[3 + k];
            if (t == 0) {
                if (!(s = CrLf())) s = Pad(col);
            } else {
                if (t < writer.lines) s = Put(0x0C);
                for (int n = writer.lines; !s && n < t; ++n)
                    s = CrLf();
                if (!s) s = Pad(col);
            }
            i += 2;
            break;
        }
        case 0x05: { // HT
            const uint8_t* h = writer.hformat;
            if (h[3] == 0)
                s = Put(' ');
            else
                for (int k = 3; k < 135 && h[k]; ++k)
                    if (h[k] > writer.column) {
                        s = Pad(h[k] - writer.column);
                        break;
                    }
            ++i;
            break;
        }
        case 0x0B: { // VT
            int col = writer.column, n = 1;
            if (writer.vformat[3] != 0) {
                n = -1;
                for (int k = 0; k < 12; ++k)
                    if (writer.vformat[3 + k] > writer.lines) {
                        n = writer.vformat[3 + k] - writer.lines;
                        break;
                    }
            }
            if (n < 0)
                s = Put(0x0C);
            else {
                for (int k = 0; !s && k < n; ++k)
                    s = CrLf();
                if (!s) s = Pad(col);
            }
            ++i;
            break;
        }
        case 0x0C: // FF
            ++i;
            if (settings.formFeed) {
                if (writer.started) EndJobMidRecord();
            } else
                s = Put(0x0C);
            break;
        case 0x0D: // CR
            s = Put(0x0D);
            pb.Advance();
            ++i;
            break;
        case 0x19: // EM
            ++i;
            if (settings.btam && !writer.toPort) {
                EndJobMidRecord();
                break;
            }
            [[fallthrough]];
        case 0x15:   // NL
        case 0x1E: { // IRS
            // A line end and the data after it, in bulk where the writer allows.
            if (b != 0x19 && !doubleByte) {
                const int32_t run = PlainRun(d, i, len);
                if (run < 0) return 94;
                if (run > 0) {
                    i += run;
                    continue;
                }
            }
            if (b != 0x19) ++i;
            pb.Advance();
            s = CrLf();
            break;
        }
        case 0x16: // BS
            pb.Advance();
            s = Put(0x08);
            ++i;
            break;
        case 0x25: { // LF
            int col = writer.column;
            if (!(s = CrLf())) s = Pad(col);
            pb.Advance();
            ++i;
            break;
        }
        case 0x14: // ENP
        case 0x24: // INP
        case 0x2F: // BEL
            ++i;
            break;
        case 0x35: { // TRN: transparent bytes pass untranslated
            if (i + 2 > len) return err(i + 1);
            int n = d[i + 1];
            if (i + 2 + n > len) return err(i + 1);
            // Marked for the page renderer, which must not draw printer controls.
            FILE* f = job.IsStdout() ? nullptr : job.file;
            long from = f ? static_cast<long>(job.out.Position()) : -1;
            for (int k = 0; !s && k < n; ++k)
                s = DataChar(d[i + 2 + k], false);
            long to = f && f == job.file ? static_cast<long>(job.out.Position()) : -1;
            if (from >= 0 && to > from) hints.transparent.emplace_back(from, to);
            i += 2 + n;
            break;
        }
        case 0x2B: { // format controls
            if (i + 3 > len) return err(i + 1);
            uint8_t f = d[i + 1];
            int LL = d[i + 2];
            if (LL == 0 || i + 2 + LL > len) return err(i + 2);
            const uint8_t* p = d + i + 3;
            int np = LL - 1;
            if ((f == 0xC1 || f == 0xC2) && np > static_cast<int>(sizeof writer.hformat))
                return err(i + 2);
            if (f == 0xC1) { // SHF
                if (LL == 1) {
                    writer.lineSize = 132;
                    writer.leftMargin = 0;
                } else {
                    uint8_t* h = writer.hformat;
                    std::memcpy(h, p, np);
                    SortStops(h);
                    writer.lineSize = std::min<int32_t>(h[0], 132);
                    if (h[2]) writer.lineSize = h[2];
                    writer.leftMargin = h[1] > 0 ? h[1] - 1 : 0;
                }
            } else if (f == 0xC2 && LL > 1) { // SVF
                uint8_t* v = writer.vformat;
                if (!writer.channelsFixed) {
                    std::memcpy(v, p, np);
                    SortStops(v);
                }
                writer.linesPerPage = v[2] ? v[2] : v[0];
            }
            i += 2 + LL;
            break;
        }
        default: {
            // A control inside a double-byte run is one byte: the run goes on after it.
            int32_t run = doubleByte ? 0 : PlainRun(d, i, len);
            if (run < 0) return 94;
            if (run > 0) {
                i += run;
                continue;
            }
            s = DataChar(b, true);
            ++i;
            break;
        }
        }
        if (s) return static_cast<int16_t>(s);
    }
    if (int32_t s = OddByte()) return static_cast<int16_t>(s);
    SingleByteAgain();
    if (lu3 && (pb.wcc & 0x02)) pb.aid = 0x60;
    if (!jobEnded && state.bracket == 2) {
        // A record after the end of a bracket finishes the job, delivered like any other.
        config::Trace("closing prfile from eomFlag\n");
        EndJob();
        jobEnded = true;
    }
    return 0;
}

} // namespace datastream
