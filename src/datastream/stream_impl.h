// The inside of one DataStream, shared by the files that implement it:
// record dispatch, the interpreter, job ends, read replies, structured fields.
#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "config/settings.h"
#include "datastream/byte_blocks.h"
#include "datastream/data_stream.h"
#include "datastream/job_file.h"
#include "datastream/job_text.h"
#include "datastream/line_writer.h"
#include "datastream/print_buffer.h"
#include "output/job_hints.h"

namespace output {
class Delivery;
}
namespace config {
class Reporter;
}

namespace datastream {

class HostLink;

// What one record may print: enough for any screen and for vertical skips on
// every byte, but finite whatever the margins and repeats ask for.
inline constexpr int64_t kPrintBase = 64 * 1024, kPrintPerByte = 64;
// The record reached that: the rest of it is dropped (not a message number).
inline constexpr int16_t kPrintBound = 1000;

// Bytes that are neither an order nor an SCS control.
inline constexpr auto kPlainBytes = [] {
    std::array<bool, 256> t{};
    t.fill(true);
    for (uint8_t b : {0x04, 0x05, 0x0B, 0x0C, 0x0D, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x19,
                      0x1D, 0x1E, 0x24, 0x25, 0x28, 0x29, 0x2B, 0x2C, 0x2F, 0x35, 0x3C})
        t[b] = false;
    return t;
}();

// A byte's part in a bulk run: its print file bytes, or where the run stops.
struct RunByte {
    uint8_t bytes[6];
    uint8_t len;
    uint8_t kind; // kRunData, kRunLineEnd or kRunStop
};
static_assert(sizeof(RunByte) == 8, "a run copies a RunByte whole");
inline constexpr uint8_t kRunData = 0, kRunLineEnd = 1, kRunStop = 2;

struct DataStream::Impl {
    Impl(const config::Settings& s, config::Reporter& r, HostLink& h, output::Delivery& d);

    // The session's own copy, which outlives its data stream.
    const config::Settings& settings;
    config::Reporter& reporter;
    HostLink& host;
    output::Delivery& delivery;
    JobText text;                  // host bytes to print file bytes
    std::array<bool, 256> plain{}; // bytes a plain run may take
    // The data stream's bytes (data characters of one column, NL and IRS) and
    // the same bytes as repeated data (every one-column glyph, no line ends).
    std::array<RunByte, 256> runBytes{}, repeatBytes{};
    ByteBlocks runBlocks, repeatBlocks; // the same tables' one-byte data characters
    bool singleByteRuns = true;         // every data character of a run is one file byte
    bool doubleByte = false;            // between SO and SI on a DBCS page
    int pendingByte = -1;               // the first byte of a double-byte character

    PrintState state;
    PrintBuffer buffer;
    LineWriter writer;
    JobFile job;
    output::JobHints hints;     // transparent byte ranges of the job file so far
    bool inProgress = false;    // a record is being interpreted
    bool jobEnded = false;      // the record ended its bracket's job
    std::vector<uint8_t> build; // inbound record being assembled
    size_t prefix = 0;          // bytes put in front of the next query reply
    int64_t printLimit = 0;     // bytes the record in hand may print
    int64_t printBase = kPrintBase, printPerByte = kPrintPerByte;
    int32_t errorAt = -1; // offset in the record of the byte a data-stream error names
    // Where the record in hand began: a record the spool refuses is taken out
    // again, so the job goes on in the same file once the spool takes data.
    // The mark is taken at the first record of a batch written as one.
    long markAt = -1;
    std::string markName; // the job file then ("" none was open)
    LineWriter markWriter;
    long batch = 0;           // records since the last write (the mark's)
    bool jobSwitched = false; // a job ended in the record in hand

    // record_dispatch.cpp
    int16_t Dispatch(const uint8_t* data, int32_t length);
    int32_t Flush();
    int32_t FinishRecord(bool spoolFailed, bool now);
    // The batch written; on failure cut off again (or the job kept): 0 or the fault's code.
    int32_t WriteBatch(bool spoolFailed);
    void ReportRefused(std::span<const uint8_t> record, int16_t status);

    // interpreter.cpp: SCS controls and 3270 orders of one Write.
    int16_t Interpret(const uint8_t* data, int32_t length);
    int32_t Put(uint8_t c);
    int32_t PutChar(const uint8_t* bytes, int n, int width);
    int32_t CrLf();
    int32_t Pad(int32_t n);
    int32_t DataChar(uint8_t b, bool translate);
    int32_t DoubleChar(uint8_t b1, uint8_t b2);
    int32_t ShiftByte(uint8_t b);
    int32_t OddByte();
    void SingleByteAgain();
    // plain_run.cpp: the bulk paths.
    void BuildRunTables();
    // The line length in force: the host's, never past the hard limit.
    int32_t LineLimit() const;
    // Columns the line writer can take as plain one-column bytes written past
    // it: the job has started, the page and the job have lines to spare, the
    // line has room and no margin falls due (0: the next byte needs the writer).
    int32_t RunRoom() const;
    // Bytes taken from d[i, length) as one block while table allows them (the
    // data stream's by default): 0 when the first needs the writer, -94 when
    // the file refused the block.
    int32_t PlainRun(const uint8_t* d, int32_t i, int32_t length, const RunByte* table = nullptr);
    int32_t DoubleRun(const uint8_t* d, int32_t i, int32_t length);
    int32_t RepeatTo(uint8_t c, int16_t address);
    void EndJobMidRecord();

    // job_file.cpp
    void EndJob();
    void KeepUnwrittenJob();
    void MarkRecord();
    bool RollBackRecord();

    // read_replies.cpp
    int16_t ReadBufferReply();
    int16_t ReadModifiedReply(uint8_t which);

    // structured_fields.cpp
    int16_t StructuredFields(const uint8_t* fields, int32_t length, uint8_t command);
    int ReadPartition(const uint8_t* field, int32_t length);
    int QueryReply();
    int QueryListReply(const uint8_t* field, int32_t length);
    int SendBuilt(size_t n);
};

} // namespace datastream
