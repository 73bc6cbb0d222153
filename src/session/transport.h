// Byte transport under the telnet layer: plain TCP, or TLS.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "config/result.h"

namespace config {
class Reporter;
}
namespace config {
struct TlsSettings;
}

namespace platform {
class Event;
}

namespace session {

class Transport {
  public:
    virtual ~Transport() = default;
    // After the TCP connect on fd: ok, or why the connection cannot be used.
    virtual config::Result Start(int fd, const std::string& host) = 0;
    // >0 bytes, 0 closed by peer, -1 with errno (EAGAIN when nothing is available).
    virtual long Recv(uint8_t* buf, size_t len) = 0;
    virtual long Send(const uint8_t* buf, size_t len) = 0;
    // Data already decrypted and waiting (poll would not show it).
    virtual bool Pending() const { return false; }
    virtual void Close() = 0;
    // Gives up the socket without closing it, for a transport taking over
    // the connection: the descriptor, or -1 when this one cannot hand it on.
    virtual int Detach() { return -1; }
};

// TLS when the settings enable it, else plain TCP. The handshake watches stop.
std::unique_ptr<Transport> MakeTransport(const config::TlsSettings& tls, config::Reporter& reporter,
                                         const platform::Event& stop);
std::unique_ptr<Transport> MakeTcpTransport();
// early: bytes already read from the socket that belong to the TLS handshake.
std::unique_ptr<Transport> MakeTlsTransport(const config::TlsSettings& tls,
                                            config::Reporter& reporter, const platform::Event& stop,
                                            std::vector<uint8_t> early = {});

} // namespace session
