// The line and page writer.
#include "datastream/line_writer.h"

#include <cstring>

#include "config/utilities.h"
#include "datastream/job_output.h"

namespace datastream {

int32_t LineWriter::Byte(JobOutput* f, uint8_t c) {
    if (!f->Put(c)) return 94;
    ++jobBytes;
    if (c == 0x0C) ++formFeeds;
    lastByte = c;
    return 0;
}

int32_t LineWriter::Raw(JobOutput* f, uint8_t c) {
    return Raw(f, &c, 1);
}

int32_t LineWriter::Raw(JobOutput* f, const uint8_t* bytes, int n) {
    if (!f) return 75;
    printed += n;
    if (lfOnly) {
        // A lone CR (overstrike) stays; one that an LF follows goes.
        const bool one = n == 1;
        if (heldCr_ && !(one && bytes[0] == 0x0A))
            if (int32_t s = Byte(f, 0x0D)) return s;
        heldCr_ = one && bytes[0] == 0x0D;
        if (heldCr_) return 0;
    }
    for (int k = 0; k < n; ++k)
        if (int32_t s = Byte(f, bytes[k])) return s;
    return 0;
}

int32_t LineWriter::Finish(JobOutput* file) {
    if (!heldCr_) return 0;
    heldCr_ = false;
    return file ? Byte(file, 0x0D) : 0;
}

void LineWriter::ClearFormats() {
    std::memset(hformat, 0, sizeof hformat);
    if (!channelsFixed) std::memset(vformat, 0, sizeof vformat);
}

int32_t LineWriter::Put(const uint8_t* bytes, int n, int width, JobOutput* file) {
    if (toPort) {
        portBytes.insert(portBytes.end(), bytes, bytes + n);
        printed += n;
        return 0;
    }
    // Only a single byte can be a control; anything longer is one character.
    const uint8_t c = n == 1 && width == 1 ? bytes[0] : 'A';
    if (!started) {
        column = lines = 0;
        jobBytes = jobRecords = formFeeds = 0;
        lastByte = 0;
        heldCr_ = recordCounted = false;
        started = true;
        config::Trace("File started = TRUE WPUTC\n");
    }
    if (!recordCounted) {
        ++jobRecords;
        recordCounted = true;
    }
    if (c == 0x0D || c == 0x0A || c == 0x0C)
        column = 0;
    else if (c == 0x08) {
        if (column == 0) {
            config::Trace("BS ret\n");
            return 0;
        }
        --column;
    } else
        column += width;
    if (c == 0x0A) ++lines;
    bool printable = c != 0x0D && c != 0x0A && c != 0x0C && c != 0x08;
    if (c != 0x08) {
        if (linesPerPage != 0 && lines >= linesPerPage) {
            config::Trace("FORCE FF\n");
            if (int32_t s = Raw(file, 0x0C)) return s;
            column = lines = 0;
            if (!printable) return 0;
            column = width; // the character opens the new page
        }
        if (leftMargin > 0 && column == width && printable) {
            for (int32_t i = 0; i < leftMargin; ++i) {
                if (int32_t s = Raw(file, ' ')) return s;
                ++column;
            }
        }
        if (column > 132 || (lineSize != 0 && column > lineSize)) {
            config::Trace("FORCE CR LF %d\n", column);
            if (int32_t s = Raw(file, 0x0D)) return s;
            if (int32_t s = Raw(file, 0x0A)) return s;
            column = width;
            ++lines;
        }
        if (c == 0x0C) column = lines = 0;
    }
    if (!file) {
        config::Trace("error in write no file at all\n");
        return 75;
    }
    if (int32_t s = Raw(file, bytes, n)) return s;
    if (printAfterNLines != 0 && lines >= printAfterNLines) {
        config::Trace("FORCE PRINT AFTER %d LINES\n", lines);
        return kJobFull;
    }
    return 0;
}

} // namespace datastream
