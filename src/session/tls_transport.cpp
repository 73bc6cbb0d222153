// TLS byte transport (OpenSSL): TLS from the first byte, server certificate
// verified against the system store or TLSCAFILE, TLS 1.2 or later only.
//
// The socket is already non-blocking when Start runs, so the handshake is
// driven by poll, watching the stop event, with a time limit of its own: a
// server that never answers a client hello must not hold the session for ever.
#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>

#include "config/messages.h"
#include "config/report.h"
#include "config/settings.h"
#include "platform/event.h"
#include "session/transport.h"

namespace session {

namespace {

constexpr int kHandshakeLimitMs = 20000;

// The oldest OpenSSL error of this thread as text, and the queue cleared.
std::string OpenSslError() {
    unsigned long e = ERR_get_error();
    std::string text;
    if (e) {
        const char* reason = ERR_reason_error_string(e);
        text = reason ? reason : "error " + std::to_string(e);
    }
    ERR_clear_error();
    return text;
}

bool IsIpAddress(const std::string& name) {
    unsigned char buf[16];
    return inet_pton(AF_INET, name.c_str(), buf) == 1 ||
           inet_pton(AF_INET6, name.c_str(), buf) == 1;
}

std::string VerifyReason(long result, const std::string& name) {
    switch (result) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return "the server certificate has expired";
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return "the server certificate is not yet valid";
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return "the server certificate does not match the name \"" + name + "\"";
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        return "the server certificate is self-signed and not trusted";
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        return "the server certificate was issued by an unknown certificate authority";
    default:
        return std::string("the server certificate was rejected: ") +
               X509_verify_cert_error_string(result);
    }
}

class TlsTransport : public Transport {
  public:
    TlsTransport(const config::TlsSettings& tls, config::Reporter& reporter,
                 const platform::Event& stop, std::vector<uint8_t> early)
        : tls_(tls), reporter_(reporter), stop_(stop), early_(std::move(early)) {}
    ~TlsTransport() override { Close(); }

    config::Result Start(int fd, const std::string& host) override {
        fd_ = fd;
        ERR_clear_error();
        ctx_ = SSL_CTX_new(TLS_client_method());
        if (!ctx_) return Fail("cannot create a TLS context: " + OpenSslError());
        SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION);
        SSL_CTX_set_mode(ctx_, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);

        bool verify = tls_.verify;
        const std::string& caFile = tls_.caFile;
        if (!caFile.empty()) {
            if (SSL_CTX_load_verify_locations(ctx_, caFile.c_str(), nullptr) != 1)
                return Fail("cannot read the CA file \"" + caFile +
                            "\" (TLSCAFILE): " + OpenSslError());
        } else if (SSL_CTX_set_default_verify_paths(ctx_) != 1) {
            return Fail("cannot load the system CA store: " + OpenSslError());
        }
        const std::string& certFile = tls_.certFile;
        const std::string& keyFile = tls_.keyFile;
        if (!certFile.empty()) {
            if (SSL_CTX_use_certificate_chain_file(ctx_, certFile.c_str()) != 1)
                return Fail("cannot read the client certificate \"" + certFile +
                            "\" (TLSCERTFILE): " + OpenSslError());
            const std::string& key = keyFile.empty() ? certFile : keyFile;
            bool loaded = SSL_CTX_use_PrivateKey_file(ctx_, key.c_str(), SSL_FILETYPE_PEM) == 1;
            std::string why = loaded ? "" : OpenSslError();
            if (!loaded && why != "key values mismatch")
                return Fail("cannot read the client key \"" + key + "\" (TLSKEYFILE): " + why);
            if (!loaded || SSL_CTX_check_private_key(ctx_) != 1)
                return Fail("the client key \"" + key +
                            "\" does not belong to the client certificate \"" + certFile + "\"");
        } else if (!keyFile.empty()) {
            return Fail("TLSKEYFILE is set but TLSCERTFILE is not");
        }

