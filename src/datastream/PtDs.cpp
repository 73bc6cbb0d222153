// Record dispatcher, the SCS/3270 interpreter and the line and page writer.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

#include "config/messages.h"
#include "config/options.h"
#include "config/translate.h"
#include "config/utilities.h"
#include "datastream/datastream.h"
#include "datastream/printbuffer.h"
#include "datastream/screen.h"
#include "datastream/wsf.h"
#include "output/port.h"
#include "session/session.h"

int32_t inProgress = 0, chrsInLine = 0, linesInPage = 0, glinesize = 0, gleftmargin = 0;
int32_t gLinesPerPage = 0, gChannelsFixed = 0, jobEnded = 0;
uint8_t gVformat[137] = {}, gHformat[137] = {};
void (*gDeliverObserver)(const uint8_t*, int32_t) = nullptr;

namespace {
std::vector<uint8_t> gPortBytes; // port output of the current record

int32_t Raw(FILE* f, uint8_t c) {
    if (!f) return 75;
    // Only the client thread writes the print file: no per-byte stream lock.
    if (putc_unlocked(c, f) != c) return 94;
    return 0;
}

void Advance(PrintBuffer* pb) {
    if (++pb->currentAddress >= pb->size) pb->currentAddress = 0;
}

void SortStops(uint8_t* t) {
    uint8_t* b = t + 3;
    size_t n = 0;
    while (3 + n < 137 && b[n])
        ++n;
    std::sort(b, b + n);
    uint8_t* e = std::unique(b, b + n);
    std::fill(e, b + n, 0);
}

int32_t Put(Session* sp, uint8_t c) {
    return WPUTC(sp, c, prfile);
}
int32_t CrLf(Session* sp) {
    int32_t s = Put(sp, 0x0D);
    return s ? s : Put(sp, 0x0A);
}
int32_t Pad(Session* sp, int32_t n) {
    for (int32_t i = 0; i < n; ++i)
        if (int32_t s = Put(sp, ' ')) return s;
    return 0;
}

int32_t DataChar(Session* sp, uint8_t b, bool translate) {
    PrintBuffer* pb = sp->screen.get();
    pb->cells[pb->currentAddress] = Cell{0x02, b, 0, 0};
    int32_t s = 0;
    if (!gPrintToPort && !prfile) {
        Trace("PRINTFILE SUDDENLY NULL\n");
    } else {
        uint8_t c = (translate && gTranslate) ? gEbcdicToAscii[b] : b;
        if (c) s = Put(sp, c);
    }
    Advance(pb);
    return s;
}

void ApplyPairs(PrintBuffer* pb, const uint8_t* p, int n) {
    Cell& c = pb->cells[pb->currentAddress];
    for (int i = 0; i < n; ++i) {
        uint8_t t = p[2 * i], v = p[2 * i + 1];
        if (t == 0xC0)
            c.ch = v;
        else if (t == 0x41)
            c.ext = static_cast<uint8_t>((c.ext & 0x3F) | ((v & 3) << 6));
        else if (t == 0x42)
            c.ext = static_cast<uint8_t>((c.ext & 0xC7) | ((v & 7) << 3));
    }
    Advance(pb);
}

// Bytes that are neither an order nor an SCS control.
constexpr auto kPlain = [] {
    std::array<bool, 256> t{};
    t.fill(true);
    for (uint8_t b : {0x04, 0x05, 0x0B, 0x0C, 0x0D, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x19,
                      0x1D, 0x1E, 0x24, 0x25, 0x28, 0x29, 0x2B, 0x2C, 0x2F, 0x35, 0x3C})
        t[b] = false;
    return t;
}();
constexpr auto kIdentity = [] {
    std::array<uint8_t, 256> t{};
    for (int i = 0; i < 256; ++i)
        t[i] = static_cast<uint8_t>(i);
    return t;
}();

// Data characters in bulk, for as long as the writer would only move the
// column: the job has started, the page and the job have lines to spare, the
// line has room and no margin falls due. Returns the bytes taken (0: the first
// one needs the writer), or -94 when the file refused a byte.
int32_t PlainRun(Session* sp, PrintBuffer* pb, const uint8_t* d, int32_t i, int32_t len) {
    if (gPrintToPort || !prfile || !sp->fileStarted) return 0;
    if (gLinesPerPage != 0 && linesInPage >= gLinesPerPage) return 0;
    if (gPrintAfterNLines != 0 && linesInPage >= gPrintAfterNLines) return 0;
    const int32_t limit = glinesize != 0 ? std::min<int32_t>(glinesize, 132) : 132;
    const uint8_t* xl = gTranslate ? gEbcdicToAscii : kIdentity.data();
    FILE* f = prfile;
    int32_t col = chrsInLine, at = i;
    for (; at < len && kPlain[d[at]]; ++at) {
        const uint8_t b = d[at], c = xl[b];
        if (c == 0x0D || c == 0x0A || c == 0x0C || c == 0x08) break;
        if (c != 0) {
            if (col >= limit || (col == 0 && gleftmargin > 0)) break;
            ++col;
            if (putc_unlocked(c, f) != c) {
                pb->cells[pb->currentAddress] = Cell{0x02, b, 0, 0};
                Advance(pb);
                chrsInLine = col;
                return -94;
            }
        }
        pb->cells[pb->currentAddress] = Cell{0x02, b, 0, 0};
        Advance(pb);
    }
    chrsInLine = col;
    return at - i;
}

// A job ended by EM or FF continues into the next job's file.
void EndJobMidRecord(Session* sp) {
    PrScreenRemote(sp);
    if (!gPrintToPort) OpenPrintFile(sp->prScreen.get());
}
} // namespace

