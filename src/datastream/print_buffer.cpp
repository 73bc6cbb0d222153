// The 3270 print buffer.
#include "datastream/print_buffer.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>

namespace datastream {

namespace {
const uint8_t kAddrCode[64] = {
    0x40, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F,
    0x50, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0x5A, 0x5B, 0x5C, 0x5D, 0x5E, 0x5F,
    0x60, 0x61, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0x6A, 0x6B, 0x6C, 0x6D, 0x6E, 0x6F,
    0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0x7A, 0x7B, 0x7C, 0x7D, 0x7E, 0x7F};
} // namespace

void PrintBuffer::Reset(int16_t r, int16_t c) {
    rows = r;
    cols = c;
    // A geometry no host can set would otherwise index past the cells.
    const int16_t was = cells ? size : -1;
    size = static_cast<int16_t>(std::clamp(r * c, 1, kMaxCells));
    // Exactly size + 1 cells, so that a sanitizer sees any reach past the marker.
    if (size != was) cells.reset(new Cell[static_cast<size_t>(size) + 1]);
    std::memset(static_cast<void*>(cells.get()), 0, (static_cast<size_t>(size) + 1) * sizeof(Cell));
    cells[static_cast<size_t>(size)].flags = 0xFF;
    currentAddress = 0;
    cursorAddress = 0;
    replyMode = wcc = aid = 0;
    modifiedMaybe = false;
}

void PrintBuffer::Clear() {
    std::memset(static_cast<void*>(cells.get()), 0, static_cast<size_t>(size) * sizeof(Cell));
    replyMode = 0;
    cursorAddress = 0;
    currentAddress = 0;
    modifiedMaybe = false;
}

void ResetModified(PrintBuffer& pb) {
    if (!pb.modifiedMaybe) return;
    pb.modifiedMaybe = false;
    // Two cells at a time as one word, written only where a bit goes off: the
    // loop runs over the whole buffer on every Write that asks for it, and
    // field attributes are few.
    constexpr bool kLittle = std::endian::native == std::endian::little;
    constexpr int kFlags = kLittle ? 8 * offsetof(Cell, flags) : 24 - 8 * offsetof(Cell, flags);
    constexpr int kCh = kLittle ? 8 * offsetof(Cell, ch) : 24 - 8 * offsetof(Cell, ch);
    constexpr uint64_t kBoth = 0x0000000100000001;
    static_assert(sizeof(Cell) == sizeof(uint32_t), "a cell is a half word");
    uint8_t* cells = reinterpret_cast<uint8_t*>(pb.cells.get());
    const size_t n = static_cast<size_t>(pb.size) * sizeof(Cell);
    size_t at = 0;
    for (; at + sizeof(uint64_t) <= n; at += sizeof(uint64_t)) {
        uint64_t w;
        std::memcpy(&w, cells + at, sizeof w);
        const uint64_t off = ((w >> kFlags) & kBoth) << kCh;
        if (w & off) {
            w &= ~off;
            std::memcpy(cells + at, &w, sizeof w);
        }
    }
    if (at < n) {
        uint32_t w;
        std::memcpy(&w, cells + at, sizeof w);
        w &= ~(((w >> kFlags) & 1u) << kCh);
        std::memcpy(cells + at, &w, sizeof w);
    }
}

int16_t DecodeBufferAddress(const uint8_t* b, int limit) {
    int a = (b[0] & 0xC0) ? ((b[0] & 0x3F) * 64) + (b[1] & 0x3F) : ((b[0] & 0x3F) * 256) + b[1];
    if (a >= limit) return -1;
    return static_cast<int16_t>(a);
}

uint8_t AddressCode(int v) {
    return kAddrCode[v & 0x3F];
}

} // namespace datastream