        ssl_ = SSL_new(ctx_);
        BIO* bio = SocketMethod() ? BIO_new(SocketMethod()) : nullptr;
        if (!ssl_ || !bio) {
            BIO_free(bio);
            return Fail("cannot set up the TLS connection: " + OpenSslError());
        }
        BIO_set_data(bio, this);
        BIO_set_init(bio, 1);
        SSL_set_bio(ssl_, bio, bio);
        name_ = tls_.serverName;
        if (name_.empty()) name_ = host;
        bool ip = IsIpAddress(name_);
        if (!ip && !name_.empty()) SSL_set_tlsext_host_name(ssl_, name_.c_str());
        if (verify) {
            SSL_set_verify(ssl_, SSL_VERIFY_PEER, nullptr);
            X509_VERIFY_PARAM* param = SSL_get0_param(ssl_);
            X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
            int ok = ip ? X509_VERIFY_PARAM_set1_ip_asc(param, name_.c_str())
                        : X509_VERIFY_PARAM_set1_host(param, name_.c_str(), 0);
            if (ok != 1) return Fail("cannot check the server name \"" + name_ + "\"");
        } else {
            SSL_set_verify(ssl_, SSL_VERIFY_NONE, nullptr);
            reporter_.StatusLine("Warning: TLS certificate verification is off (TLSVERIFY=0); "
                                 "the server \"" +
                                 name_ + "\" is not authenticated");
        }
        return Handshake();
    }

    long Recv(uint8_t* buf, size_t len) override {
        if (!ssl_) {
            errno = ENOTCONN;
            return -1;
        }
        ERR_clear_error();
        int n = SSL_read(ssl_, buf, static_cast<int>(len > 1 << 30 ? 1 << 30 : len));
        if (n > 0) return n;
        return Error(n);
    }

    long Send(const uint8_t* buf, size_t len) override {
        if (!ssl_) {
            errno = ENOTCONN;
            return -1;
        }
        if (len == 0) return 0;
        ERR_clear_error();
        int n = SSL_write(ssl_, buf, static_cast<int>(len > 1 << 30 ? 1 << 30 : len));
        if (n > 0) return n;
        long rc = Error(n);
        return rc == 0 ? (errno = EPIPE, -1) : rc;
    }

    bool Pending() const override { return ssl_ && SSL_pending(ssl_) > 0; }

    void Close() override {
        if (ssl_) {
            // A courtesy close_notify; the socket is non-blocking, so this never waits.
            if (handshakeDone_) SSL_shutdown(ssl_);
            SSL_free(ssl_);
            ssl_ = nullptr;
        }
        if (ctx_) {
            SSL_CTX_free(ctx_);
            ctx_ = nullptr;
        }
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        ERR_clear_error();
    }

  private:
    config::Result Fail(const std::string& reason) const {
        return {config::MSG_UNABLE_CONNECT, "TLS: " + reason, name_};
    }

    // The socket BIO: send with MSG_NOSIGNAL, so that a peer gone away is an
    // error and never SIGPIPE, and the first byte from the server kept: when
    // the handshake breaks off, a telnet command (IAC) there means a plain server.
    static int BioWrite(BIO* bio, const char* data, int len) {
        auto* self = static_cast<TlsTransport*>(BIO_get_data(bio));
        BIO_clear_retry_flags(bio);
        long n = ::send(self->fd_, data, static_cast<size_t>(len), MSG_NOSIGNAL);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            BIO_set_retry_write(bio);
        return static_cast<int>(n);
    }
    static int BioRead(BIO* bio, char* data, int len) {
        auto* self = static_cast<TlsTransport*>(BIO_get_data(bio));
        BIO_clear_retry_flags(bio);
        long n;
        if (self->earlyAt_ < self->early_.size()) {
            n = std::min<long>(len, static_cast<long>(self->early_.size() - self->earlyAt_));
            std::memcpy(data, self->early_.data() + self->earlyAt_, static_cast<size_t>(n));
            self->earlyAt_ += static_cast<size_t>(n);
        } else {
            n = ::recv(self->fd_, data, static_cast<size_t>(len), 0);
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            BIO_set_retry_read(bio);
        if (n > 0 && self->firstByte_ < 0) self->firstByte_ = static_cast<uint8_t>(data[0]);
        return static_cast<int>(n);
    }
    static long BioCtrl(BIO*, int cmd, long, void*) { return cmd == BIO_CTRL_FLUSH ? 1 : 0; }
    static BIO_METHOD* SocketMethod() {
        static BIO_METHOD* method = [] {
            BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "twsocket");
            if (m) {
                BIO_meth_set_write(m, BioWrite);
                BIO_meth_set_read(m, BioRead);
                BIO_meth_set_ctrl(m, BioCtrl);
            }
            return m;
        }();
        return method;
    }
    bool PeerSpeaksTelnet() const { return firstByte_ == 0xFF; }

