// One printer LU on a thread of its own: connection cycles until a stop or
// an error, the final message, the counters.
#include "session/printer_session.h"

#include <ctime>
#include <netdb.h>
#include <sys/socket.h>
#include <utility>

#include "config/messages.h"
#include "config/report.h"
#include "config/utilities.h"
#include "output/media.h"
#include "platform/sysinfo.h"
#include "session/archive_link.h"
#include "session/session_impl.h"

namespace session {

PrinterSession::Impl::Impl(config::Settings s, config::Reporter& r,
                           std::shared_ptr<archive::Archive> shared)
    : settings(std::move(s)), watch(r, *counters, *history), reporter(watch),
      trace(settings.ebcdicToAscii, settings.traceDir) {
    delivery = std::make_unique<output::Delivery>(settings, reporter, [this](bool ok) {
        (ok ? delivered : failed)++;
        (ok ? counters->jobsDelivered : counters->jobsFailed)++;
        const std::string stamp = platform::LocalTimeText(time(nullptr));
        std::lock_guard<std::mutex> lock(luMutex);
        lastJob = stamp + (ok ? " delivered" : " failed");
    });
    delivery->WatchStop(stop.fd());
    if (settings.archiveDays > 0) {
        ownArchive = !shared;
        archive = shared ? std::move(shared)
                         : std::make_shared<archive::Archive>(
                               settings.archiveDir, settings.archiveDays, settings.archiveMaxMb,
                               [this](const std::string& line) { reporter.StatusLine(line); });
        delivery->OnDelivered([this](const output::DeliveredJob& done) {
            archive::Job entry;
            if (ArchiveEntryOf(done, settings, entry)) archive->Enqueue(std::move(entry));
        });
    }
    desk->Open([d = delivery.get()](const std::string& name, bool deliver) {
        return d->KeptJobRequest(name, deliver);
    });
    stream = std::make_unique<datastream::DataStream>(settings, reporter, *this, *delivery);
    protocol =
        std::make_unique<TelnetProtocol>(ProtocolConfig::From(settings), stream->State(), *this);
    protocol->Release();
}

PrinterSession::Impl::~Impl() {
    desk->Close();
    if (thread.joinable()) {
        stop.Set();
        thread.join();
    }
    CloseConnection();
}

int PrinterSession::Impl::Record(std::span<const uint8_t> record, bool responseAsked) {
    counters->records.fetch_add(1, std::memory_order_relaxed);
    using Flush = datastream::DataStream::Flush;
    // While a fault is in force each record is tried on its own, so that its end is seen.
    const config::Result result =
        stream->ProcessRecord(record, responseAsked || storeFault ? Flush::Now : Flush::Later);
    jobOpen = stream->JobOpen();
    StoreResult(result);
    return result.code;
}

void PrinterSession::Impl::StorePending() {
    if (const config::Result r = stream->FlushPending(); !r.ok()) StoreResult(r);
}

void PrinterSession::Impl::StoreResult(const config::Result& result) {
    const int rc = result.code;
    const bool fault = rc == config::MSG_FPUTC || rc == config::MSG_NO_OUTPUT_MEDIUM ||
                       rc == config::MSG_PORT_OPEN || rc == config::MSG_PORT_WRITE;
    if (fault && storeFault != rc) {
        reporter.StatusLine(result.Text() +
                            " Records are refused until it is cleared; they are tried again.");
    } else if (!fault && storeFault != 0 && rc == 0) {
        reporter.StatusLine("Print data is stored again.");
    }
    if (fault) lastProbeTick = platform::MonotonicMs();
    if (fault || rc == 0) storeFault = fault ? rc : 0;
}

void PrinterSession::Impl::ProbeStoreFault() {
    lastProbeTick = platform::MonotonicMs();
    const config::Result probe =
        settings.medium == config::Medium::Port ? delivery->PortWrite({}) : stream->ProbeSpool();
    if (probe.ok()) {
        storeFault = 0;
        reporter.StatusLine("Print data is stored again.");
    }
}

void PrinterSession::Impl::LuGranted(const std::string& name) {
    stream->State().luName = name;
    std::lock_guard<std::mutex> lock(luMutex);
    luName = name;
}

// Online means the host can print: said when the negotiation is through, not at connect.
void PrinterSession::Impl::Ready(bool fellBack) {
    if (fellBack && !plainFallbackNoted) {
        plainFallbackNoted = true;
        std::string text = "The server does not take TN3270E: plain TN3270 is used";
        if (settings.connectName && !settings.connectName->empty())
            text += ", and the connect name " + *settings.connectName + " is not used";
        else if (settings.associateName && !settings.associateName->empty())
            text += ", and the associate name " + *settings.associateName + " is not used";
        reporter.StatusLine(text);
    }
    SetOnline(2);
    reporter.ShowOnlineState(true);
}

int PrinterSession::Impl::Run() {
    config::Result rc;
    bool first = true;
    reconnectAfterClose = false;
    plainFallbackNoted = false;
    for (;;) {
        if (first) {
            first = false;
            // Made again from its files when missing or damaged, expired jobs gone,
            // without holding up the connection (a pool opens its shared one itself).
            if (archive && ownArchive) archive->OpenInBackground();
            stream->DeliverLeftoverJobs();
            delivery->RedeliverFailedJobs();
        }
        rc = OpenSession();
        if (rc.ok()) rc = MainLoop();
        CloseConnection();
        if (!rc.ok()) break;
    }
    // Jobs still queued go out (or are kept) before the run says it ended.
    delivery->Drain();
    SetOnline(0);
    std::string text = config::LoadMessage(rc.code);
    if (rc.code == config::MSG_LU_MISMATCH) text += stream->State().luType == 3 ? " 1" : " 3";
    if (!rc.reason.empty()) text += " " + rc.reason;
    if (rc.code != config::MSG_EXIT_PARENT) reporter.ShowMessageBox(text);
    if (config::gDebug) config::DebugPrint(text + "\n");
    config::Trace("%s\n", text.c_str());
    reporter.ShowOnlineState(false);
    result = rc.code;
    return rc.code;
}

PrinterSession::PrinterSession(config::Settings settings, config::Reporter& reporter,
                               std::shared_ptr<archive::Archive> archive)
    : impl_(std::make_unique<Impl>(std::move(settings), reporter, std::move(archive))) {}

PrinterSession::~PrinterSession() = default;

std::shared_ptr<const LuCounters> PrinterSession::Counters() const {
    return impl_->counters;
}

std::shared_ptr<const LuHistory> PrinterSession::History() const {
    return impl_->history;
}

std::shared_ptr<KeptJobDesk> PrinterSession::KeptJobs() const {
    return impl_->desk;
}

bool PrinterSession::Start() {
    Impl& s = *impl_;
    if (s.running) return false;
    if (s.thread.joinable()) s.thread.join();
    if (s.stop.fd() < 0) return false;
    s.stop.Reset();
    s.running = true;
    s.thread = std::thread([&s] {
        s.Run();
        s.running = false;
    });
    return true;
}

void PrinterSession::RequestStop() {
    Impl& s = *impl_;
    s.stop.Set();
    // shutdown rather than close: the session's thread still owns the
    // descriptor, and its poll returns at once.
    std::lock_guard<std::mutex> lock(s.socketMutex);
    if (s.publishedSocket >= 0) ::shutdown(s.publishedSocket, SHUT_RDWR);
}

bool PrinterSession::JobInProgress() const {
    return impl_->jobOpen;
}

bool PrinterSession::Online() const {
    return impl_->onlineState == 2;
}

void PrinterSession::Stop() {
    Impl& s = *impl_;
    RequestStop();
    if (s.thread.joinable() && s.thread.get_id() != std::this_thread::get_id()) s.thread.join();
}

bool PrinterSession::Running() const {
    return impl_->running;
}

int PrinterSession::Wait() {
    Impl& s = *impl_;
    if (s.thread.joinable()) s.thread.join();
    return s.result;
}

int PrinterSession::Run() {
    return impl_->Run();
}

std::string PrinterSession::StatusSummary() const {
    static const char* const kStates[] = {"offline", "connecting", "online"};
    const Impl& s = *impl_;
    std::string lu, last;
    {
        std::lock_guard<std::mutex> lock(s.luMutex);
        lu = s.luName.empty() ? "-" : s.luName;
        last = s.lastJob.empty() ? "none" : s.lastJob;
    }
    // Delivered = received - failed + delivered again (+ jobs left by an earlier run).
    const uint64_t again = s.watch.deliveredAgain.load();
    const std::string kept =
        s.settings.keepFailed
            ? std::to_string(
                  ::output::KeptJobs(output::FailedFolder(s.settings.fileName + "0.txt")).size())
            : "0";
    return std::string("state ") + kStates[s.onlineState.load() % 3] + ", LU " + lu +
           ", jobs delivered " + std::to_string(s.delivered.load()) + ", jobs failed " +
           std::to_string(s.failed.load()) + ", last job " + last + ", jobs received " +
           std::to_string(s.counters->jobsReceived.load()) + ", kept jobs delivered again " +
           std::to_string(again) + ", jobs waiting in failed/ " + kept + ", print bytes " +
           std::to_string(s.watch.printBytes.load()) + " (the jobs' files), bytes on the wire " +
           std::to_string(s.bytesReceived.load()) + " (from the host, protocol included)";
}

} // namespace session
