// Job files: naming, opening and the end of a job.
#include "datastream/job_file.h"

#include <strings.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <set>
#include <utility>

#include "config/messages.h"
#include "config/report.h"
#include "config/settings.h"
#include "config/utilities.h"
#include "datastream/job_sink.h"
#include "datastream/stream_impl.h"
#include "output/delivery.h"
#include "output/media.h"
#include "platform/sysinfo.h"

namespace datastream {

namespace {
// "PRT01 job 12" for the job file PREFIX12.txt of LU PRT01; the file's own name when it
// carries no number.
std::string JobTitle(const std::string& lu, const std::string& path) {
    size_t end = path.size() >= 4 && path.compare(path.size() - 4, 4, ".txt") == 0 ? path.size() - 4
                                                                                   : path.size();
    size_t begin = end;
    while (begin > 0 && path[begin - 1] >= '0' && path[begin - 1] <= '9')
        --begin;
    const std::string job = begin < end ? "job " + path.substr(begin, end - begin)
                                        : "job " + path.substr(path.find_last_of('/') + 1);
    return lu.empty() ? job : lu + " " + job;
}

bool IsNulName(const std::string& name) {
    return strcasecmp(name.c_str(), "NUL") == 0;
}
} // namespace

bool JobFile::IsStdout() const {
    return name.rfind("stdout", 0) == 0;
}

bool JobFile::IsNulPrefix(const std::string& prefix) {
    return IsNulName(prefix);
}

bool JobFile::IsNul() const {
    return IsNulName(name);
}

bool JobFile::Close() {
    if (!file) return true;
    const bool flushed = out.Flush();
    out.Attach(nullptr, 0);
    FILE* f = std::exchange(file, nullptr);
    if (!sink) return std::fclose(f) == 0 && flushed;
    sink->EndJob(f);
    return flushed;
}

FILE* JobFile::OpenStream(const char* path, const char* mode) {
    FILE* f = std::fopen(path, mode);
    // The job's bytes are buffered in out alone: a flush is one write of the
    // whole buffer, not a copy into stdio's first.
    if (f) std::setvbuf(f, nullptr, _IONBF, 0);
    return f;
}

void JobFile::Open(const config::Settings& settings) {
    if (file) {
        config::Trace("prfile not null\n");
        return;
    }
    if (firstName.empty() && !screenName.empty()) {
        firstName = screenName;
        config::Trace("gFileName = %s\n", firstName.c_str());
    }
    if (sink) {
        name = "memory";
        file = sink->OpenJob();
        openFailed = !file;
        out.Attach(file, 0, JobOutput::kSmallCapacity);
        if (openFailed) fault = {config::MSG_FPUTC, "The job's stream could not be had."};
        return;
    }
    const std::string& prefix = settings.fileName;
    int32_t reused = -1;
    const bool stdOut = settings.standardOutput;
    if (!prefix.empty() && prefix[0] == '0' && !stdOut) {
        name = firstName;
        config::Trace("Print to Standout using temp %s\n", name.c_str());
    } else if (settings.fixedFile) {
        name = prefix;
        config::Trace("fixed file being used !!!\n");
    } else {
        if (stdOut) {
            name = "stdout";
        } else if (IsNulName(prefix)) {
            name = "NUL";
        } else {
            reused = counter;
            // A kept job keeps its number until it is delivered: a new job never takes it.
            std::set<std::string> kept;
            for (const output::KeptJob& k :
                 output::KeptJobs(output::FailedFolder(prefix + "0.txt")))
                kept.insert(k.originalName);
            for (;;) {
                int32_t n = counter++;
                std::string cand = prefix + std::to_string(n) + ".txt";
                std::string copy = prefix + std::to_string(n) + "f.txt";
                if (!platform::FileExists(cand) && !platform::FileExists(copy) &&
                    !kept.count(output::BaseName(cand))) {
                    name = cand;
                    break;
                }
            }
        }
        config::Trace("variable file or standout being used %s!!!\n", name.c_str());
    }
    if (stdOut) {
        file = stdout;
        out.Attach(file, 0, JobOutput::kSmallCapacity);
        return;
    }
    const std::string path = IsNul() ? "/dev/null" : name;
    file = OpenStream(path.c_str(), "wb");
    if (!file) {
        // Named with its folder and the system's reason; the number is free for the next try.
        const int err = errno;
        config::Trace("PRFILE DID NOT OPEN\n");
        if (reused >= 0) counter = reused;
        const size_t slash = path.rfind('/');
        const std::string folder =
            slash == std::string::npos ? "." : path.substr(0, slash + !slash);
        fault = {config::MSG_FPUTC,
                 "The job file " + path + " cannot be made in the folder " + folder + ": " +
                     config::FormatSystemError(nullptr, err) + ".",
                 path};
        openFailed = true;
        return;
    }
    openFailed = false;
    out.Attach(file, 0);
    // Held while the job is written, so that a start finding it in the spool
    // knows it is no left-over; a killed process loses the lock with it.
    ::flock(fileno(file), LOCK_EX | LOCK_NB);
}

// Closes the job file; a job with data is delivered, one that could not be
// written completely is kept on disk instead. The host's format tables go.
void DataStream::Impl::EndJob() {
    // The next job starts in single-byte mode, whatever this one ended in.
    SingleByteAgain();
    text.NewJob();
    batch = 0;
    jobSwitched = true;
    bool written = writer.Finish(job.file ? &job.out : nullptr) == 0;
    written = Flush() == 0 && written;
    if (!job.IsStdout()) {
        if (job.file) {
            config::Trace("We are closing prfile\n");
            if (!job.Close() && written) {
                job.fault = config::SystemFailure(config::MSG_FPUTC, errno ? errno : EIO, job.name);
                written = false;
            }
        }
    }
    output::JobHints jobHints = std::move(hints);
    hints = output::JobHints{};
    if (!written) {
        KeepUnwrittenJob();
        writer.ClearFormats();
        return;
    }
    jobHints.maxPrintPosition = writer.lineSize;
    jobHints.pageLength = writer.linesPerPage;
    // A queued job's file is the delivery thread's to remove.
    bool queued = false;
    if (writer.started) {
        config::JobReport received;
        received.received = true;
        received.lu = state.luName;
        received.name = job.name;
        received.bytes = writer.jobBytes;
        received.records = writer.jobRecords;
        received.pages = writer.Pages();
        reporter.JobReported(received);
        jobHints.title = JobTitle(state.luName, job.name);
        jobHints.lu = state.luName;
        jobHints.pages = received.pages;
        jobHints.received = static_cast<long long>(::time(nullptr));
        if (!job.sink) queued = delivery.DeliverLater(job.name, job.name, jobHints);
    }
    writer.column = 0;
    writer.started = false;
    config::Trace("File started = FALSE PrScreenRemote\n");
    state.bracket = 0;
    if (!queued && !job.sink && !job.IsStdout() && !job.name.empty() && !job.IsNul())
        ::unlink(job.name.c_str());
    writer.ClearFormats();
}

// Closes the job file without delivering it, leaves it on disk and names it.
void DataStream::Impl::KeepUnwrittenJob() {
    if (!job.IsStdout()) job.Close();
    if (writer.started && !job.IsStdout() && !job.IsNul())
        reporter.StatusLine("Print file " + job.name + " could not be written completely (" +
                            job.fault.reason + "); it is kept and was not printed.");
    writer.column = 0;
    writer.started = false;
    state.bracket = 0;
}

void DataStream::Impl::MarkRecord() {
    markAt = -1;
    if (writer.toPort || job.IsStdout() || job.sink) return;
    markWriter = writer;
    if (!job.file) {
        markName.clear();
        markAt = 0;
        return;
    }
    markName = job.name;
    markAt = job.IsNul() ? -1 : static_cast<long>(job.out.Position());
}

// The refused record's bytes cut off the job file (those not written yet are
// dropped); the job stays open there as it was before the record.
// False when that cannot be done (the job is then kept as it is).
bool DataStream::Impl::RollBackRecord() {
    if (markAt < 0 || !job.file || job.IsStdout() || job.IsNul()) return false;
    if (!markName.empty() && markName != job.name) return false; // a job ended in the record
    const int err = errno;
    job.out.Attach(nullptr, 0);
    std::fclose(job.file);
    job.file = JobFile::OpenStream(job.name.c_str(), "r+b");
    if (!job.file || ::ftruncate(fileno(job.file), markAt) != 0 ||
        std::fseek(job.file, markAt, SEEK_SET) != 0) {
        if (job.file) std::fclose(job.file);
        job.file = nullptr;
        errno = err;
        return false;
    }
    job.out.Attach(job.file, markAt);
    ::flock(fileno(job.file), LOCK_EX | LOCK_NB);
    writer = markWriter;
    auto& t = hints.transparent;
    t.erase(std::remove_if(t.begin(), t.end(), [&](const auto& r) { return r.first >= markAt; }),
            t.end());
    for (auto& r : t)
        r.second = std::min(r.second, markAt);
    return true;
}

config::Result DataStream::ProbeSpool() {
    const std::string& prefix = impl_->settings.fileName;
    if (impl_->job.sink || prefix.empty() || prefix.rfind("stdout", 0) == 0 ||
        JobFile::IsNulPrefix(prefix))
        return {};
    const std::string path = prefix + ".probe";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return config::SystemFailure(config::MSG_FPUTC, errno, path);
    // A full volume or a size limit takes an empty file but not a block of data.
    static const char block[4096] = {};
    errno = 0;
    bool ok = std::fwrite(block, 1, sizeof block, f) == sizeof block && std::fflush(f) == 0;
    int err = errno ? errno : EIO;
    std::fclose(f);
    ::unlink(path.c_str());
    if (ok) return {};
    return config::SystemFailure(config::MSG_FPUTC, err, path);
}

} // namespace datastream
