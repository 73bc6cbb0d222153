// Server side TLS for the host simulator.
#include "tls.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <cerrno>
#include <csignal>

struct HostTls {
    SSL* ssl = nullptr;
};

namespace {

SSL_CTX* gCtx = nullptr;

std::string LastError() {
    unsigned long e = ERR_get_error();
    ERR_clear_error();
    if (!e) return "no detail";
    char buf[256];
    ERR_error_string_n(e, buf, sizeof buf);
    return buf;
}

void SetTimeout(int fd, int ms) {
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

} // namespace

bool HostTlsSetup(const HostTlsOptions& o, std::string& err) {
    if (o.cert.empty()) return true;
    // A client that drops the connection must not kill the simulator in SSL_write.
    std::signal(SIGPIPE, SIG_IGN);
    gCtx = SSL_CTX_new(TLS_server_method());
    if (!gCtx) {
        err = "SSL_CTX_new: " + LastError();
        return false;
    }
    if (!o.maxVersion.empty()) {
        int v = o.maxVersion == "1.1"   ? TLS1_1_VERSION
                : o.maxVersion == "1.2" ? TLS1_2_VERSION
                                        : TLS1_3_VERSION;
        SSL_CTX_set_max_proto_version(gCtx, v);
        if (v < TLS1_2_VERSION) {
            // An old server for the tests: let OpenSSL speak TLS 1.1 at all.
            SSL_CTX_set_min_proto_version(gCtx, v);
            SSL_CTX_set_security_level(gCtx, 0);
            SSL_CTX_set_cipher_list(gCtx, "DEFAULT:@SECLEVEL=0");
        }
    }
    if (SSL_CTX_use_certificate_chain_file(gCtx, o.cert.c_str()) != 1) {
        err = "cannot read " + o.cert + ": " + LastError();
        return false;
    }
    const std::string& key = o.key.empty() ? o.cert : o.key;
    if (SSL_CTX_use_PrivateKey_file(gCtx, key.c_str(), SSL_FILETYPE_PEM) != 1) {
        err = "cannot read " + key + ": " + LastError();
        return false;
    }
    if (!o.clientCa.empty()) {
        if (SSL_CTX_load_verify_locations(gCtx, o.clientCa.c_str(), nullptr) != 1) {
            err = "cannot read " + o.clientCa + ": " + LastError();
            return false;
        }
        SSL_CTX_set_verify(gCtx, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
    }
    SSL_CTX_set_mode(gCtx, SSL_MODE_AUTO_RETRY);
    return true;
}

bool HostTlsEnabled() {
    return gCtx != nullptr;
}

HostTls* HostTlsAccept(int fd, int timeoutMs, std::string& err, std::string& info) {
    SSL* ssl = SSL_new(gCtx);
    if (!ssl) {
        err = "SSL_new: " + LastError();
        return nullptr;
    }
    SSL_set_fd(ssl, fd);
    SetTimeout(fd, timeoutMs);
    int r = SSL_accept(ssl);
    SetTimeout(fd, 0);
    if (r != 1) {
        int e = SSL_get_error(ssl, r);
        if (e == SSL_ERROR_SYSCALL)
            err = errno == EAGAIN ? "no client hello in time" : "connection closed by the client";
        else
            err = LastError();
        SSL_free(ssl);
        return nullptr;
    }
    const char* sni = SSL_get_servername(ssl, TLSEXT_NAMETYPE_host_name);
    info = std::string("SNI ") + (sni ? sni : "-") + " VERSION " + SSL_get_version(ssl);
    if (X509* peer = SSL_get1_peer_certificate(ssl)) {
        char cn[256] = "";
        X509_NAME_get_text_by_NID(X509_get_subject_name(peer), NID_commonName, cn, sizeof cn);
        info += std::string(" CLIENT ") + cn;
        X509_free(peer);
    }
    return new HostTls{ssl};
}

long HostTlsRead(HostTls* t, uint8_t* buf, size_t len) {
    int n = SSL_read(t->ssl, buf, static_cast<int>(len));
    if (n > 0) return n;
    int e = SSL_get_error(t->ssl, n);
    ERR_clear_error();
    return e == SSL_ERROR_ZERO_RETURN ? 0 : -1;
}

long HostTlsWrite(HostTls* t, const uint8_t* buf, size_t len) {
    int n = SSL_write(t->ssl, buf, static_cast<int>(len));
    if (n > 0) return n;
    ERR_clear_error();
    return -1;
}

bool HostTlsPending(HostTls* t) {
    return SSL_pending(t->ssl) > 0;
}

void HostTlsFree(HostTls* t) {
    if (!t) return;
    SSL_shutdown(t->ssl);
    SSL_free(t->ssl);
    delete t;
}
