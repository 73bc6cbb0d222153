// The line and page writer: every output byte of a job goes through Put,
// which keeps the column and line count, breaks long lines, forces form feeds
// at the page length and brings the left margin in front of each line.
#pragma once
#include <cstdint>
#include <vector>

namespace datastream {

class JobOutput;

struct LineWriter {
    bool toPort = false;        // bytes collect for the port instead of the file
    long printAfterNLines = 0;  // a job is delivered after this many lines; 0 never
    bool channelsFixed = false; // the vertical channels are the settings', not the host's
    bool lfOnly = false;        // LINEEND=lf: a CR right before an LF is left out

    bool started = false; // the job file has data
    int32_t column = 0;   // characters in the current line
    int32_t lines = 0;    // lines in the current page
    int32_t lineSize = 0; // line length in force, 0 the hard limit only
    int32_t leftMargin = 0;
    int32_t linesPerPage = 0;       // 0: no forced form feeds
    uint8_t vformat[137] = {};      // vertical format: max, top, bottom, channel lines
    uint8_t hformat[137] = {};      // horizontal format: max, left, right, tab stops
    std::vector<uint8_t> portBytes; // port output of the current record
    int64_t printed = 0;            // bytes the current record has put out, held CRs too
    // The job so far, for its line: bytes in the file, records that wrote, form feeds.
    int64_t jobBytes = 0;
    long jobRecords = 0, formFeeds = 0;
    bool recordCounted = false; // the current record is in jobRecords
    uint8_t lastByte = 0;

    // Put returned this: c is written and the job has its lines; deliver it.
    static constexpr int32_t kJobFull = -1;
    // 0, 75 (no file), 94 (the file refused the byte) or kJobFull.
    int32_t Put(uint8_t c, JobOutput* file) { return Put(&c, 1, 1, file); }
    // One character of n bytes (n > 1 or width 2: never a control) taking width
    // columns; it moves to the next line whole when the line has no room for it.
    int32_t Put(const uint8_t* bytes, int n, int width, JobOutput* file);
    // The host's format tables are forgotten at the end of a job.
    void ClearFormats();
    // Writes what is held back (a CR with LINEEND=lf) at the end of the job.
    int32_t Finish(JobOutput* file);
    // n characters written past Put (the plain-text fast path).
    void Wrote(int32_t n) {
        if (n <= 0) return;
        jobBytes += n;
        lastByte = ' ';
        if (!recordCounted) ++jobRecords;
        recordCounted = true;
    }
    // A CR held back for LINEEND=lf: the fast path must not write past it.
    bool HoldsCr() const { return heldCr_; }
    // Pages of the job: one more than its form feeds unless it ends with one.
    long Pages() const { return jobBytes == 0 ? 0 : formFeeds + (lastByte != 0x0C ? 1 : 0); }

  private:
    int32_t Raw(JobOutput* f, uint8_t c);
    int32_t Raw(JobOutput* f, const uint8_t* bytes, int n);
    int32_t Byte(JobOutput* f, uint8_t c);
    bool heldCr_ = false;
};

} // namespace datastream
