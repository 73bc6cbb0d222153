// A finished job routed to the medium of the settings; failed jobs kept and
// delivered again once a job goes through.
#include "output/delivery.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "config/messages.h"
#include "config/report.h"
#include "config/utilities.h"
#include "output/media.h"
#include "output/pdf_render.h"
#include "output/port_channel.h"

namespace output {

bool IsNul(const std::string& path) {
    if (path == "/dev/null") return true;
    if (path.size() != 3) return false;
    return (path[0] | 0x20) == 'n' && (path[1] | 0x20) == 'u' && (path[2] | 0x20) == 'l';
}

std::string BaseName(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string DirName(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool ReadFileBytes(const std::string& path, std::string& out) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    char chunk[65536];
    size_t n;
    out.clear();
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        out.append(chunk, n);
    bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

void DebugNote(const char* text) {
    config::Trace("%s", text);
    if (config::gDebug) config::DebugPrint(text);
}

namespace {

// Passes every report on and keeps the last status line: a failed delivery's reason.
// While holding, status lines are kept back: they become the job's own line.
class Tracking : public config::ForwardingReporter {
  public:
    explicit Tracking(config::Reporter& to) : config::ForwardingReporter(to) {}
    void StatusLine(const std::string& text) override {
        last = text;
        if (holding)
            held.push_back(text);
        else
            to_.StatusLine(text);
    }
    // Ends holding; the lines held are passed on when pass is true.
    void Release(bool pass) {
        holding = false;
        if (pass)
            for (const std::string& line : held)
                to_.StatusLine(line);
        held.clear();
    }
    std::string last;
    bool holding = false;
    std::vector<std::string> held;
};

} // namespace

struct Delivery::Impl {
    Impl(const config::Settings& s, config::Reporter& r, std::function<void(bool)> j)
        : medium(s.medium), printer(s.printer), headings(s.headings), socketPort(s.socketPort),
          socketTimeoutMs(s.socketTimeoutMs), pdf(s.fileFormat == "pdf"), keepFailed(s.keepFailed),
          fileName(s.fileName), tracked(r), reporter(tracked), onJob(std::move(j)),
          port(s.portName), portName(s.portName),
          worker(s.deliveryThread && s.medium != config::Medium::Port && !s.fixedFile &&
                 !s.standardOutput),
          standardOutput(s.standardOutput), retryMs(std::clamp(s.retryDelayMs, 1000L, 60000L)) {
        page.classic = s.classicLayout;
        page.paper = s.paper;
        page.choices = PageChoices{s.orientation, s.cpi, s.lpi, s.greenbar};
        page.jobOptions = s.jobOptions;
        if (s.translate && !s.codePage.name.empty()) charset = s.outputCharset;
        command = s.printerCmds.empty() ? "lpr" : s.printerCmds;
        if (!s.printerOptions.empty()) command += " " + s.printerOptions;
    }

    // copyOf: the job file whose copy name a file copy takes (a kept job's original).
    int DeliverJob(const std::string& path, const std::string& heading, const JobHints& hints = {},
                   const std::string& copyOf = "");
    void NoteJob(bool delivered) {
        if (onJob) onJob(delivered);
    }
    // Where a job at path goes on this medium, as its line says.
    std::string Where(const std::string& path) const {
        if (IsNul(path)) return "nowhere (NUL)";
        switch (medium) {
        case config::Medium::Port:
            return "port " + portName;
        case config::Medium::Socket:
            return "network printer " + socketPort;
        case config::Medium::Command:
            return "command \"" + command + "\"";
        case config::Medium::File:
            return "file " + CopyName(path, pdf);
        case config::Medium::Printer:
            break;
        }
        return cupsWhere;
    }

    const config::Medium medium;
    const std::string printer;
    const bool headings;
    const std::string socketPort;
    const long socketTimeoutMs;
    const bool pdf;
    const bool keepFailed;
    const std::string fileName;
    std::string command;
    PageSettings page;
    std::string charset; // of every job file, kept ones included
    Tracking tracked;
    config::Reporter& reporter;
    const std::function<void(bool)> onJob;
    PortChannel port;
    const std::string portName;
    std::string cupsWhere; // the CUPS destination and job of the last printer delivery
    std::string failedDir; // folder of the last job delivered
    bool redelivering = false;
    std::function<void(const DeliveredJob&)> delivered;
    std::string copyTo; // a reprint's file
    std::string drawn;  // the PDF of the job being delivered, kept only for the hook
    void Record(const std::string& path, const JobHints& hints, const config::JobReport& job) {
        if (!delivered) return;
        DeliveredJob done{job.kept.empty() ? path : job.kept, hints, job, std::move(drawn)};
        drawn.clear();
        delivered(done);
    }
    int stopFd = -1;

    // The delivery thread and its queue (worker true).
    struct Queued {
        std::string path, heading; // a kept job asked for: its path and original name
        JobHints hints;
        int kept = 0; // a kept job asked for: 1 deliver again, 2 remove
    };
    void Work();
    void AskedKeptJob(const Queued& job);
    Delivery* owner = nullptr;
    const bool worker;
    const bool standardOutput; // -S: jobs were written to standard output as they came
    const long retryMs;
    std::mutex mutex;
    std::condition_variable wake, idle;
    std::deque<Queued> queue;
    bool busy = false, quit = false;
    std::thread thread;
};

// Queued jobs in order; while kept jobs wait for their printer they are tried
// again every retry delay, so they go out when it comes back.
void Delivery::Impl::Work() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        const bool kept = keepFailed && !failedDir.empty() && !KeptJobs(failedDir).empty();
        if (queue.empty() && !quit && kept) {
            wake.wait_for(lock, std::chrono::milliseconds(retryMs));
        } else {
            wake.wait(lock, [&] { return quit || !queue.empty(); });
        }
        if (queue.empty()) {
            if (quit) return;
            if (!kept) continue;
            busy = true;
            lock.unlock();
            owner->RedeliverFailedJobs();
            lock.lock();
            busy = false;
            idle.notify_all();
            continue;
        }
        Queued job = std::move(queue.front());
        queue.pop_front();
        busy = true;
        lock.unlock();
        if (job.kept) {
            AskedKeptJob(job);
        } else {
            owner->Deliver(job.path, job.heading, job.hints);
            // Delivered, kept in the failed folder or (KEEPFAILED=0) given up, as on the
            // session's thread.
            ::unlink(job.path.c_str());
        }
        lock.lock();
        busy = false;
        if (queue.empty()) idle.notify_all();
    }
}

// A kept job someone asked for, between the other jobs of the queue so that
// none of them is delivered twice or removed while it goes out.
void Delivery::Impl::AskedKeptJob(const Queued& job) {
    struct stat st {};
    if (::stat(job.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        reporter.StatusLine("The kept job " + job.path + " is no longer there.");
        return;
    }
    if (job.kept == 2) {
        if (::unlink(job.path.c_str()) == 0)
            reporter.StatusLine("The kept job " + job.path + " was removed on request.");
        else
            reporter.StatusLine("The kept job " + job.path + " cannot be removed: " +
                                config::FormatSystemError(job.path.c_str(), errno));
        return;
    }
    const std::string& original = job.heading;
    tracked.last.clear();
    tracked.holding = true;
    const int rc =
        DeliverJob(job.path, HeadingFor(original), {}, DirName(DirName(job.path)) + "/" + original);
    tracked.Release(false);
    if (rc == 1) {
        ::unlink(job.path.c_str());
        NoteJob(true);
        reporter.StatusLine("The kept job " + job.path + " was delivered on request.");
    } else {
        const std::string why = tracked.last.empty() ? "the medium refused it" : tracked.last;
        reporter.StatusLine("The kept job " + job.path + " could not be delivered again (" + why +
                            "); it stays kept.");
    }
}

// One delivery attempt on the medium in force; 1 on success.
int Delivery::Impl::DeliverJob(const std::string& path, const std::string& heading,
                               const JobHints& jobHints, const std::string& copyOf) {
    JobHints hints = jobHints;
    hints.charset = charset;
    switch (medium) {
    case config::Medium::Port: {
        std::string bytes;
        if (!ReadFileBytes(path, bytes)) return 0;
        const config::Result rc =
            port.Write(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
        if (!rc.ok()) reporter.StatusLine(rc.Text());
        return rc.ok();
    }
    case config::Medium::Socket: {
        if (IsNul(path)) return 1;
        std::string bytes;
        if (!ReadFileBytes(path, bytes)) {
            reporter.StatusLine(config::Result(config::MSG_SOCKET_WRITE,
                                               config::FormatSystemError(path.c_str(), errno))
                                    .Text());
            return 0;
        }
        const config::Result rc = SendToSocket(socketPort, socketTimeoutMs, bytes, stopFd);
        if (rc.code == kAbandoned) return kAbandoned;
        if (!rc.ok()) reporter.StatusLine(rc.Text());
        return rc.ok();
    }
    case config::Medium::Command: {
        if (IsNul(path)) return 1;
        std::string detail;
        int rc = RunCommand(command, path, detail, stopFd);
        if (rc == kAbandoned) return kAbandoned;
        if (!rc) {
            reporter.StatusLine("Print command failed for " + BaseName(path) + ": " + detail);
            return 0;
        }
        return 1;
    }
    case config::Medium::File:
        if (IsNul(path)) return 1;
        {
            const std::string out = !copyTo.empty()  ? copyTo
                                    : copyOf.empty() ? ""
                                                     : CopyName(copyOf, pdf);
            if (pdf)
                return WritePdfCopy(path, heading, headings, page, hints, reporter, out,
                                    delivered ? &drawn : nullptr);
            return CopyToOutputFile(path, reporter, out);
        }
    case config::Medium::Printer:
        break;
    }
    return PrintOnPrinter(printer, headings, page, hints, path, heading, reporter, cupsWhere,
                          stopFd, delivered ? &drawn : nullptr);
}

Delivery::Delivery(const config::Settings& settings, config::Reporter& reporter,
                   std::function<void(bool)> onJob)
    : impl_(std::make_unique<Impl>(settings, reporter, std::move(onJob))) {
    impl_->owner = this;
}

Delivery::~Delivery() {
    Impl& d = *impl_;
    if (!d.thread.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(d.mutex);
        d.quit = true;
    }
    d.wake.notify_all();
    d.thread.join();
}

bool Delivery::DeliverLater(const std::string& path, const std::string& heading,
                            const JobHints& hints) {
    Impl& d = *impl_;
    if (!d.worker || IsNul(path)) {
        Deliver(path, heading, hints);
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(d.mutex);
        d.queue.push_back({path, heading, hints});
        if (!d.thread.joinable()) d.thread = std::thread([&d] { d.Work(); });
    }
    d.wake.notify_all();
    return true;
}

std::string Delivery::KeptJobRequest(const std::string& name, bool deliver) {
    Impl& d = *impl_;
    if (!d.worker) return "this LU delivers on its session's thread";
    const std::string dir =
        FailedFolder(d.fileName.find('/') == std::string::npos ? "./x" : d.fileName);
    Impl::Queued q;
    // Only a name the folder lists is taken: nothing asked for reaches the file system.
    for (const KeptJob& job : KeptJobs(dir))
        if (BaseName(job.path) == name) {
            q.path = job.path;
            q.heading = job.originalName;
        }
    if (q.path.empty()) return "no kept job " + name;
    q.kept = deliver ? 1 : 2;
    {
        std::lock_guard<std::mutex> lock(d.mutex);
        d.queue.push_back(std::move(q));
        if (!d.thread.joinable()) d.thread = std::thread([&d] { d.Work(); });
    }
    d.wake.notify_all();
    return "";
}

void Delivery::Drain() {
    Impl& d = *impl_;
    std::unique_lock<std::mutex> lock(d.mutex);
    d.idle.wait(lock, [&] { return d.queue.empty() && !d.busy; });
}

int Delivery::Deliver(const std::string& path, const std::string& heading, const JobHints& hints) {
    Impl& d = *impl_;
    config::JobReport job;
    job.name = path;
    // Port jobs went to the device as they were produced, -S jobs to standard output.
    const bool toStdout = d.standardOutput && path == "stdout";
    if (d.medium == config::Medium::Port || toStdout) {
        if (toStdout) d.NoteJob(true);
        job.delivered = true;
        job.where = toStdout ? "standard output" : d.Where(path);
        d.reporter.JobReported(job);
        return 1;
    }
    d.failedDir = FailedFolder(path);
    if (d.worker && d.keepFailed && !KeptJobs(d.failedDir).empty()) {
        // On the delivery thread jobs go out in the order they came: while
        // older ones wait, this one waits with them.
        RedeliverFailedJobs();
        if (!KeptJobs(d.failedDir).empty()) {
            d.NoteJob(false);
            job.where = d.Where(path);
            job.reason = "older jobs of this LU are still waiting for the printer";
            job.kept = KeepFailedJob(path, d.reporter);
            d.reporter.JobReported(job);
            d.Record(path, hints, job);
            return 0;
        }
    }
    d.tracked.last.clear();
    d.cupsWhere = "CUPS printer";
    d.drawn.clear();
    d.tracked.holding = true;
    int result = d.DeliverJob(path, HeadingFor(heading.empty() ? path : heading), hints);
    d.tracked.Release(false);
    job.where = d.Where(path);
    job.reason = d.tracked.last;
    // The reason goes on inside the job's line.
    while (!job.reason.empty() && (job.reason.back() == '.' || job.reason.back() == ' '))
        job.reason.pop_back();
    if (result == kAbandoned) {
        // Stopped mid-delivery: whatever KEEPFAILED says, the job goes out at the next start.
        d.reporter.StatusLine("Delivery of " + BaseName(path) +
                              " was stopped; the job is kept and delivered at the next start.");
        job.reason = "stopped during the delivery";
        job.kept = KeepFailedJob(path, d.reporter);
        d.reporter.JobReported(job);
        return 0;
    }
    d.NoteJob(result == 1);
    job.delivered = result == 1;
    if (result != 1 && d.keepFailed) {
        // Where it is kept is said in the job's line; only a failure to keep it has a line of
        // its own.
        d.tracked.holding = true;
        job.kept = KeepFailedJob(path, d.reporter);
        d.tracked.Release(job.kept.empty());
    }
    d.reporter.JobReported(job);
    d.Record(path, hints, job);
    if (result == 1 && d.keepFailed) RedeliverFailedJobs();
    return result;
}

void Delivery::OnDelivered(std::function<void(const DeliveredJob&)> hook) {
    impl_->delivered = std::move(hook);
}

int Delivery::Reprint(const std::string& path, const std::string& original, const JobHints& hints,
                      const std::string& copyTo) {
    const std::string& heading = original;
    Impl& d = *impl_;
    d.tracked.last.clear();
    d.cupsWhere = "CUPS printer";
    d.copyTo = copyTo;
    d.tracked.holding = true;
    const int result =
        d.DeliverJob(path, HeadingFor(heading.empty() ? path : heading), hints, original);
    d.tracked.Release(false);
    d.copyTo.clear();
    config::JobReport job;
    job.name = heading.empty() ? path : heading;
    job.where = !copyTo.empty() ? "file " + copyTo
                : d.medium == config::Medium::File && !original.empty()
                    ? "file " + CopyName(original, d.pdf)
                    : d.Where(path);
    job.delivered = result == 1;
    job.reason = result == 1 ? "" : d.tracked.last;
    while (!job.reason.empty() && (job.reason.back() == '.' || job.reason.back() == ' '))
        job.reason.pop_back();
    d.reporter.JobReported(job);
    return result;
}

void Delivery::RedeliverFailedJobs() {
    Impl& d = *impl_;
    if (d.redelivering) return;
    std::string dir = d.failedDir;
    if (dir.empty())
        dir = FailedFolder(d.fileName.find('/') == std::string::npos ? "./x" : d.fileName);
    d.redelivering = true;
    for (const KeptJob& job : KeptJobs(dir)) {
        // Kept jobs go out in order: the first that fails again stops the rest.
        // A copy goes where the job's own would have, not into the failed folder.
        const std::string original = DirName(dir) + "/" + job.originalName;
        d.cupsWhere = "CUPS printer";
        if (d.DeliverJob(job.path, HeadingFor(job.originalName), {}, original) != 1) break;
        ::unlink(job.path.c_str());
        d.NoteJob(true);
        // Named as when it came in: the number stayed the job's while it was kept.
        config::JobReport line;
        line.name = original;
        line.delivered = true;
        line.where = d.Where(original);
        line.kept = job.path;
        d.reporter.JobReported(line);
    }
    d.redelivering = false;
}

config::Result Delivery::PortWrite(std::span<const uint8_t> bytes) {
    return impl_->port.Write(bytes);
}

void Delivery::PortClose() {
    impl_->port.Close();
}

void Delivery::WatchStop(int fd) {
    impl_->stopFd = fd;
}

} // namespace output
