#include "service/status_server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "config/utilities.h"
#include "service/archive_page.h"
#include "service/metrics.h"
#include "service/page_text.h"
#include "service/status_page.h"
#include "session/lu_board.h"

namespace service {

namespace {

// Bounds of what one client may cost: request line and headers share the
// connection's memory, so an oversized one is refused by the library.
constexpr unsigned kConnections = 32;
constexpr unsigned kIdleSeconds = 10;
constexpr size_t kConnectionMemory = 16 * 1024;
// Answers beyond what a socket takes at once by default get a send buffer of
// their size, up to this.
constexpr size_t kOneWrite = 64 * 1024;
constexpr size_t kSendBufferMax = 4 * 1024 * 1024;

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

int64_t MonotonicMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// One request's state between the library's calls: the body, bounded.
struct Request {
    std::string body;
    bool tooBig = false;
};

// "host[:port]" of an Origin or Referer ("scheme://host[:port]/..."), "" when none.
std::string HostOf(const char* url) {
    if (!url) return "";
    const std::string u = url;
    const size_t at = u.find("://");
    if (at == std::string::npos) return "";
    const size_t end = u.find_first_of("/?#", at + 3);
    return u.substr(at + 3, end == std::string::npos ? std::string::npos : end - at - 3);
}

// The value of field in a form body (name=value&..., + and %XX decoded), "" when absent.
std::string FormField(const std::string& body, const std::string& field) {
    for (size_t at = 0; at <= body.size();) {
        size_t end = body.find('&', at);
        if (end == std::string::npos) end = body.size();
        const std::string pair = body.substr(at, end - at);
        at = end + 1;
        if (pair.compare(0, field.size() + 1, field + "=") != 0) continue;
        std::string out;
        for (size_t i = field.size() + 1; i < pair.size(); ++i) {
            if (pair[i] == '+') {
                out += ' ';
            } else if (pair[i] == '%' && i + 2 < pair.size() &&
                       std::isxdigit(static_cast<unsigned char>(pair[i + 1])) &&
                       std::isxdigit(static_cast<unsigned char>(pair[i + 2]))) {
                out += static_cast<char>(std::stoi(pair.substr(i + 1, 2), nullptr, 16));
                i += 2;
            } else {
                out += pair[i];
            }
        }
        return out;
    }
    return "";
}

// The path cut at '/': "/lu/A/kept/F/deliver" gives lu, A, kept, F, deliver.
std::vector<std::string> Segments(const std::string& path) {
    std::vector<std::string> out;
    for (size_t at = 1; at <= path.size();) {
        size_t end = path.find('/', at);
        if (end == std::string::npos) end = path.size();
        out.push_back(path.substr(at, end - at));
        at = end + 1;
    }
    return out;
}

} // namespace

struct StatusServer::Impl {
    explicit Impl(const session::LuBoard& b) : board(b), metrics(b), archive(b) {}
    ~Impl() {
        if (daemon) MHD_stop_daemon(daemon);
    }
    const session::LuBoard& board;
    MetricsWriter metrics; // the library calls us on its one thread
    ArchivePages archive;
    MHD_Daemon* daemon = nullptr;
    std::string token; // "" none needed
    int port = 0;