    config::Result Handshake() {
        auto start = std::chrono::steady_clock::now();
        for (;;) {
            ERR_clear_error();
            int r = SSL_connect(ssl_);
            if (r == 1) break;
            int err = SSL_get_error(ssl_, r);
            short events = 0;
            if (err == SSL_ERROR_WANT_READ) {
                // A telnet server talks first and waits: its IAC is never a TLS record.
                if (PeerSpeaksTelnet()) return HandshakeFailure(err);
                events = POLLIN;
            } else if (err == SSL_ERROR_WANT_WRITE) {
                events = POLLOUT;
            } else {
                return HandshakeFailure(err);
            }
            auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - start)
                               .count();
            if (elapsed >= kHandshakeLimitMs)
                return Fail("no TLS answer from the server within " +
                            std::to_string(kHandshakeLimitMs / 1000) +
                            " seconds (is it a TLS server?)");
            pollfd p[2] = {{fd_, events, 0}, {stop_.fd(), POLLIN, 0}};
            int wait = static_cast<int>(kHandshakeLimitMs - elapsed);
            int n = ::poll(p, 2, wait);
            if (n < 0 && errno != EINTR) {
                return {config::MSG_SOCKET_ERROR, "TLS: " + std::string(strerror(errno)), name_};
            }
            if (n > 0 && (p[1].revents & POLLIN)) return config::MSG_EXIT_PARENT;
        }
        handshakeDone_ = true;
        if (SSL_get_verify_mode(ssl_) & SSL_VERIFY_PEER) {
            // Verification failures normally break the handshake; this catches
            // a server that sent no certificate at all.
            X509* peer = SSL_get1_peer_certificate(ssl_);
            if (!peer) return Fail("the server sent no certificate");
            X509_free(peer);
        }
        return 0;
    }

    config::Result HandshakeFailure(int err) {
        long verify = SSL_get_verify_result(ssl_);
        std::string lib = OpenSslError();
        if (verify != X509_V_OK) return Fail(VerifyReason(verify, name_));
        if (PeerSpeaksTelnet())
            return Fail("the server answered in plain telnet, not TLS (check TLS and the port)");
        if (lib == "unexpected eof while reading")
            return Fail("the server closed the connection during the TLS handshake "
                        "(is it a TLS server?)");
        if (err == SSL_ERROR_SYSCALL || err == SSL_ERROR_ZERO_RETURN) {
            if (errno == ECONNRESET || lib.empty())
                return Fail("the server closed the connection during the TLS handshake "
                            "(is it a TLS server?)");
            return Fail("handshake failed: " + std::string(strerror(errno)));
        }
        if (lib == "wrong version number" || lib == "packet length too long" ||
            lib == "record layer failure")
            return Fail("the server does not speak TLS (" + lib + ")");
        if (lib == "unsupported protocol" || lib == "tlsv1 alert protocol version")
            return Fail("the server offers no TLS version from 1.2 on (" + lib + ")");
        return Fail("handshake failed: " + (lib.empty() ? std::string("unknown error") : lib));
    }

    // A failed SSL_read or SSL_write as errno: EAGAIN to wait, 0 for a clean close.
    long Error(int n) {
        int err = SSL_get_error(ssl_, n);
        switch (err) {
        case SSL_ERROR_WANT_READ:
        case SSL_ERROR_WANT_WRITE:
            errno = EAGAIN;
            return -1;
        case SSL_ERROR_ZERO_RETURN:
            return 0;
        case SSL_ERROR_SYSCALL:
            if (errno == 0 || errno == EAGAIN) {
                // End of file without close_notify: the peer went away.
                errno = ECONNRESET;
            }
            ERR_clear_error();
            return -1;
        default: {
            // The session reports errno only; the TLS reason goes to the status line.
            std::string lib = OpenSslError();
            reporter_.StatusLine("TLS connection failed: " +
                                 (lib.empty() ? std::string("protocol error") : lib));
            errno = EPROTO;
            return -1;
        }
        }
    }

    const config::TlsSettings tls_;
    config::Reporter& reporter_;
    const platform::Event& stop_;
    int fd_ = -1;
    SSL_CTX* ctx_ = nullptr;
    SSL* ssl_ = nullptr;
    std::string name_;
    bool handshakeDone_ = false;
    int firstByte_ = -1;
    std::vector<uint8_t> early_;
    size_t earlyAt_ = 0;
};

} // namespace

std::unique_ptr<Transport> MakeTlsTransport(const config::TlsSettings& tls,
                                            config::Reporter& reporter, const platform::Event& stop,
                                            std::vector<uint8_t> early) {
    return std::make_unique<TlsTransport>(tls, reporter, stop, std::move(early));
}

} // namespace session
