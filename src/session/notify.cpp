// sd_notify wrappers; without libsystemd they do nothing.
#include "session/notify.h"

#ifdef TWPRINTER_HAVE_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

namespace {

void Send([[maybe_unused]] const std::string& state) {
#ifdef TWPRINTER_HAVE_SYSTEMD
    sd_notify(0, state.c_str());
#endif
}

} // namespace

void NotifyReady() {
    Send("READY=1");
}

void NotifyStatus(const std::string& text) {
    // The status is one line; a message with line breaks is flattened.
    std::string flat;
    for (char c : text)
        flat += (c == '\n' || c == '\r') ? ' ' : c;
    Send("STATUS=" + flat);
}

void NotifyWatchdog() {
    Send("WATCHDOG=1");
}

void NotifyStopping() {
    Send("STOPPING=1");
}

unsigned long long NotifyWatchdogUsec() {
#ifdef TWPRINTER_HAVE_SYSTEMD
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) > 0) return usec;
#endif
    return 0;
}