    static MHD_Result Answer(void* self, MHD_Connection* c, const char* url, const char* method,
                             const char*, const char*, size_t* uploadSize, void** state);
    static void Completed(void*, MHD_Connection*, void** state, MHD_RequestTerminationCode) {
        delete static_cast<Request*>(*state);
        *state = nullptr;
    }
    MHD_Result Reply(MHD_Connection* c, unsigned status, std::string body, const char* type,
                     const char* allow = "GET, HEAD", const std::string& location = "",
                     const std::string& download = "");
    MHD_Result Send(MHD_Connection* c, ArchiveAnswer a) {
        return Reply(c, a.status, std::move(a.body), a.type, "GET, HEAD", "", a.download);
    }
    // False when the POST is refused, the refusal then queued in answer.
    bool MayChange(MHD_Connection* c, const Request& request, MHD_Result& answer);
    MHD_Result Get(MHD_Connection* c, const std::string& path);
    MHD_Result Post(MHD_Connection* c, const std::vector<std::string>& parts, bool api,
                    const Request& request);
    bool TokenGiven(MHD_Connection* c, const std::string& body) const;
};

MHD_Result StatusServer::Impl::Reply(MHD_Connection* c, unsigned status, std::string body,
                                     const char* type, const char* allow,
                                     const std::string& location, const std::string& download) {
    // A big answer (the metrics of a pool) goes to the kernel in one write: this
    // thread then need not wake for each piece the client reads on a busy machine.
    if (body.size() > kOneWrite) {
        const MHD_ConnectionInfo* info =
            MHD_get_connection_info(c, MHD_CONNECTION_INFO_CONNECTION_FD);
        const int size = static_cast<int>(std::min(body.size() + 16384, kSendBufferMax));
        if (info) ::setsockopt(info->connect_fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    }
    // The response takes the text as it is: a scrape of many LUs is not copied again.
    auto* text = new std::string(std::move(body));
    MHD_Response* r = MHD_create_response_from_buffer_with_free_callback_cls(
        text->size(), text->data(), [](void* p) { delete static_cast<std::string*>(p); }, text);
    if (!r) {
        delete text;
        return MHD_NO;
    }
    MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, type);
    MHD_add_response_header(r, "Cache-Control", "no-store");
    MHD_add_response_header(r, "X-Content-Type-Options", "nosniff");
    MHD_add_response_header(r, "X-Frame-Options", "DENY");
    if (status == MHD_HTTP_METHOD_NOT_ALLOWED) MHD_add_response_header(r, "Allow", allow);
    if (!location.empty()) MHD_add_response_header(r, MHD_HTTP_HEADER_LOCATION, location.c_str());
    if (!download.empty())
        MHD_add_response_header(r, "Content-Disposition",
                                ("attachment; filename=\"" + download + "\"").c_str());
    MHD_Result ok = MHD_queue_response(c, status, r);
    MHD_destroy_response(r);
    return ok;
}

bool StatusServer::Impl::TokenGiven(MHD_Connection* c, const std::string& body) const {
    const char* auth =
        MHD_lookup_connection_value(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_AUTHORIZATION);
    if (auth && SameToken(auth, "Bearer " + token)) return true;
    // A browser's form carries it in the body.
    return !body.empty() && SameToken(FormField(body, "token"), token);
}

namespace {
constexpr const char* kText = "text/plain; charset=utf-8";
constexpr const char* kHtml = "text/html; charset=utf-8";
constexpr const char* kJson = "application/json";
constexpr size_t kBodyMax = 4096;
} // namespace

MHD_Result StatusServer::Impl::Get(MHD_Connection* c, const std::string& path) {
    if (path == "/healthz") return Reply(c, MHD_HTTP_OK, "ok\n", kText);
    if (path == "/readyz") {
        const std::string why = NotReady(board.Snapshot(), time(nullptr));
        return why.empty() ? Reply(c, MHD_HTTP_OK, "ready\n", kText)
                           : Reply(c, MHD_HTTP_SERVICE_UNAVAILABLE, why, kText);
    }
    if (!token.empty() && !TokenGiven(c, ""))
        return Reply(c, MHD_HTTP_UNAUTHORIZED, "a token is needed\n", kText);
    if (path == "/")
        return Reply(c, MHD_HTTP_OK, RenderStatusPage(board.Snapshot(), time(nullptr)), kHtml);
    if (path == "/api/v1/lus")
        return Reply(c, MHD_HTTP_OK, RenderStatusJson(board.Snapshot()), kJson);
    if (path == "/metrics")
        return Reply(c, MHD_HTTP_OK, metrics.Render(MonotonicMs()),
                     "text/plain; version=0.0.4; charset=utf-8");
    if (ArchivePages::IsPage(path)) {
        QueryArgs args;
        MHD_get_connection_values(
            c, MHD_GET_ARGUMENT_KIND,
            [](void* to, MHD_ValueKind, const char* key, const char* value) {
                static_cast<QueryArgs*>(to)->emplace_back(key ? key : "", value ? value : "");
                return MHD_YES;
            },
            &args);
        return Send(c, archive.Get(path, args, !token.empty()));
    }
    const std::vector<std::string> parts = Segments(path);
    const bool api =
        parts.size() == 4 && parts[0] == "api" && parts[1] == "v1" && parts[2] == "lus";
    session::LuEntry lu;
    if (!(api || (parts.size() == 2 && parts[0] == "lu")) || !board.Find(parts.back(), lu))
        return Reply(c, MHD_HTTP_NOT_FOUND, "not found\n", kText);
    return api ? Reply(c, MHD_HTTP_OK, RenderLuJson(lu), kJson)
               : Reply(c, MHD_HTTP_OK, RenderLuPage(lu, time(nullptr), !token.empty()), kHtml);
}

// parts: lu NAME kept FILE deliver|delete, after "api v1" for the JSON's.
bool StatusServer::Impl::MayChange(MHD_Connection* c, const Request& request, MHD_Result& answer) {
    if (request.tooBig) {
        answer = Reply(c, MHD_HTTP_CONTENT_TOO_LARGE, "request too large\n", kText);
        return false;
    }
    if (token.empty()) {
        answer = Reply(c, MHD_HTTP_FORBIDDEN, "changes need a STATUSTOKEN; none is set\n", kText);
        return false;
    }
    // A page of another site must not make a browser post here.
    const char* host = MHD_lookup_connection_value(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_HOST);
    const char* origin = MHD_lookup_connection_value(c, MHD_HEADER_KIND, "Origin");
    const char* referer = MHD_lookup_connection_value(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_REFERER);
    const std::string from = config::Lower(origin ? HostOf(origin) : HostOf(referer));
    if (!host || from.empty() || from != config::Lower(host)) {
        answer = Reply(c, MHD_HTTP_FORBIDDEN, "cross-origin request refused\n", kText);
        return false;
    }
    if (!TokenGiven(c, request.body)) {
        answer = Reply(c, MHD_HTTP_UNAUTHORIZED, "a token is needed\n", kText);
        return false;
    }
    return true;
}

MHD_Result StatusServer::Impl::Post(MHD_Connection* c, const std::vector<std::string>& parts,
                                    bool api, const Request& request) {
    MHD_Result refused = MHD_NO;
    if (!MayChange(c, request, refused)) return refused;
    const std::string& name = parts[1];
    const std::string& file = parts[3];
    const bool deliver = parts[4] == "deliver";
    session::LuEntry lu;
    if (!board.Find(name, lu)) return Reply(c, MHD_HTTP_NOT_FOUND, "no LU " + name + "\n", kText);
    const std::string why =
        lu.keptJobs ? lu.keptJobs->Ask(file, deliver) : "the LU's session is not running";
    if (!why.empty())
        return Reply(c, why.rfind("no kept job", 0) == 0 ? MHD_HTTP_NOT_FOUND : MHD_HTTP_CONFLICT,
                     why + "\n", kText);
    if (api)
        return Reply(c, MHD_HTTP_ACCEPTED,
                     "{\"job\":" + Json(file) +
                         ",\"queued\":" + Json(deliver ? "deliver" : "delete") + "}\n",
                     kJson);
    return Reply(c, MHD_HTTP_SEE_OTHER, "queued\n", kText, "", "/lu/" + UrlPart(name));
}

MHD_Result StatusServer::Impl::Answer(void* self, MHD_Connection* c, const char* url,
                                      const char* method, const char*, const char* data,
                                      size_t* uploadSize, void** state) {
    Impl& s = *static_cast<Impl*>(self);
    // The first call only announces the request.
    if (!*state) {
        *state = new Request;
        return MHD_YES;
    }
    Request& request = *static_cast<Request*>(*state);
    if (*uploadSize) {
        if (request.body.size() + *uploadSize > kBodyMax)
            request.tooBig = true;
        else
            request.body.append(data, *uploadSize);
        *uploadSize = 0;
        return MHD_YES;
    }
    const std::string path = url ? url : "";
    const bool read = std::strcmp(method, "GET") == 0 || std::strcmp(method, "HEAD") == 0;
    std::string archived;
    bool archiveApi = false;
    if (ArchivePages::IsReprint(path, archived, archiveApi)) {
        if (std::strcmp(method, "POST") != 0)
            return s.Reply(c, MHD_HTTP_METHOD_NOT_ALLOWED, "method not allowed\n", kText, "POST");
        MHD_Result refused = MHD_NO;
        if (!s.MayChange(c, request, refused)) return refused;
        return s.Send(c, s.archive.Reprint(archived, archiveApi));
    }
    std::vector<std::string> parts = Segments(path);
    const bool api = parts.size() == 7 && parts[0] == "api" && parts[1] == "v1";
    if (api) parts.erase(parts.begin(), parts.begin() + 2);
    const bool change = parts.size() == 5 && (parts[0] == "lu" || (api && parts[0] == "lus")) &&
                        parts[2] == "kept" && (parts[4] == "deliver" || parts[4] == "delete") &&
                        !parts[1].empty() && !parts[3].empty();
    if (change) {
        if (std::strcmp(method, "POST") != 0)
            return s.Reply(c, MHD_HTTP_METHOD_NOT_ALLOWED, "method not allowed\n", kText, "POST");
        return s.Post(c, parts, api, request);
    }
    if (request.tooBig) return s.Reply(c, MHD_HTTP_CONTENT_TOO_LARGE, "request too large\n", kText);
    const std::vector<std::string> all = Segments(path);
    const bool page = path == "/metrics" || path == "/healthz" || path == "/readyz" ||
                      path == "/" || path == "/api/v1/lus" || ArchivePages::IsPage(path) ||
                      (all.size() == 2 && all[0] == "lu") ||
                      (all.size() == 4 && all[0] == "api" && all[1] == "v1" && all[2] == "lus");
    if (!page) return s.Reply(c, MHD_HTTP_NOT_FOUND, "not found\n", kText);
    if (!read) return s.Reply(c, MHD_HTTP_METHOD_NOT_ALLOWED, "method not allowed\n", kText);
    return s.Get(c, path);
}

StatusServer::StatusServer(const session::LuBoard& board) : impl_(std::make_unique<Impl>(board)) {}

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
        kIdleSeconds, MHD_OPTION_CONNECTION_MEMORY_LIMIT, kConnectionMemory,
        MHD_OPTION_NOTIFY_COMPLETED, &Impl::Completed, nullptr, MHD_OPTION_END);
    if (!s.daemon) return "the status endpoint cannot listen on " + address;
    const MHD_DaemonInfo* info = MHD_get_daemon_info(s.daemon, MHD_DAEMON_INFO_BIND_PORT);
    s.port = info ? info->port : static_cast<int>(port);
    return "";
}

} // namespace service
