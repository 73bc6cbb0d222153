// Structured fields and the query replies that describe this printer.
#include <algorithm>
#include <cstring>
#include <vector>

#include "config/utilities.h"
#include "datastream/host_link.h"
#include "datastream/stream_impl.h"

namespace datastream {

namespace {
std::vector<uint8_t> ReplyFor(const PrintState& st, uint8_t code) {
    switch (code) {
    case 0x80: // Summary
        if (st.dbcs) return {0x00, 0x0B, 0x81, 0x80, 0x99, 0xA6, 0x8F, 0x88, 0x81, 0x80, 0x91};
        return {0x00, 0x0A, 0x81, 0x80, 0x99, 0xA6, 0x8F, 0x88, 0x81, 0x80};
    case 0x81: // Usable Area
        return {0x00, 0x17, 0x81, 0x81, 0x1F, 0x00, 0x00, 0x9E, 0x00, 0x7F, 0x00, 0x00,
                0x01, 0x00, 0xB4, 0x00, 0x01, 0x00, 0xB4, 0x0F, 0x18, 0x00, 0x00};
    case 0x85: // Character Sets
        return {0x00, 0x17, 0x81, 0x85, 0x0E, 0x00, 0x0F, 0x18, 0x00, 0x00, 0x00, 0x00,
                0x0B, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x4C, 0x01};
    case 0x86: // Color
        return {0x00, 0x16, 0x81, 0x86, 0x00, 0x08, 0x00, 0xF4, 0xF1, 0xF1, 0xF2,
                0xF2, 0xF3, 0xF3, 0xF4, 0xF4, 0xF5, 0xF5, 0xF6, 0xF6, 0xF7, 0xF7};
    case 0x87: // Highlighting
        return {0x00, 0x0D, 0x81, 0x87, 0x04, 0x00, 0xF0, 0xF1, 0xF1, 0xF2, 0xF2, 0xF4, 0xF4};
    case 0x88: // Reply Modes
        return {0x00, 0x05, 0x81, 0x88, static_cast<uint8_t>(st.extendedTypes ? 1 : 0)};
    case 0x8C:
        return {0x00, 0x0A, 0x81, 0x8C, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00};
    case 0x8F: // the printer's name, "VEDAVI01", twice
        return {0x00, 0x1A, 0x81, 0x8F, 0x00, 0x00, 0xE5, 0xC5, 0xC4, 0xC1, 0xE5, 0xC9, 0xF0,
                0xF1, 0xE5, 0xC5, 0xC4, 0xC1, 0xE5, 0xC9, 0xF0, 0xF1, 0x04, 0x01, 0x00, 0x01};
    case 0x95: { // Distributed Data Management: the largest inbound record
        const auto hi = static_cast<uint8_t>(st.maxRecord >> 8);
        const auto lo = static_cast<uint8_t>(st.maxRecord);
        return {0x00, 0x0C, 0x81, 0x95, 0x00, 0x00, 0x00, 0x00, hi, lo, 0x01, 0x01};
    }
    case 0x91: // DBCS-Asia: SO and SI in the data, shown as blanks; double-byte input
        if (!st.dbcs) return {};
        return {0x00, 0x0C, 0x81, 0x91, 0x00, 0x00, 0x03, 0x01, 0x01, 0x03, 0x02, 0x01};
    case 0x99:
        return {0x00, 0x06, 0x81, 0x99, 0x00, 0x00};
    case 0xA6: { // Implicit Partition: default and alternate sizes
        auto b = [](int16_t v) { return static_cast<uint8_t>(v); };
        return {0x00, 0x11,       0x81, 0xA6,       0x00, 0x00,          0x0B, 0x01,         0x00,
                0x00, b(st.cols), 0x00, b(st.rows), 0x00, b(st.altCols), 0x00, b(st.altRows)};
    }
    default:
        return {};
    }
}

// Appends whole replies only; one that does not fit ends the list.
bool Append(std::vector<uint8_t>& build, size_t& n, const std::vector<uint8_t>& r) {
    if (n + r.size() > build.size()) return false;
    // An empty reply (one not announced here) has no data pointer to copy from.
    std::copy(r.begin(), r.end(), build.begin() + static_cast<std::ptrdiff_t>(n));
    n += r.size();
    return true;
}

// A rejection deep in a long record must not wrap into a message number.
int16_t Reject(int32_t at) {
    return static_cast<int16_t>(-std::min<int32_t>(at, INT16_MAX));
}
} // namespace

int DataStream::Impl::SendBuilt(size_t n) {
    return host.SendRecord({build.data(), n}) ? 1 : 0;
}

int DataStream::Impl::QueryReply() {
    size_t n = 0;
    if (state.sfMode)
        n = prefix;
    else
        build[n++] = 0x88;
    for (uint8_t c : {0x81, 0x86, 0x8C, 0x91})
        Append(build, n, ReplyFor(state, c));
    prefix = 0;
    return SendBuilt(n);
}

int DataStream::Impl::QueryListReply(const uint8_t* f, int32_t len) {
    size_t n = 0;
    build[n++] = 0x88;
    for (int32_t i = 6; i < len; ++i) {
        std::vector<uint8_t> r = ReplyFor(state, f[i]);
        if (f[i] == 0x8C || r.empty()) continue;
        if (!Append(build, n, r)) break;
    }
    return SendBuilt(n);
}

// 0, or the reason the field is rejected (added to its offset).
int DataStream::Impl::ReadPartition(const uint8_t* f, int32_t len) {
    if (len < 5) return 4;
    if (f[3] == 0xFF) {
        if (f[4] == 0x02) return QueryReply();
        if (f[4] != 0x03) return 4;
        if (len < 6) return 5;
        switch (f[5]) {
        case 0x00:
            return QueryListReply(f, len);
        case 0x40: {
            int s = QueryReply();
            return s ? s : QueryListReply(f, len);
        }
        case 0x80:
            return QueryReply();
        default:
            return 5;
        }
    }
    if (f[3] == 0x0B) {
        const uint8_t six[6] = {0x06, 0x01, 0x00, 0x8B, 0x60, 0x00};
        std::memcpy(build.data(), six, 6);
        prefix = 6;
        config::Trace("JAPAN FOUND THE GOOD ONE\n");
        return 0;
    }
    config::Trace("WSF FOUND THE BAD ONE\n");
    return 3;
}

// The fields of a Write Structured Field (command is only traced). With sfMode
// the first field has a one-byte length.
int16_t DataStream::Impl::StructuredFields(const uint8_t* f, int32_t left, uint8_t command) {
    int32_t offset = 0;
    bool shortForm = state.sfMode;
    config::Trace("in wsf %02X\n", command);
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
        case 0x01: { // Read Partition
            int s = ReadPartition(f, L);
            if (s) {
                config::Trace("LEAVING status %d\n", s);
                return Reject(offset + s);
            }
            break;
        }
        case 0x03: // Erase/Reset
        case 0xD0:
            break;
        case 0x09: // Set Reply Mode
            if (L > idPos + 2) buffer.replyMode = f[idPos + 2];
            break;
        case 0x0F:
            if (L <= idPos + 1 || f[idPos + 1] != 0x1F) return Reject(offset + 3);
            break;
        case 0x10:
            return Reject(offset + 3);
        case 0x40: // Outbound 3270DS
            if (L <= idPos + 1 || f[idPos + 1] != 0) return Reject(offset + 3);
            if (L > idPos + 2) Dispatch(f + idPos + 2, L - idPos - 2);
            break;
        default:
            return Reject(offset + 2);
        }
        offset += L;
        f += L;
        left -= L;
    }
    state.sfMode = false;
    return 0;
}

} // namespace datastream
