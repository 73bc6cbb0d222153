// Byte transport under the telnet layer: plain TCP, or TLS.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class Transport {
  public:
    virtual ~Transport() = default;
    // After the TCP connect on fd: 0, or a message number with gErrorDetail set.
    virtual int Start(int fd, const std::string& host) = 0;
    // >0 bytes, 0 closed by peer, -1 with errno (EAGAIN when nothing is available).
    virtual long Recv(uint8_t* buf, size_t len) = 0;
    virtual long Send(const uint8_t* buf, size_t len) = 0;
    // Data already decrypted and waiting (poll would not show it).
    virtual bool Pending() const { return false; }
    virtual void Close() = 0;
};

// The transport chosen by the settings (TLS when TLS=1).
std::unique_ptr<Transport> MakeTransport();
// Plain TCP, whatever the settings.
std::unique_ptr<Transport> MakeTcpTransport();
// TLS from the first byte, configured by the TLS* settings.
std::unique_ptr<Transport> MakeTlsTransport();
