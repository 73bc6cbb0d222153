// One record from the host: dispatched by its command, interpreted, flushed.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "config/messages.h"
#include "config/report.h"
#include "config/utilities.h"
#include "datastream/host_link.h"
#include "datastream/stream_impl.h"
#include "output/delivery.h"

namespace datastream {

namespace {
// The inbound record buffer holds the replies; it is sized for the largest
// screen, whatever the host later makes of the geometry.
constexpr size_t kBuildSize = (27 * 132 + 256) / 2;
} // namespace

DataStream::Impl::Impl(const config::Settings& s, config::Reporter& r, HostLink& h,
                       output::Delivery& d)
    : settings(s), reporter(r), host(h), delivery(d), text(s) {
    state.luType = s.luType == 1 ? 1 : 3;
    plain = kPlainBytes;
    // On a double-byte page SO and SI switch modes; elsewhere they are data.
    if (text.Dbcs()) plain[0x0E] = plain[0x0F] = false;
    state.dbcs = text.Dbcs();
    BuildRunTables();
    writer.toPort = s.medium == config::Medium::Port;
    writer.printAfterNLines = s.printAfterNLines;
    writer.linesPerPage = s.linesPerPage;
    writer.channelsFixed = s.channelsFixed;
    writer.lfOnly = s.lineEndLf;
    if (s.channelsFixed) std::memcpy(writer.vformat, s.channels.data(), sizeof writer.vformat);
    job.screenName = "screen." + std::to_string(getpid());
    build.assign(kBuildSize, 0);
    buffer.Reset(state.altRows, state.altCols);
}

int16_t DataStream::Impl::Dispatch(const uint8_t* d, int32_t len) {
    if (state.owner == OWNER_SYSOP) {
        config::Trace("OWNER_SYSOP inhibits printing\n");
        return 0;
    }
    if (host.ExtensionUnnegotiated()) state.owner = 2;
    if (len <= 0) return 0;
    int16_t s = 0;
    inProgress = true;
    writer.printed = 0;
    writer.recordCounted = false;
    printLimit = printBase + printPerByte * len;
    if (state.luType == 1) {
        buffer.currentAddress = static_cast<int16_t>(buffer.cursorAddress);
        // Structured fields of an LU1 record have no command byte in front of them.
        s = state.sfMode ? StructuredFields(d, len, 0) : Interpret(d, len);
    } else {
        switch (d[0]) {
        case 0x01:
        case 0xF1: // Write
            buffer.currentAddress = static_cast<int16_t>(buffer.cursorAddress);
            s = Interpret(d, len);
            break;
        case 0x02:
        case 0xF2:
            s = ReadBufferReply();
            break;
        case 0x05:
        case 0xF5: // Erase/Write
            buffer.Clear();
            s = Interpret(d, len);
            break;
        case 0x06:
        case 0xF6:
            s = ReadModifiedReply(0xF6);
            break;
        case 0x0D:
        case 0x7E: // Erase/Write Alternate
            s = Interpret(d, len);
            break;
        case 0x0F:
        case 0x6F: // Erase All Unprotected
            s = 0;
            break;
        case 0x11:
        case 0xF3: // Write Structured Field
            s = StructuredFields(d + 1, len - 1, d[0]);
            break;
        case 0x6E:
            s = ReadModifiedReply(0x6E);
            break;
        default:
            // Refused as a command this printer cannot carry out; the session goes on.
            errorAt = 0;
            s = config::MSG_LU_MISMATCH;
            break;
        }
    }
    inProgress = false;
    // Double-byte mode ends with the record.
    SingleByteAgain();
    return s;
}

namespace {
const char* ByteName(uint8_t b) {
    switch (b) {
    case 0x04:
        return "vertical channel select";
    case 0x11:
        return "SBA";
    case 0x12:
        return "EUA";
    case 0x1D:
        return "SF";
    case 0x28:
        return "SA";
    case 0x29:
        return "SFE";
    case 0x2B:
        return "format control";
    case 0x2C:
        return "MF";
    case 0x35:
        return "TRN";
    case 0x3C:
        return "RA";
    default:
        return nullptr;
    }
}
} // namespace

// One line per refused record, naming the byte at fault and where it is.
void DataStream::Impl::ReportRefused(std::span<const uint8_t> record, int16_t status) {
    int32_t at = errorAt;
    std::string what, why = "is cut short or has invalid parameters";
    if (status == config::MSG_LU_MISMATCH) {
        why = "is no command this printer carries out";
    } else if (at < 0) {
        // A structured field: the status counts from the first field, after the 3270 command.
        at = -status + (state.luType != 1 ? 1 : 0);
        why = "is in a structured field this printer does not carry out";
    }
    if (at < 0 || static_cast<size_t>(at) >= record.size())
        at = static_cast<int32_t>(record.size()) - 1;
    if (status != config::MSG_LU_MISMATCH && errorAt >= 0) {
        const char* name = ByteName(record[at]);
        what = std::string(" (") + (name ? name : "order") + ")";
    }
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02X", record[at]);
    reporter.StatusLine("A record from the host was refused: byte " + std::string(hex) + what +
                        " at offset " + std::to_string(at) + " " + why + ".");
}

int32_t DataStream::Impl::Flush() {
    if (!writer.portBytes.empty()) {
        config::Result r = delivery.PortWrite(writer.portBytes);
        writer.portBytes.clear();
        if (!r.ok()) {
            job.fault = std::move(r);
            return job.fault.code;
        }
    }
    if (job.file && !job.out.Flush()) {
        // A full or read-only spool volume shows here, not at the buffered writes.
        job.fault = config::SystemFailure(config::MSG_FPUTC, errno ? errno : EIO, job.name);
        return config::MSG_FPUTC;
    }
    return 0;
}

// A job file that cannot be written is kept on disk undelivered: 94.
int32_t DataStream::Impl::WriteBatch(bool spoolFailed) {
    const long records = std::exchange(batch, 0);
    int32_t r = Flush();
    const bool spool = spoolFailed || r == config::MSG_FPUTC;
    if (spool) r = config::MSG_FPUTC;
    // Records that asked for no response go with the write: that is said, never silent.
    if (r && records > 1) {
        if (job.fault.code != r) job.fault = r;
        job.fault.reason += (job.fault.reason.empty() ? "the last " : "; the last ") +
                            std::to_string(records) + " records received are not stored";
    }
    if (spool && !RollBackRecord()) KeepUnwrittenJob();
    return r;
}

int32_t DataStream::Impl::FinishRecord(bool spoolFailed, bool now) {
    // A job that ended in the record is written whole; the next one starts a batch of its own.
    const int32_t r = now || spoolFailed || jobSwitched ? WriteBatch(spoolFailed) : 0;
    // A job whose file could not be made has nothing on disk to end or deliver.
    if (job.openFailed && !job.file && !writer.toPort) writer.started = false;
    if (jobEnded) {
        jobEnded = false;
        buffer.Clear();
    }
    return r;
}

namespace {
// The file's or device's reason goes with the first record it failed.
config::Result WithFault(config::Result result, config::Result& fault) {
    if (!fault.ok() && fault.code == result.code) result = std::move(fault);
    fault = {};
    return result;
}
} // namespace

DataStream::DataStream(const config::Settings& settings, config::Reporter& reporter, HostLink& host,
                       output::Delivery& delivery)
    : impl_(std::make_unique<Impl>(settings, reporter, host, delivery)) {}

// A job still open stays on disk as it is; only the host ends jobs.
DataStream::~DataStream() {
    if (!impl_->job.IsStdout()) impl_->job.Close();
}

void DataStream::WriteJobsTo(JobSink& sink) {
    impl_->job.sink = &sink;
}

void DataStream::LimitRecordPrint(int64_t base, int64_t perByte) {
    impl_->printBase = base;
    impl_->printPerByte = perByte;
}

PrintState& DataStream::State() {
    return impl_->state;
}

const PrintState& DataStream::State() const {
    return impl_->state;
}

void DataStream::StartConnection() {
    impl_->buffer.Reset(impl_->state.altRows, impl_->state.altCols);
    impl_->build.assign(kBuildSize, 0);
    impl_->writer.ClearFormats();
}

config::Result DataStream::ProcessRecord(std::span<const uint8_t> record, Flush flush) {
    if (record.empty()) return {};
    impl_->errorAt = -1;
    impl_->jobSwitched = false;
    if (impl_->batch++ == 0) impl_->MarkRecord();
    // Records longer than 32767 bytes are legal on the wire: the length is wide.
    int16_t s = impl_->Dispatch(record.data(), static_cast<int32_t>(record.size()));
    if (s == kPrintBound) {
        // The job so far stays; the record's rest would only be more of the same.
        impl_->reporter.StatusLine("A record of " + std::to_string(record.size()) +
                                   " bytes from the host printed more than " +
                                   std::to_string(impl_->printLimit) +
                                   " bytes; the rest of it is dropped.");
        s = 0;
    }
    if (s < 0 || s == config::MSG_LU_MISMATCH) impl_->ReportRefused(record, s);
    if (s == config::MSG_NO_OUTPUT_MEDIUM && impl_->job.openFailed) s = config::MSG_FPUTC;
    const int32_t f = impl_->FinishRecord(s == config::MSG_FPUTC, flush == Flush::Now);
    return WithFault(s ? s : f, impl_->job.fault);
}

config::Result DataStream::FlushPending() {
    if (impl_->batch == 0) return {};
    return WithFault(impl_->WriteBatch(false), impl_->job.fault);
}

bool DataStream::JobOpen() const {
    return impl_->writer.started;
}

void DataStream::EndJob() {
    impl_->EndJob();
}

void DataStream::ClearPrintBuffer() {
    impl_->buffer.Clear();
}

void DataStream::Bracket(uint8_t a) {
    Impl& m = *impl_;
    int32_t& bracket = m.state.bracket;
    config::Trace("++BRACKET with sp->sbbuf[2] = %x state = %d\n", a, bracket);
    if (bracket >= 0 && bracket <= 2)
        config::Trace("case %d with sp->fileStarted %d\n", bracket, m.writer.started ? 1 : 0);
    auto endJob = [&](const char* where, bool trouble) {
        if (m.inProgress) {
            config::Trace(trouble ? "NO print in progress, trouble\n" : "NO print in progress\n");
            return;
        }
        if (m.writer.started) {
            m.EndJob();
            bracket = 0;
            config::Trace("PrScreenRemote(sp) called from %s\n", where);
        }
    };
    switch (bracket) {
    case 0:
        if (a == 0x01)
            bracket = 1;
        else {
            endJob("case:0", false);
            bracket = 2;
        }
        break;
    case 1:
        if (a == 0x01)
            endJob("case:1", false);
        else {
            bracket = 2;
            endJob("case:1 with bracket = 2", false);
        }
        break;
    case 2:
        if (a == 0x01) {
            endJob("case:2", true);
            bracket = 1;
        }
        break;
    default:
        config::Trace("--BRACKET with case incorrect sp->sbbuf[2] = %x state = %d\n", a, bracket);
        break;
    }
}

} // namespace datastream
