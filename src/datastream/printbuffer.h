// The 3270 print buffer.
#pragma once
#include <cstdint>

struct Session;

inline constexpr int kMaxCells = 27 * 132 + 1;

struct Cell {
    uint8_t flags = 0; // 0x01 field attribute, 0x02 written, 0xFF end marker
    uint8_t ch = 0;
    uint8_t ext = 0;   // bits 7-6 highlighting, 5-3 colour
    uint8_t pad = 0;
};

struct PrintBuffer {
    Session* session = nullptr;
    Cell cells[kMaxCells];
    int16_t rows = 0, cols = 0, size = 0;
    int16_t currentAddress = 0;
    uint16_t cursorAddress = 0;
    uint8_t replyMode = 0;
    uint8_t wcc = 0;
    uint8_t aid = 0;
};

int16_t DecodeBufferAddress(const uint8_t* bytes, int limit);
void ClearPrintBuffer(PrintBuffer* buffer);
int16_t ReadBufferReply(Session* sp);
int16_t ReadModifiedReply(Session* sp, uint8_t which);
