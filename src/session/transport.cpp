// Plain TCP byte transport, and the choice between it and TLS.
#include "session/transport.h"

#include <sys/socket.h>
#include <unistd.h>

#include "config/settings.h"

namespace session {

namespace {

class TcpTransport : public Transport {
  public:
    ~TcpTransport() override { Close(); }
    config::Result Start(int fd, const std::string&) override {
        fd_ = fd;
        return {};
    }
    long Recv(uint8_t* buf, size_t len) override { return ::recv(fd_, buf, len, 0); }
    long Send(const uint8_t* buf, size_t len) override {
        return ::send(fd_, buf, len, MSG_NOSIGNAL);
    }
    void Close() override {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    int Detach() override {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }

  private:
    int fd_ = -1;
};

} // namespace

std::unique_ptr<Transport> MakeTcpTransport() {
    return std::make_unique<TcpTransport>();
}

std::unique_ptr<Transport> MakeTransport(const config::TlsSettings& tls, config::Reporter& reporter,
                                         const platform::Event& stop) {
    // The one place where a TLS transport is selected (TLS=1).
    if (tls.enabled) return MakeTlsTransport(tls, reporter, stop);
    return MakeTcpTransport();
}

} // namespace session
