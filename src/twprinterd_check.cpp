// twprinterd --check: what a start would find, printed, and nothing written.
#include "twprinterd_check.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "config/ini_values.h"
#include "config/messages.h"
#include "config/service.h"
#include "config/utilities.h"
#include "output/delivery.h"
#include "platform/sysinfo.h"

// The host as a session would reach it: name look-up and a TCP connect.
static bool CheckHost(const config::Settings& s, std::string& found) {
    std::string host = s.host.empty() ? platform::ComputerName() : s.host;
    const std::string service = s.service.empty() ? config::kDefaultService : s.service;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    int gai = getaddrinfo(host.c_str(), nullptr, &hints, &res);
    if (gai != 0) {
        found = "host " + host + " cannot be resolved: " + gai_strerror(gai);
        return false;
    }
    bool fallback = false;
    const int port = config::ServicePort(service, &fallback);
    if (port == 0) {
        freeaddrinfo(res);
        found = "host " + host + ": port " + service + " is unknown";
        return false;
    }
    for (addrinfo* a = res; a; a = a->ai_next)
        reinterpret_cast<sockaddr_in*>(a->ai_addr)->sin_port = htons(static_cast<uint16_t>(port));
    int err = ECONNREFUSED;
    bool ok = false;
    for (addrinfo* a = res; a && !ok; a = a->ai_next) {
        int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) continue;
        timeval tv{5, 0};
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        ok = ::connect(fd, a->ai_addr, a->ai_addrlen) == 0;
        if (!ok) err = errno == EINPROGRESS ? ETIMEDOUT : errno;
        ::close(fd);
    }
    freeaddrinfo(res);
    found = "host " + host + " port " + service + (fallback ? " (23)" : "") +
            (ok ? std::string(": reachable")
                : std::string(": ") + config::FormatSystemError(nullptr, err));
    return ok;
}

int Check(const config::Settings& settings, const config::SettingsCheck& check,
          const config::Result& loaded) {
    if (!loaded.ok()) std::printf("settings: %s\n", loaded.Text().c_str());
    for (const std::string& line : check.lines)
        std::printf("setting %s\n", line.c_str());
    if (check.lines.empty() && loaded.ok())
        std::printf("settings: %s is in order\n", settings.iniPath.c_str());
    std::string found;
    bool host = CheckHost(settings, found);
    std::printf("%s\n", found.c_str());
    bool medium = output::CheckOutputMedium(settings, found);
    std::printf("output to %s\n", found.c_str());
    const bool ok = loaded.ok() && check.lines.empty() && host && medium;
    std::printf("%s\n", ok ? "check passed" : "check failed");
    return ok ? 0 : 1;
}

int CheckPool(const std::string& dir) {
    DIR* d = ::opendir(dir.c_str());
    if (!d) {
        std::printf("pool folder %s cannot be read: %s\ncheck failed\n", dir.c_str(),
                    config::FormatSystemError(nullptr, errno));
        return 1;
    }
    std::vector<std::string> names;
    while (dirent* e = ::readdir(d)) {
        const std::string n = e->d_name;
        if (n.size() > 4 && n[0] != '.' && n.compare(n.size() - 4, 4, ".ini") == 0)
            names.push_back(n.substr(0, n.size() - 4));
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    if (names.empty()) std::printf("pool folder %s holds no NAME.ini\n", dir.c_str());
    int rc = names.empty() ? 1 : 0;
    for (const std::string& name : names) {
        const std::string path = platform::JoinPath(dir, name + ".ini");
        std::printf("%s%s:\n", name == names.front() ? "" : "\n", path.c_str());
        std::fflush(stdout);
        const config::IniValues ini = config::IniValues::Read(path);
        config::Settings s = config::DefaultSettings();
        const std::string spool = platform::JoinPath(dir, name);
        const config::Result loaded = LoadSettings(ini, {}, false, s, spool);
        // The LU's start makes its spool folder: until then the pool folder must take it.
        if (!platform::FileExists(spool) && s.fileName.rfind(spool + "/", 0) == 0)
            s.fileName = platform::JoinPath(dir, s.fileName.substr(spool.size() + 1));
        const config::SettingsCheck check = CheckSettings(ini, s);
        rc |= Check(s, check, loaded);
        std::fflush(stdout);
    }
    return rc ? 1 : 0;
}
