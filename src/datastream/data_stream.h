// One LU's print data stream: records from the host in, job files out.
// Owns the print buffer, the line and page writer and the open job file; one
// per session, nothing shared between sessions.
#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "config/settings.h"

namespace output {
class Delivery;
}
namespace config {
class Reporter;
}

namespace datastream {

class HostLink;
class JobSink;

inline constexpr int32_t OWNER_SYSOP = 1;

// Print state that the protocol layer reads and sets (TN3270E header, BIND,
// the extension option's commands).
struct PrintState {
    int luType = 3;      // LU type in force: the settings', then the host's
    int32_t owner = 0;   // OWNER_SYSOP inhibits printing
    int32_t bracket = 0; // 0 none, 1 begun, 2 ended
    bool sfMode = false; // LU1 records carry structured fields
    bool extendedTypes = false;
    // Screen and table geometry (the extension option can change them).
    int16_t rows = 24, cols = 80;
    int16_t altRows = 27, altCols = 132;
    int16_t tblRows = 27, tblCols = 132;
    std::string luName;       // the LU the server granted (job lines name it)
    int32_t maxRecord = 2048; // largest inbound record the host may be sent
    bool dbcs = false;        // double-byte code page: the query reply says so
};

class DataStream {
  public:
    // settings, reporter, host and delivery must outlive it (one LU: the session owns them all).
    DataStream(const config::Settings& settings, config::Reporter& reporter, HostLink& host,
               output::Delivery& delivery);
    // A job file still open is closed and left on disk as it is.
    ~DataStream();
    DataStream(const DataStream&) = delete;
    DataStream& operator=(const DataStream&) = delete;

    // From now on jobs are written to sink (which must outlive the stream)
    // instead of job files; they are reported but not delivered.
    void WriteJobsTo(JobSink& sink);

    // What one record may print: base bytes plus perByte for each of its
    // bytes. The default bounds a runaway record at a few MB; fuzzing sets
    // less, so that an input costs milliseconds.
    void LimitRecordPrint(int64_t base, int64_t perByte);

    PrintState& State();
    const PrintState& State() const;

    // At start: job files an earlier run left in the spool in the middle of a
    // job are reported and delivered as incomplete jobs.
    void DeliverLeftoverJobs();
    // At each new connection: print buffer sized from the state's alternate
    // geometry, format tables cleared.
    void StartConnection();

    // When a record's bytes go to the job file or device: at once (a response
    // depends on them), or later, with the next record written at once, the
    // next FlushPending or the end of the job, as one write for all of them.
    enum class Flush { Now, Later };

    // One data record, whole: interpreted, written as flush says. 0; a
    // negative value is a data-stream error at that offset, 63 a command this
    // printer does not carry out (both said in a status line naming the byte;
    // only that record is refused); another positive one a message number
    // (94: the job file could not be written; it is kept and named), with the
    // file's or device's reason. A write that fails refuses every record it
    // held: they are cut off the job file again, and the reason says how many.
    config::Result ProcessRecord(std::span<const uint8_t> record, Flush flush = Flush::Now);
    // Writes what the records taken with Flush::Later hold: ok (also when
    // there was nothing), else as ProcessRecord's failed write.
    config::Result FlushPending();

    // Whether a job file can be written in the spool now (a block written to a
    // scratch file there and removed): ok, or MSG_FPUTC with the reason.
    config::Result ProbeSpool();

    // True while a job file has data (a job is open).
    bool JobOpen() const;
    // Ends the job: closes the job file, delivers it when it has data, removes
    // it, forgets the host's format tables, bracket 0 (PRINT-EOJ, UNBIND, BIND,
    // end of bracket, connection lost; callers check JobOpen first, as before).
    void EndJob();
    // The bracket control of the extension option (0x2A with its argument).
    void Bracket(uint8_t argument);
    // Clears the print buffer (owner change, 3270 mode change).
    void ClearPrintBuffer();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace datastream
