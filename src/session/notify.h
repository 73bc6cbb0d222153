// Service manager notifications (the systemd notify protocol). Every call is a
// no-op when the program was not started by a service manager.
#pragma once
#include <string>

namespace session {

void NotifyReady();
void NotifyStatus(const std::string& text);
void NotifyWatchdog();
void NotifyStopping();
// Watchdog interval the manager asked for, in microseconds; 0 when none.
unsigned long long NotifyWatchdogUsec();

} // namespace session