int32_t FlushOutput() {
    if (!gPortBytes.empty()) {
        int r = PortWrite(gPortBytes.data(), gPortBytes.size());
        gPortBytes.clear();
        if (r) return r;
    }
    if (prfile && (std::fflush(prfile) != 0 || std::ferror(prfile))) {
        // A full or read-only spool volume shows here, not at the buffered writes.
        SetErrorDetail(FormatSystemError(nullptr, errno ? errno : EIO));
        return 94;
    }
    return 0;
}

int32_t WPUTC(Session* sp, uint8_t c, FILE* file) {
    if (gPrintToPort) {
        gPortBytes.push_back(c);
        return 0;
    }
    if (!sp->fileStarted) {
        chrsInLine = linesInPage = 0;
        sp->fileStarted = true;
        Trace("File started = TRUE WPUTC\n");
    }
    if (c == 0x0D || c == 0x0A || c == 0x0C)
        chrsInLine = 0;
    else if (c == 0x08) {
        if (chrsInLine == 0) {
            Trace("BS ret\n");
            return 0;
        }
        --chrsInLine;
    } else
        ++chrsInLine;
    if (c == 0x0A) ++linesInPage;
    bool printable = c != 0x0D && c != 0x0A && c != 0x0C && c != 0x08;
    if (c != 0x08) {
        if (gLinesPerPage != 0 && linesInPage >= gLinesPerPage) {
            Trace("FORCE FF\n");
            if (int32_t s = Raw(file, 0x0C)) return s;
            chrsInLine = linesInPage = 0;
            if (!printable) return 0;
            chrsInLine = 1; // the character opens the new page
        }
        if (gleftmargin > 0 && chrsInLine == 1 && printable) {
            for (int32_t i = 0; i < gleftmargin; ++i) {
                if (int32_t s = Raw(file, ' ')) return s;
                ++chrsInLine;
            }
        }
        if (chrsInLine > 132 || (glinesize != 0 && chrsInLine > glinesize)) {
            Trace("FORCE CR LF %d\n", chrsInLine);
            if (int32_t s = Raw(file, 0x0D)) return s;
            if (int32_t s = Raw(file, 0x0A)) return s;
            chrsInLine = 1;
            ++linesInPage;
        }
        if (c == 0x0C) chrsInLine = linesInPage = 0;
    }
    if (!file) {
        Trace("error in write no file at all\n");
        return 75;
    }
    if (int32_t s = Raw(file, c)) return s;
    if (gPrintAfterNLines != 0 && linesInPage >= gPrintAfterNLines) {
        Trace("FORCE PRINT AFTER %d LINES\n", linesInPage);
        PrScreenRemote(sp);
        chrsInLine = linesInPage = 0;
        OpenPrintFile(sp->prScreen.get());
    }
    return 0;
}

