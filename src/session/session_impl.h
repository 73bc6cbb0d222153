// The inside of one PrinterSession, shared by the files of the session layer:
// the data stream and delivery, the protocol core, the connection around it
// and the counters.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "archive/archive.h"
#include "config/report.h"
#include "config/settings.h"
#include "datastream/data_stream.h"
#include "datastream/host_link.h"
#include "output/delivery.h"
#include "platform/event.h"
#include "session/kept_job_desk.h"
#include "session/lu_counters.h"
#include "session/lu_history.h"
#include "session/printer_session.h"
#include "session/protocol_trace.h"
#include "session/telnet_protocol.h"
#include "session/transport.h"

namespace session {

// Result of Receive when the server closed or reset the connection.
inline constexpr int kConnectionClosed = -1;

struct PrinterSession::Impl final : ProtocolPeer, datastream::HostLink {
    Impl(config::Settings s, config::Reporter& r, std::shared_ptr<archive::Archive> shared);
    ~Impl() override;

    // printer_session.cpp: the run, and what the protocol drives.
    int Run();
    int Record(std::span<const uint8_t> record, bool responseAsked) override;
    // The records of a receive that asked for no response, written before the next wait.
    void StorePending();
    // Says when a spool or device fault starts and when it clears, not per record.
    void StoreResult(const config::Result& result);
    bool JobOpen() const override { return stream->JobOpen(); }
    void EndJob() override {
        stream->EndJob();
        jobOpen = false;
    }
    void Bracket(uint8_t argument) override { stream->Bracket(argument); }
    void ClearPrintBuffer() override { stream->ClearPrintBuffer(); }
    void LuGranted(const std::string& name) override;
    void Ready(bool fellBack) override;
    int SendRecord(std::span<const uint8_t> bytes) override { return protocol->SendRecord(bytes); }
    bool ExtensionUnnegotiated() const override { return protocol->ExtensionUnnegotiated(); }

    // session_loop.cpp: one connection cycle.
    config::Result OpenSession();
    config::Result MainLoop();
    config::Result Receive();
    // connect.cpp
    // One attempt; a connect pending for waitMs (negative: no limit) times out.
    config::Result Connect(long waitMs);
    config::Result Attach(int fd);
    // The TLS handshake on the open connection after START-TLS, early the
    // bytes already read past the server's FOLLOWS.
    config::Result StartTls(std::span<const uint8_t> early);
    // A negotiated TLS that failed or never came: a failed connect attempt.
    config::Result TlsAttemptFailed(const config::Result& why);
    // What a code from the protocol core stands for, with the reason of the
    // send or the negotiation that gave it.
    config::Result ProtocolFailure(int code);
    void CloseConnection();
    void PublishSocket(int fd);
    bool Stopped(int ms) const { return stop.Wait(ms); }
    // send_path.cpp: the protocol hears the code; sendFailure keeps the reason.
    int Send(std::span<const uint8_t> chunk) override;
    config::Result WaitWritable();
    config::Result sendFailure;

    const config::Settings settings;
    std::shared_ptr<LuCounters> counters = std::make_shared<LuCounters>();
    std::shared_ptr<LuHistory> history = std::make_shared<LuHistory>();
    std::shared_ptr<KeptJobDesk> desk = std::make_shared<KeptJobDesk>();
    CountingReporter watch;
    config::Reporter& reporter;
    platform::Event stop;

    // Counters, read from any thread.
    std::atomic<int> onlineState{0}; // 0 offline, 1 connecting, 2 online
    void SetOnline(int state) {
        onlineState = state;
        counters->SetState(state);
    }
    void Responded(bool negative, uint64_t us) override { counters->Response(us, negative); }
    std::atomic<bool> jobOpen{false};
    std::atomic<uint64_t> delivered{0}, failed{0}, bytesReceived{0}, lastDataTick{0};
    mutable std::mutex luMutex;
    std::string luName;
    std::string lastJob; // time and outcome of the last job delivered or failed (luMutex)
    int storeFault = 0;  // the message of the spool or device fault in force, 0 none
    uint64_t lastProbeTick = 0;
    // While a fault is in force, the spool or device is tried this often when the host is quiet.
    static constexpr int kProbeMs = 2000;
    void ProbeStoreFault();

    // Before the delivery: its thread archives until it is joined. A pool's
    // LUs share one, which the pool keeps beyond them.
    std::shared_ptr<archive::Archive> archive;
    bool ownArchive = false;
    std::unique_ptr<output::Delivery> delivery;
    std::unique_ptr<datastream::DataStream> stream;
    std::unique_ptr<TelnetProtocol> protocol;

    // The connection.
    std::string host;
    int socket = -1;
    std::unique_ptr<Transport> transport;
    ProtocolTrace trace;
    std::vector<uint8_t> receiveBuffer;
    // Guards the published descriptor against a Stop from another thread.
    std::mutex socketMutex;
    int publishedSocket = -1;
    // The previous connection ended because the server closed it: wait once
    // before the next attempt, as after a failed connect.
    bool reconnectAfterClose = false;
    // When the failing connect attempts began (0: the last one succeeded), so
    // that CONNECTTIMEOUT also covers attempts lost in a negotiated TLS.
    uint64_t attemptStart = 0;
    bool serviceFallbackNoted = false; // the kesservd line is said once a run
    bool plainFallbackNoted = false;   // and so is the fall-back to plain TN3270

    std::thread thread;
    std::atomic<bool> running{false};
    std::atomic<int> result{0};
};

} // namespace session
