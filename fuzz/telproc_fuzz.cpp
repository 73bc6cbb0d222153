// The telnet and TN3270E protocol core on arbitrary host bytes, with the
// records going on to a real data stream.
// Input: a flags byte, then the bytes the host sends. Flags: low nibble chunk
// size (1 << n bytes, n up to 12) so that sequences are cut anywhere; 0x10
// TN3270E allowed, 0x20 option 0x37 allowed, 0x40 LU1 terminal type (else
// LU3), 0x80 jobs to standard output instead of memory.
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

// Sends counted; records checked for nesting.
class Peer : public FuzzPeer {
  public:
    size_t sent = 0;

    int Send(std::span<const uint8_t> chunk) override {
        sent += chunk.size();
        return 0;
    }
    int Record(std::span<const uint8_t> record, bool responseAsked) override {
        // The core stops at any record in progress; none may be open here.
        if (inRecord_) std::abort();
        inRecord_ = true;
        int rc = FuzzPeer::Record(record, responseAsked);
        inRecord_ = false;
        return rc;
    }

  private:
    bool inRecord_ = false;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool once = (FuzzStdoutSetup("twtelfuzz"), true);
    (void)once;
    if (size < 1) return 0;
    const uint8_t flags = data[0];
    const size_t chunk = size_t{1} << std::min(flags & 0x0F, 12);
    const bool toStdout = flags & 0x80;
    ++data;
    --size;

    config::Settings s = config::DefaultSettings();
    s.standardOutput = toStdout;
    s.fileName = "J"; // never made: the jobs go to memory
    s.medium = config::Medium::File;
    s.connectName = "PRT1";
    s.use3270E = flags & 0x10;
    s.luType = flags & 0x40 ? 1 : 3;
    Peer peer;
    MemoryJobs memory;
    output::Delivery delivery(s, FuzzQuietReporter(), nullptr);
    {
        datastream::DataStream ds(s, FuzzQuietReporter(), peer, delivery);
        if (!toStdout) ds.WriteJobsTo(memory);
        session::ProtocolConfig config = session::ProtocolConfig::From(s);
        config.extAllowed = flags & 0x20;
        session::TelnetProtocol core(config, ds.State(), peer);
        peer.stream = &ds;
        peer.core = &core;
        ds.StartConnection();
        int rc = 0;
        for (size_t at = 0; at < size && rc == 0; at += chunk) {
            rc = core.Feed({data + at, std::min(chunk, size - at)});
            ds.FlushPending();
            if (core.Records().Capacity() > static_cast<size_t>(session::RecordBuffer::kMax) + 64)
                std::abort();
        }
        // The connection ends here as after a host close: the open job is handed on.
        if (ds.JobOpen()) ds.EndJob();
    }
    // Replies stay in proportion: a short read command may answer with a whole buffer.
    if (peer.sent > 8192 * (size + 1)) std::abort();
    const size_t out = toStdout ? FuzzStdoutBytes() : memory.bytes;
    if (out > 4096 * (size + 1)) std::abort();
    return 0;
}