int16_t outdata(Session* sp, const uint8_t* d, int32_t len) {
    PrintBuffer* pb = sp->screen.get();
    if (!gPrintToPort) OpenPrintFile(sp->prScreen.get());
    int32_t i = 0, base = 0;
    const bool lu3 = Lutype != 1;
    if (lu3) {
        if (len < 2) return 0;
        uint8_t wcc = d[1];
        pb->wcc = wcc;
        static const int32_t sizes[4] = {0, 40, 64, 80};
        glinesize = sizes[(wcc >> 4) & 3];
        Trace("glinesize = %d\n", glinesize);
        if (wcc & 0x01)
            for (int k = 0; k < pb->size; ++k)
                if (pb->cells[k].flags & 0x01) pb->cells[k].ch &= 0xFE;
        if (wcc & 0x40) pb->replyMode = 0;
        i = base = 2;
    }
    // Offsets past the status range still read as errors, never as message numbers.
    auto err = [&](int32_t at) {
        return static_cast<int16_t>(-std::clamp<int32_t>(at - base, 1, INT16_MAX));
    };
    while (i < len) {
        uint8_t b = d[i];
        int32_t s = 0;
        switch (b) { // every code with a case here is listed in kPlain
        case 0x11:   // SBA
        case 0x12:   // EUA
        case 0x3C: { // RA
            int need = b == 0x3C ? 4 : 3;
            if (i + need > len) return err(i + 1);
            // Never an address past the cells that exist, whatever the session says.
            int limit = sp->altSize > 0 && sp->altSize < pb->size ? sp->altSize : pb->size;
            int16_t a = DecodeBufferAddress(d + i + 1, limit);
            if (a < 0) return err(b == 0x3C ? i + 3 : i + 1);
            if (b == 0x11) {
                pb->currentAddress = a;
            } else if (b == 0x3C) {
                uint8_t c = d[i + 3];
                do {
                    if ((s = DataChar(sp, c, true))) return static_cast<int16_t>(s);
                } while (pb->currentAddress != a);
            } else {
                int k = pb->currentAddress;
                bool prot = false;
                for (int n = 0; n < pb->size; ++n) {
                    int q = (k - n + pb->size) % pb->size;
                    if (pb->cells[q].flags & 0x01) {
                        prot = pb->cells[q].ch & 0x20;
                        break;
                    }
                }
                do {
                    Cell& c = pb->cells[k];
                    if (c.flags & 0x01)
                        prot = c.ch & 0x20;
                    else if (!prot)
                        c = Cell{0x02, 0, 0, 0};
                    k = (k + 1) % pb->size;
                } while (k != a);
                pb->currentAddress = a;
            }
            i += need;
            continue;
        }
        case 0x1D: // SF
            if (i + 2 > len) return err(i + 1);
            pb->cells[pb->currentAddress] = Cell{0x03, d[i + 1], 0, 0};
            Advance(pb);
            i += 2;
            continue;
        case 0x29:   // SFE
        case 0x2C: { // MF
            if (i + 2 > len) return err(i + 1);
            int n = d[i + 1];
            if (i + 2 + 2 * n > len) return err(i + 1);
            if (b == 0x29) {
                pb->cells[pb->currentAddress] = Cell{0x03, 0x40, 0, 0};
                ApplyPairs(pb, d + i + 2, n);
            } else if (pb->cells[pb->currentAddress].flags & 0x01) {
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
            pb->cursorAddress = static_cast<uint16_t>(pb->currentAddress);
            ++i;
            continue;
        case 0x04: { // vertical channel select
            if (i + 2 > len) return err(i + 1);
            int k = d[i + 1] & 0x0F, col = chrsInLine;
            int t = gVformat[3 + k];
            if (t == 0) {
                if (!(s = CrLf(sp))) s = Pad(sp, col);
            } else {
                if (t < linesInPage) s = Put(sp, 0x0C);
                for (int n = linesInPage; !s && n < t; ++n)
                    s = CrLf(sp);
                if (!s) s = Pad(sp, col);
            }
            i += 2;
            break;
        }
        case 0x05: { // HT
            if (gHformat[3] == 0)
                s = Put(sp, ' ');
            else
                for (int k = 3; k < 135 && gHformat[k]; ++k)
                    if (gHformat[k] > chrsInLine) {
                        s = Pad(sp, gHformat[k] - chrsInLine);
                        break;
                    }
            ++i;
            break;
        }
        case 0x0B: { // VT
            int col = chrsInLine, n = 1;
            if (gVformat[3] != 0) {
                n = -1;
                for (int k = 0; k < 12; ++k)
                    if (gVformat[3 + k] > linesInPage) {
                        n = gVformat[3 + k] - linesInPage;
                        break;
                    }
            }
            if (n < 0)
                s = Put(sp, 0x0C);
            else {
                for (int k = 0; !s && k < n; ++k)
                    s = CrLf(sp);
                if (!s) s = Pad(sp, col);
            }
            ++i;
            break;
        }
        case 0x0C: // FF
            ++i;
            if (gOptions.formFeed) {
                if (sp->fileStarted) EndJobMidRecord(sp);
            } else
                s = Put(sp, 0x0C);
            break;
        case 0x0D:
            s = Put(sp, 0x0D);
            Advance(pb);
            ++i;
            break;
        case 0x19: // EM
            ++i;
            if (gOptions.btam && !gPrintToPort) {
                EndJobMidRecord(sp);
                break;
            }
            [[fallthrough]];
        case 0x15:
        case 0x1E:
            if (b != 0x19) ++i;
            Advance(pb);
            s = CrLf(sp);
            break;
        case 0x16:
            Advance(pb);
            s = Put(sp, 0x08);
            ++i;
            break;
        case 0x25: {
            int col = chrsInLine;
            if (!(s = CrLf(sp))) s = Pad(sp, col);
            Advance(pb);
            ++i;
            break;
        }
        case 0x14:
        case 0x24:
        case 0x2F:
            ++i;
            break;
        case 0x35: { // TRN: transparent bytes pass untranslated
            if (i + 2 > len) return err(i + 1);
            int n = d[i + 1];
            if (i + 2 + n > len) return err(i + 1);
            for (int k = 0; !s && k < n; ++k)
                s = DataChar(sp, d[i + 2 + k], false);
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
            if ((f == 0xC1 || f == 0xC2) && np > static_cast<int>(sizeof gHformat))
                return err(i + 2);
            if (f == 0xC1) {
                if (LL == 1) {
                    glinesize = 132;
                    gleftmargin = 0;
                } else {
                    std::memcpy(gHformat, p, np);
                    SortStops(gHformat);
                    glinesize = std::min<int32_t>(gHformat[0], 132);
                    if (gHformat[2]) glinesize = gHformat[2];
                    gleftmargin = gHformat[1] > 0 ? gHformat[1] - 1 : 0;
                }
            } else if (f == 0xC2 && LL > 1) {
                if (!gChannelsFixed) {
                    std::memcpy(gVformat, p, np);
                    SortStops(gVformat);
                }
                gLinesPerPage = gVformat[2] ? gVformat[2] : gVformat[0];
            }
            i += 2 + LL;
            break;
        }
        default: {
            int32_t run = PlainRun(sp, pb, d, i, len);
            if (run < 0) return 94;
            if (run > 0) {
                i += run;
                continue;
            }
            s = DataChar(sp, b, true);
            ++i;
            break;
        }
        }
        if (s) return static_cast<int16_t>(s);
    }
    if (lu3 && (pb->wcc & 0x02)) pb->aid = 0x60;
    if (!jobEnded && sp->bracket == 2) {
        // A record after the end of a bracket finishes the job, delivered like any other.
        Trace("closing prfile from eomFlag\n");
        PrScreenRemote(sp);
        jobEnded = 1;
    }
    return 0;
}

int16_t dsoutproc(Session* sp, const uint8_t* d, int32_t len) {
    if (sp->owner == OWNER_SYSOP) {
        Trace("OWNER_SYSOP inhibits printing\n");
        return 0;
    }
    if (sp->extOption && sp->hisOpts.size() > 0x37 && sp->hisOpts[0x37] == 0) sp->owner = 2;
    PrintBuffer* pb = sp->screen.get();
    if (len <= 0) return 0;
    int16_t s = 0;
    inProgress = 1;
    if (Lutype == 1) {
        pb->currentAddress = static_cast<int16_t>(pb->cursorAddress);
        s = sp->sfMode ? WsfProc(sp, d - 1, len + 1) : outdata(sp, d, len);
    } else {
        switch (d[0]) {
        case 0x01:
        case 0xF1:
            pb->currentAddress = static_cast<int16_t>(pb->cursorAddress);
            s = outdata(sp, d, len);
            break;
        case 0x02:
        case 0xF2:
            s = ReadBufferReply(sp);
            break;
        case 0x05:
        case 0xF5:
            ClearPrintBuffer(pb);
            s = outdata(sp, d, len);
            break;
        case 0x06:
        case 0xF6:
            s = ReadModifiedReply(sp, 0xF6);
            break;
        case 0x0D:
        case 0x7E:
            s = outdata(sp, d, len);
            break;
        case 0x0F:
        case 0x6F:
            s = 0;
            break;
        case 0x11:
        case 0xF3:
            s = WsfProc(sp, d, len);
            break;
        case 0x6E:
            s = ReadModifiedReply(sp, 0x6E);
            break;
        default:
            s = 63;
            break;
        }
    }
    inProgress = 0;
    return s;
}

int32_t FinishRecord(Session* sp) {
    int32_t r = FlushOutput();
    if (r == 94) KeepUnwrittenJob(sp);
    if (jobEnded) {
        jobEnded = 0;
        ClearPrintBuffer(sp->screen.get());
    }
    return r;
}

int16_t TelDeliverRecord(Session* sp, const uint8_t* data, int16_t length) {
    if (gDeliverObserver) gDeliverObserver(data, length);
    if (length == 0) return 0;
    int16_t s = dsoutproc(sp, data, length);
    int32_t f = FinishRecord(sp);
    return s ? s : static_cast<int16_t>(f);
}
