// The server's TCP port from the SERVERNAME setting.
#pragma once
#include <string>

namespace config {

// What a new INI file names; no services file knows it, so it stands for telnet's port.
inline constexpr const char* kDefaultService = "kesservd";
inline constexpr int kDefaultServicePort = 23;

// A decimal number 1 to 65535 is the port; other text is a tcp service name of
// the services database, and kDefaultService missing there is kDefaultServicePort
// (*fallback is then set). 0 when the text is neither.
int ServicePort(const std::string& service, bool* fallback = nullptr);

} // namespace config
