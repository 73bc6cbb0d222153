// Where a status endpoint asks for one of an LU's kept jobs to be delivered
// again or removed. The session opens it with a call into its own delivery and
// closes it before it ends, so a request never reaches a session that is gone.
#pragma once
#include <functional>
#include <mutex>
#include <string>

namespace session {

class KeptJobDesk {
  public:
    using Handler = std::function<std::string(const std::string& name, bool deliver)>;

    // "" when the request was taken, else why not.
    std::string Ask(const std::string& name, bool deliver) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!handler_) return "the LU's session is not running";
        return handler_(name, deliver);
    }
    void Open(Handler handler) {
        std::lock_guard<std::mutex> lock(mutex_);
        handler_ = std::move(handler);
    }
    // Waits for a request being taken.
    void Close() {
        std::lock_guard<std::mutex> lock(mutex_);
        handler_ = nullptr;
    }

  private:
    std::mutex mutex_;
    Handler handler_;
};

} // namespace session
