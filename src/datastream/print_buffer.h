// The 3270 print buffer: what the host wrote where, for the read replies.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

namespace datastream {

// The largest buffer a host can ask for (27 x 132).
inline constexpr int kMaxCells = 27 * 132;

// Trivial: a buffer of them is made without a pass and cleared as one block.
struct Cell {
    uint8_t flags; // 0x01 field attribute, 0x02 written, 0xFF end marker
    uint8_t ch;
    uint8_t ext; // bits 7-6 highlighting, 5-3 colour
    uint8_t pad;
};

struct PrintBuffer {
    std::unique_ptr<Cell[]> cells; // size + 1: the last one is the end marker
    int16_t rows = 0, cols = 0, size = 0;
    int16_t currentAddress = 0;
    uint16_t cursorAddress = 0;
    uint8_t replyMode = 0;
    uint8_t wcc = 0;
    uint8_t aid = 0;
    // False while no field attribute can carry the modified bit: Reset MDT then
    // has nothing to do, and most Writes ask for it.
    bool modifiedMaybe = false;

    // A fresh buffer of rows x cols cells (at least one, at most kMaxCells).
    void Reset(int16_t rows, int16_t cols);
    void Clear();
    void Advance() {
        if (++currentAddress >= size) currentAddress = 0;
    }
    Cell& Current() { return cells[static_cast<size_t>(currentAddress)]; }
    // The value of the field attribute in c.
    void SetAttribute(Cell& c, uint8_t attribute) {
        c.ch = attribute;
        if (attribute & 0x01) modifiedMaybe = true;
    }
};

// Reset MDT: the modified bit (0x01) of every field attribute's byte goes off.
void ResetModified(PrintBuffer& pb);

// A 12-bit or 14-bit buffer address; -1 when it is limit or beyond.
int16_t DecodeBufferAddress(const uint8_t* bytes, int limit);
// The 6-bit code that stands for v (0..63) in 12-bit addresses and attributes.
uint8_t AddressCode(int v);

} // namespace datastream
