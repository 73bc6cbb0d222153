// What the data stream needs of the host connection: a way to answer with a
// record, and whether the session-server extension option is in use. The
// session hands one to its data stream.
#pragma once
#include <cstdint>
#include <span>

namespace datastream {

class HostLink {
  public:
    virtual ~HostLink() = default;
    // One inbound record (read or query reply): IAC doubled, IAC EOR added. 0 or a message number.
    virtual int SendRecord(std::span<const uint8_t> bytes) = 0;
    // The extension option 0x37 is allowed for this session but the host has
    // not negotiated it at all (neither agreed nor refused).
    virtual bool ExtensionUnnegotiated() const = 0;
};

} // namespace datastream
