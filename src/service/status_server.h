// The HTTP endpoint of twprinterd: /metrics, /healthz, /readyz, the status
// page / and its JSON /api/v1/lus, served on
// a thread of its own from a board of LUs. It reads counters only, so no
// request waits on a session nor a session on a request.
#pragma once
#include <memory>
#include <string>

namespace session {
class LuBoard;
}

namespace service {

class StatusServer {
  public:
    explicit StatusServer(const session::LuBoard& board);
    ~StatusServer();
    StatusServer(const StatusServer&) = delete;
    StatusServer& operator=(const StatusServer&) = delete;

    // Listens on address ("host:port", host a numeric IPv4 address or
    // "localhost"; ":port" is loopback). Any address but loopback needs
    // tokenFile, a file holding the token every request but the probes then
    // carries (Authorization: Bearer). "" on success, else why not.
    std::string Start(const std::string& address, const std::string& tokenFile);
    // The port listened on (the one chosen when 0 was asked for).
    int Port() const;

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

} // namespace service
