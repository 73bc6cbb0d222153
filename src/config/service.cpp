#include "config/service.h"

#include <netdb.h>
#include <netinet/in.h>

#include <cstdlib>

namespace config {

int ServicePort(const std::string& service, bool* fallback) {
    if (fallback) *fallback = false;
    const long port = std::strtol(service.c_str(), nullptr, 10);
    if (port > 0 && port < 65536) return static_cast<int>(port);
    servent entry;
    servent* found = nullptr;
    char buffer[1024];
    if (getservbyname_r(service.c_str(), "tcp", &entry, buffer, sizeof buffer, &found) == 0 &&
        found)
        return ntohs(static_cast<uint16_t>(found->s_port));
    if (service != kDefaultService) return 0;
    if (fallback) *fallback = true;
    return kDefaultServicePort;
}

} // namespace config
