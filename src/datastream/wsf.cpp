// Structured fields and the query replies that describe this printer.
#include <algorithm>
#include <cstring>
#include <vector>

#include "config/options.h"
#include "config/utilities.h"
#include "datastream/datastream.h"
#include "datastream/printbuffer.h"
#include "datastream/wsf.h"
#include "session/session.h"
#include "session/telnet.h"

namespace {
std::vector<uint8_t> ReplyFor(Session* sp, uint8_t code) {
    switch (code) {
    case 0x80:
        return {0x00, 0x0A, 0x81, 0x80, 0x99, 0xA6, 0x8F, 0x88, 0x81, 0x80};
    case 0x81:
        return {0x00, 0x17, 0x81, 0x81, 0x1F, 0x00, 0x00, 0x9E, 0x00, 0x7F, 0x00, 0x00,
                0x01, 0x00, 0xB4, 0x00, 0x01, 0x00, 0xB4, 0x0F, 0x18, 0x00, 0x00};
    case 0x85:
        return {0x00, 0x17, 0x81, 0x85, 0x0E, 0x00, 0x0F, 0x18, 0x00, 0x00, 0x00, 0x00,
                0x0B, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x4C, 0x01};
    case 0x86:
        return {0x00, 0x16, 0x81, 0x86, 0x00, 0x08, 0x00, 0xF4, 0xF1, 0xF1, 0xF2,
                0xF2, 0xF3, 0xF3, 0xF4, 0xF4, 0xF5, 0xF5, 0xF6, 0xF6, 0xF7, 0xF7};
    case 0x87:
        return {0x00, 0x0D, 0x81, 0x87, 0x04, 0x00, 0xF0, 0xF1, 0xF1, 0xF2, 0xF2, 0xF4, 0xF4};
    case 0x88:
        return {0x00, 0x05, 0x81, 0x88, static_cast<uint8_t>(sp->extendedTypes ? 1 : 0)};
    case 0x8C:
        return {0x00, 0x0A, 0x81, 0x8C, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00};
    case 0x8F: {
        std::vector<uint8_t> v{0x00, 0x1A, 0x81, 0x8F, 0x00, 0x00};
        const uint8_t name[8] = {0xE5, 0xC5, 0xC4, 0xC1, 0xE5, 0xC9, 0xF0, 0xF1}; // VEDAVI01
        for (int k = 0; k < 2; ++k)
            v.insert(v.end(), name, name + 8);
        v.insert(v.end(), {0x04, 0x01, 0x00, 0x01});
        return v;
    }
    case 0x95:
        return {0x00,
                0x0C,
                0x81,
                0x95,
                0x00,
                0x00,
                0x00,
                0x00,
                static_cast<uint8_t>(sp->maxRecord >> 8),
                static_cast<uint8_t>(sp->maxRecord),
                0x01,
                0x01};
    case 0x99:
        return {0x00, 0x06, 0x81, 0x99, 0x00, 0x00};
    case 0xA6:
        return {0x00,
                0x11,
                0x81,
                0xA6,
                0x00,
                0x00,
                0x0B,
                0x01,
                0x00,
                0x00,
                static_cast<uint8_t>(sp->cols),
                0x00,
                static_cast<uint8_t>(sp->rows),
                0x00,
                static_cast<uint8_t>(sp->altCols),
                0x00,
                static_cast<uint8_t>(sp->altRows)};
    default:
        return {};
    }
}

// Appends whole replies only; one that does not fit ends the list.
bool Append(Session* sp, size_t& n, const std::vector<uint8_t>& r) {
    if (n + r.size() > sp->buildBuf.size()) return false;
    std::memcpy(sp->buildBuf.data() + n, r.data(), r.size());
    n += r.size();
    return true;
}

int Send(Session* sp, size_t n) {
    return TelSendRecord(sp, sp->buildBuf.data(), n) ? 1 : 0;
}
size_t gPrefix = 0; // bytes put in front by a partition 0x0B request

// A rejection deep in a long record must not wrap into a message number.
int16_t Reject(int32_t at) {
    return static_cast<int16_t>(-std::min<int32_t>(at, INT16_MAX));
}
} // namespace

