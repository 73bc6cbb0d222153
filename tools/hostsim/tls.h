// Server side TLS for the host simulator (OpenSSL), kept apart from the
// script engine: hostsim.cpp only calls these.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

struct HostTls;

struct HostTlsOptions {
    std::string cert;       // --tls-cert: PEM chain; TLS is on when set
    std::string key;        // --tls-key: PEM key (default: from cert)
    std::string clientCa;   // --tls-client-ca: require a client certificate from this CA
    std::string maxVersion; // --tls-max: "1.1", "1.2" or "1.3" (test servers too old)
};

// Reads the certificates; false with err set when they cannot be used.
bool HostTlsSetup(const HostTlsOptions& options, std::string& err);
bool HostTlsEnabled();
// Handshake on a blocking socket, bounded by timeoutMs. Returns nullptr with err
// set on failure. info gets what the client presented (SNI, client certificate).
HostTls* HostTlsAccept(int fd, int timeoutMs, std::string& err, std::string& info);
// recv/send semantics: >0 bytes, 0 closed, -1 error.
long HostTlsRead(HostTls* t, uint8_t* buf, size_t len);
long HostTlsWrite(HostTls* t, const uint8_t* buf, size_t len);
bool HostTlsPending(HostTls* t);
void HostTlsFree(HostTls* t);
