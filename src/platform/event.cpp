#include "platform/event.h"

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace platform {

Event::Event() { fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }

Event::~Event() {
    if (fd_ >= 0) ::close(fd_);
}

void Event::Set() {
    // The counter only ever holds 0 or 1 so that the fd stays readable until Reset.
    if (IsSet()) return;
    uint64_t one = 1;
    ssize_t n = ::write(fd_, &one, sizeof one);
    (void)n;
}

void Event::Reset() {
    uint64_t v;
    ssize_t n = ::read(fd_, &v, sizeof v);
    (void)n;
}

bool Event::IsSet() const { return Wait(0); }

bool Event::Wait(int ms) const {
    pollfd p{fd_, POLLIN, 0};
    for (;;) {
        int r = ::poll(&p, 1, ms);
        if (r < 0 && errno == EINTR) continue;
        return r > 0 && (p.revents & POLLIN);
    }
}

} // namespace platform
