#include "service/status_server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include "service/metrics.h"
#include "service/status_page.h"
#include "session/lu_board.h"

namespace {

// Bounds of what one client may cost: request line and headers share the
// connection's memory, so an oversized one is refused by the library.
constexpr unsigned kConnections = 32;
constexpr unsigned kIdleSeconds = 10;
constexpr size_t kConnectionMemory = 16 * 1024;

bool ReadToken(const std::string& path, std::string& token) {
    FILE* f = std::fopen(path.c_str(), "re");
    if (!f) return false;
    char buf[512];
    size_t n = std::fread(buf, 1, sizeof buf - 1, f);
    std::fclose(f);
    token.assign(buf, n);
    while (!token.empty() && (token.back() == '\n' || token.back() == '\r' || token.back() == ' '))
        token.pop_back();
    return token.size() >= 16;
}

// Compares without stopping at the first difference.
bool SameToken(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    unsigned char d = 0;
    for (size_t i = 0; i < a.size(); ++i)
        d |= static_cast<unsigned char>(a[i] ^ b[i]);
    return d == 0;
}

} // namespace

struct StatusServer::Impl {
    explicit Impl(const LuBoard& b) : board(b) {}
    ~Impl() {
        if (daemon) MHD_stop_daemon(daemon);
    }
    const LuBoard& board;
    MHD_Daemon* daemon = nullptr;
    std::string token; // "" none needed
    int port = 0;

    static MHD_Result Answer(void* self, MHD_Connection* c, const char* url, const char* method,
                             const char*, const char*, size_t* uploadSize, void** state);
    MHD_Result Reply(MHD_Connection* c, unsigned status, std::string body, const char* type);
};

MHD_Result StatusServer::Impl::Reply(MHD_Connection* c, unsigned status, std::string body,
                                     const char* type) {
    MHD_Response* r =
        MHD_create_response_from_buffer(body.size(), body.data(), MHD_RESPMEM_MUST_COPY);
    if (!r) return MHD_NO;
    MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, type);
    MHD_add_response_header(r, "Cache-Control", "no-store");
    MHD_add_response_header(r, "X-Content-Type-Options", "nosniff");
    if (status == MHD_HTTP_METHOD_NOT_ALLOWED) MHD_add_response_header(r, "Allow", "GET, HEAD");
    MHD_Result ok = MHD_queue_response(c, status, r);
    MHD_destroy_response(r);
    return ok;
}

MHD_Result StatusServer::Impl::Answer(void* self, MHD_Connection* c, const char* url,
                                      const char* method, const char*, const char*,
                                      size_t* uploadSize, void** state) {
    Impl& s = *static_cast<Impl*>(self);
    // The first call only announces the request; a body is never taken.
    if (!*state) {
        *state = &s;
        return MHD_YES;
    }
    if (*uploadSize) {
        *uploadSize = 0;
        return MHD_YES;
    }
    const std::string path = url ? url : "";
    const char* text = "text/plain; charset=utf-8";
    const bool known = path == "/metrics" || path == "/healthz" || path == "/readyz" ||
                       path == "/" || path == "/api/v1/lus";
    if (!known) return s.Reply(c, MHD_HTTP_NOT_FOUND, "not found\n", text);
    if (std::strcmp(method, "GET") != 0 && std::strcmp(method, "HEAD") != 0)
        return s.Reply(c, MHD_HTTP_METHOD_NOT_ALLOWED, "method not allowed\n", text);
    if (path == "/healthz") return s.Reply(c, MHD_HTTP_OK, "ok\n", text);
    const std::vector<LuEntry> lus = s.board.Snapshot();
    if (path == "/readyz") {
        const std::string why = NotReady(lus, time(nullptr));
        return why.empty() ? s.Reply(c, MHD_HTTP_OK, "ready\n", text)
                           : s.Reply(c, MHD_HTTP_SERVICE_UNAVAILABLE, why, text);
    }
    if (!s.token.empty()) {
        const char* auth =
            MHD_lookup_connection_value(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_AUTHORIZATION);
        const std::string given = auth ? auth : "";
        if (!SameToken(given, "Bearer " + s.token))
            return s.Reply(c, MHD_HTTP_UNAUTHORIZED, "a token is needed\n", text);
    }
    if (path == "/")
        return s.Reply(c, MHD_HTTP_OK, RenderStatusPage(lus, time(nullptr)),
                       "text/html; charset=utf-8");
    if (path == "/api/v1/lus")
        return s.Reply(c, MHD_HTTP_OK, RenderStatusJson(lus), "application/json");
    return s.Reply(c, MHD_HTTP_OK, RenderMetrics(lus), "text/plain; version=0.0.4; charset=utf-8");
}

StatusServer::StatusServer(const LuBoard& board) : impl_(std::make_unique<Impl>(board)) {}

StatusServer::~StatusServer() = default;

int StatusServer::Port() const {
    return impl_->port;
}

std::string StatusServer::Start(const std::string& address, const std::string& tokenFile) {
    Impl& s = *impl_;
    const size_t colon = address.rfind(':');
    if (colon == std::string::npos) return "STATUSADDRESS " + address + " is not host:port";
    std::string host = address.substr(0, colon);
    const std::string portText = address.substr(colon + 1);
    char* end = nullptr;
    const long port = std::strtol(portText.c_str(), &end, 10);
    if (portText.empty() || *end || port < 0 || port > 65535)
        return "STATUSADDRESS " + address + ": " + portText + " is no port";
    if (host.empty() || host == "localhost") host = "127.0.0.1";
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, host.c_str(), &addr.sin_addr) != 1)
        return "STATUSADDRESS " + address + ": " + host + " is no IPv4 address";
    const bool loopback = (ntohl(addr.sin_addr.s_addr) >> 24) == 127;
    if (!tokenFile.empty() && !ReadToken(tokenFile, s.token))
        return "STATUSTOKEN " + tokenFile + " cannot be read or holds fewer than 16 characters";
    if (!loopback && s.token.empty())
        return "STATUSADDRESS " + address + " is not loopback: a STATUSTOKEN file is needed";
    s.daemon = MHD_start_daemon(
        MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_USE_ERROR_LOG,
        static_cast<uint16_t>(port), nullptr, nullptr, &Impl::Answer, &s, MHD_OPTION_SOCK_ADDR,
        reinterpret_cast<sockaddr*>(&addr), MHD_OPTION_CONNECTION_LIMIT, kConnections,
        MHD_OPTION_PER_IP_CONNECTION_LIMIT, kConnections / 2, MHD_OPTION_CONNECTION_TIMEOUT,
        kIdleSeconds, MHD_OPTION_CONNECTION_MEMORY_LIMIT, kConnectionMemory, MHD_OPTION_END);
    if (!s.daemon) return "the status endpoint cannot listen on " + address;
    const MHD_DaemonInfo* info = MHD_get_daemon_info(s.daemon, MHD_DAEMON_INFO_BIND_PORT);
    s.port = info ? info->port : static_cast<int>(port);
    return "";
}
