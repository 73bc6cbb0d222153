// Manual-reset event that can be polled together with sockets.
#pragma once

namespace platform {

class Event {
  public:
    Event();
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();   // stays signalled until Reset
    void Reset();
    bool IsSet() const;
    // Waits up to ms milliseconds (negative: for ever); true when signalled.
    bool Wait(int ms) const;
    // Readable while the event is signalled.
    int fd() const { return fd_; }

  private:
    int fd_ = -1;
};

} // namespace platform