int QueryReply(Session* sp) {
    size_t n = 0;
    if (sp->sfMode)
        n = gPrefix;
    else
        sp->buildBuf[n++] = 0x88;
    for (uint8_t c : {0x81, 0x86, 0x8C})
        Append(sp, n, ReplyFor(sp, c));
    gPrefix = 0;
    return Send(sp, n);
}

int QueryListReply(Session* sp, const uint8_t* f, int32_t len) {
    size_t n = 0;
    sp->buildBuf[n++] = 0x88;
    for (int32_t i = 6; i < len; ++i) {
        std::vector<uint8_t> r = ReplyFor(sp, f[i]);
        if (f[i] == 0x8C || r.empty()) continue;
        if (!Append(sp, n, r)) break;
    }
    return Send(sp, n);
}

int ReadPartitionProc(Session* sp, const uint8_t* f, int32_t len) {
    if (len < 5) return 4;
    if (f[3] == 0xFF) {
        if (f[4] == 0x02) return QueryReply(sp);
        if (f[4] != 0x03) return 4;
        if (len < 6) return 5;
        switch (f[5]) {
        case 0x00:
            return QueryListReply(sp, f, len);
        case 0x40: {
            int s = QueryReply(sp);
            return s ? s : QueryListReply(sp, f, len);
        }
        case 0x80:
            return QueryReply(sp);
        default:
            return 5;
        }
    }
    if (f[3] == 0x0B) {
        const uint8_t six[6] = {0x06, 0x01, 0x00, 0x8B, 0x60, 0x00};
        std::memcpy(sp->buildBuf.data(), six, 6);
        gPrefix = 6;
        Trace("JAPAN FOUND THE GOOD ONE\n");
        return 0;
    }
    Trace("WSF FOUND THE BAD ONE\n");
    return 3;
}

int16_t WsfProc(Session* sp, const uint8_t* p, int32_t length) {
    const uint8_t* f = p + 1;
    int32_t left = length - 1, offset = 0;
    bool shortForm = sp->sfMode;
    // An LU1 record read as structured fields has no command byte in front of it.
    Trace("in wsf %02X\n", Lutype == 1 && sp->sfMode ? 0 : p[0]);
    while (left > 0) {
        int32_t L, idPos;
        if (shortForm) {
            L = f[0];
            idPos = 1;
            shortForm = false;
        } else {
            if (left < 3) return Reject(offset + 2);
            L = ((f[0] << 8) | f[1]) & 0x7FFF;
            idPos = 2;
        }
        if (left <= idPos) return Reject(offset + 2);
        uint8_t id = f[idPos];
        if (id == 0x01 && L == 0) L = 5;
        if (L <= idPos || L > left) return Reject(offset + 2);
        switch (id) {
        case 0x01: {
            int s = ReadPartitionProc(sp, f, L);
            if (s) {
                Trace("LEAVING status %d\n", s);
                return Reject(offset + s);
            }
            break;
        }
        case 0x03:
        case 0xD0:
            break;
        case 0x09:
            if (L > idPos + 2) sp->screen->replyMode = f[idPos + 2];
            break;
        case 0x0F:
            if (L <= idPos + 1 || f[idPos + 1] != 0x1F) return Reject(offset + 3);
            break;
        case 0x10:
            return Reject(offset + 3);
        case 0x40:
            if (L <= idPos + 1 || f[idPos + 1] != 0) return Reject(offset + 3);
            if (L > idPos + 2) dsoutproc(sp, f + idPos + 2, L - idPos - 2);
            break;
        default:
            return Reject(offset + 2);
        }
        offset += L;
        f += L;
        left -= L;
    }
    sp->sfMode = false;
    return 0;
}
