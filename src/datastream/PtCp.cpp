// The 3270 print buffer and the read replies built from it.
#include <cstring>

#include "datastream/printbuffer.h"
#include "session/session.h"
#include "session/telnet.h"

namespace {
const uint8_t kAddrCode[64] = {
    0x40, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F,
    0x50, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0x5A, 0x5B, 0x5C, 0x5D, 0x5E, 0x5F,
    0x60, 0x61, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0x6A, 0x6B, 0x6C, 0x6D, 0x6E, 0x6F,
    0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0x7A, 0x7B, 0x7C, 0x7D, 0x7E, 0x7F};

// Bounded reply assembly: a reply past the build buffer or maxRecord is status 77.
struct Reply {
    Session* sp;
    size_t n = 0;
    bool overflow = false;
    size_t limit() const {
        size_t lim = sp->buildBuf.size();
        if (sp->maxRecord > 0 && static_cast<size_t>(sp->maxRecord) < lim) lim = sp->maxRecord;
        return lim;
    }
    void put(uint8_t b) {
        if (n >= limit()) {
            overflow = true;
            return;
        }
        sp->buildBuf[n++] = b;
    }
    void addr(int a) {
        put(kAddrCode[(a >> 6) & 0x3F]);
        put(kAddrCode[a & 0x3F]);
    }
    int16_t send() {
        if (overflow) return 77;
        return static_cast<int16_t>(TelSendRecord(sp, sp->buildBuf.data(), n));
    }
};
} // namespace

int16_t DecodeBufferAddress(const uint8_t* b, int limit) {
    int a = (b[0] & 0xC0) ? ((b[0] & 0x3F) * 64) + (b[1] & 0x3F) : ((b[0] & 0x3F) * 256) + b[1];
    if (a >= limit) return -1;
    return static_cast<int16_t>(a);
}

void ClearPrintBuffer(PrintBuffer* buffer) {
    if (!buffer) return;
    for (int i = 0; i < buffer->size; ++i)
        buffer->cells[i] = Cell{};
    buffer->replyMode = 0;
    buffer->cursorAddress = 0;
    buffer->currentAddress = 0;
}

int16_t ReadBufferReply(Session* sp) {
    PrintBuffer* pb = sp->screen.get();
    Reply r{sp};
    r.put(pb->aid);
    r.addr(pb->cursorAddress);
    for (int i = 0; i < pb->size; ++i) {
        const Cell& c = pb->cells[i];
        if (c.flags & 0x01) {
            uint8_t hl = c.ext >> 6, col = (c.ext >> 3) & 7;
            if (pb->replyMode == 1) {
                r.put(0x29);
                r.put(static_cast<uint8_t>(1 + (hl != 0) + (col != 0)));
                r.put(0xC0);
                r.put(kAddrCode[c.ch & 0x3F]);
                if (hl) {
                    r.put(0x41);
                    r.put(hl);
                }
                if (col) {
                    r.put(0x42);
                    r.put(col);
                }
            } else {
                r.put(0x1D);
                r.put(kAddrCode[c.ch & 0x3F]);
            }
        } else {
            r.put(c.ch);
        }
    }
    return r.send();
}

int16_t ReadModifiedReply(Session* sp, uint8_t which) {
    PrintBuffer* pb = sp->screen.get();
    Reply r{sp};
    auto shortRead = [&] {
        r.put(0x01);
        r.put(0x6C);
        r.put(0x61);
        r.put(0x02);
    };
    int first = -1;
    for (int i = 0; i < pb->size; ++i)
        if (pb->cells[i].flags & 0x01) {
            first = i;
            break;
        }
    if (first < 0 && sp->owner == OWNER_SYSOP) {
        if (pb->aid == 0xF0)
            shortRead();
        else
            for (int i = pb->currentAddress, k = 0; i < pb->size && k < 256; ++i, ++k)
                if (pb->cells[i].ch) r.put(pb->cells[i].ch);
        return r.send();
    }
    if (pb->aid == 0xF0) {
        shortRead();
    } else {
        r.put(pb->aid);
        if (which == 0xF6 && pb->aid >= 0x6A && pb->aid <= 0x6E) return r.send();
        r.addr(pb->cursorAddress);
    }
    bool noData = pb->aid == 0x7E;
    if (first >= 0) {
        for (int k = 0; k < pb->size; ++k) {
            int i = (first + k) % pb->size;
            const Cell& c = pb->cells[i];
            if (!(c.flags & 0x01) || !(c.ch & 0x01)) continue;
            r.put(0x11);
            r.addr((i + 1) % pb->size);
            if (noData) continue;
            for (int j = (i + 1) % pb->size; !(pb->cells[j].flags & 0x01) && j != i;
                 j = (j + 1) % pb->size)
                if (pb->cells[j].ch) r.put(pb->cells[j].ch);
        }
    } else {
        for (int i = 0; i < pb->size; ++i)
            if (pb->cells[i].ch) r.put(pb->cells[i].ch);
    }
    return r.send();
}
