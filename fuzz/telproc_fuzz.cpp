// The telnet and TN3270E protocol core on arbitrary host bytes, with the
// records going on to a real data stream.
// Input: a flags byte, then the bytes the host sends. Flags: low nibble chunk
// size (1 << n bytes, n up to 12) so that sequences are cut anywhere; 0x10
// TN3270E allowed, 0x20 option 0x37 allowed, 0x40 LU1 terminal type (else
// LU3), 0x80 job files in a directory instead of standard output.
// What the core sends is counted, not kept.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/settings.h"
#include "datastream/data_stream.h"
#include "datastream/host_link.h"
#include "fuzz_engine.h"
#include "output/delivery.h"
#include "session/telnet_protocol.h"

namespace {

// The session's side of the core: sends counted, records to the data stream.
class Peer : public ProtocolPeer, public HostLink {
  public:
    DataStream* stream = nullptr;
    TelnetProtocol* core = nullptr;
    size_t sent = 0;

    int Send(std::span<const uint8_t> chunk) override {
        sent += chunk.size();
        return 0;
    }
    int Record(std::span<const uint8_t> record) override {
        // The core stops at any record in progress; none may be open here.
        if (inRecord_) std::abort();
        inRecord_ = true;
        int rc = stream->ProcessRecord(record);
        inRecord_ = false;
        return rc;
    }
    bool JobOpen() const override { return stream->JobOpen(); }
    void EndJob() override { stream->EndJob(); }
    void Bracket(uint8_t argument) override { stream->Bracket(argument); }
    void ClearPrintBuffer() override { stream->ClearPrintBuffer(); }
    void LuGranted(const std::string&) override {}
    int SendRecord(std::span<const uint8_t> bytes) override { return core->SendRecord(bytes); }
    bool ExtensionUnnegotiated() const override { return core->ExtensionUnnegotiated(); }

  private:
    bool inRecord_ = false;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string dir = FuzzSpoolSetup("twtelfuzz");
    if (size < 1) return 0;
    const uint8_t flags = data[0];
    const size_t chunk = size_t{1} << std::min(flags & 0x0F, 12);
    const bool toStdout = !(flags & 0x80);
    ++data;
    --size;

    Settings s = DefaultSettings();
    s.standardOutput = toStdout;
    s.fileName = dir + "/J";
    s.medium = Medium::File;
    s.connectName = "PRT1";
    s.use3270E = flags & 0x10;
    s.luType = flags & 0x40 ? 1 : 3;
    std::fflush(stdout);
    if (ftruncate(fileno(stdout), 0) != 0) std::abort();
    std::rewind(stdout);

    Peer peer;
    Delivery delivery(s, FuzzQuietReporter(), nullptr);
    {
        DataStream ds(s, FuzzQuietReporter(), peer, delivery);
        ProtocolConfig config = ProtocolConfig::From(s);
        config.extAllowed = flags & 0x20;
        TelnetProtocol core(config, ds.State(), peer);
        peer.stream = &ds;
        peer.core = &core;
        ds.StartConnection();
        int rc = 0;
        for (size_t at = 0; at < size && rc == 0; at += chunk) {
            rc = core.Feed({data + at, std::min(chunk, size - at)});
            if (core.Records().Capacity() > static_cast<size_t>(RecordBuffer::kMax) + 64)
                std::abort();
        }
        // The connection ends here as after a host close: the open job is handed on.
        if (ds.JobOpen()) ds.EndJob();
    }
    // Replies stay in proportion: a short read command may answer with a whole buffer.
    if (peer.sent > 8192 * (size + 1)) std::abort();
    if (toStdout) {
        std::fflush(stdout);
        long out = std::ftell(stdout);
        if (out < 0 || static_cast<size_t>(out) > 4096 * (size + 1)) std::abort();
    } else {
        FuzzSpoolClear(dir);
    }
    return 0;
}
