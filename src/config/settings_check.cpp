// Settings checked at start. A value that cannot mean what its key asks for
// would otherwise be read as 0 or off without a word, and found late or never.
#include "config/settings_check.h"

#include <netdb.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "config/ini.h"
#include "config/load_steps.h"
#include "config/service.h"
#include "config/settings.h"
#include "config/utilities.h"

namespace {

constexpr const char* kUnset = "\x01";

struct Checker {
    const std::string& ini;
    Settings& s;
    SettingsCheck out;

    // The key's value as written, or nullptr when the file does not set it.
    bool Get(const char* key, std::string& value) const {
        value = IniRead(ini, key, kUnset);
        return value != kUnset;
    }
    void Bad(const char* key, const std::string& value, const std::string& expected, int stop = 0) {
        out.lines.push_back(std::string(key) + "=" + value + ": expected " + expected);
        if (stop && !out.stop) out.stop = stop;
    }
    static bool Whole(const std::string& v, long low, long high, long& n) {
        if (v.empty()) return false;
        char* end = nullptr;
        errno = 0;
        n = std::strtol(v.c_str(), &end, 10);
        return errno == 0 && *end == 0 && n >= low && n <= high;
    }
    // A number of seconds: a value that does not start with one is replaced by
    // fallback; otherwise what the reader took from it stays and is named.
    void Seconds(const char* key, long& ms, long low, long high, long fallback,
                 const std::string& range) {
        std::string v;
        long n = 0;
        if (!Get(key, v) || Whole(v, low, high, n)) return;
        char* end = nullptr;
        std::strtol(v.c_str(), &end, 10);
        if (end == v.c_str()) ms = fallback * 1000;
        Bad(key, v, range + "; " + std::to_string(ms / 1000) + " is used");
    }
    void Switch(const char* key, const char* fallback) {
        std::string v;
        if (Get(key, v) && v != "0" && v != "1" && !v.empty())
            Bad(key, v, std::string("0 or 1; ") + fallback + " is used");
    }
    void Readable(const char* key, const std::string& path) {
        if (path.empty() || ::access(path.c_str(), R_OK) == 0) return;
        const int err = errno;
        Bad(key, path, std::string("a readable file (") + FormatSystemError(nullptr, err) + ")",
            kStopTlsFile);
    }
};

bool ValidService(const std::string& v) {
    long n = 0;
    if (Checker::Whole(v, 1, 65535, n)) return true;
    return !v.empty() && (v[0] < '0' || v[0] > '9') && ServicePort(v) != 0;
}

} // namespace

SettingsCheck CheckSettings(const std::string& iniPath, Settings& s) {
    Checker c{iniPath, s, {}};
    std::string v;
    if (c.Get("LUTYPE", v) && v != "1" && v != "3") c.Bad("LUTYPE", v, "1 or 3", kStopLuType);
    if (!ValidService(s.service))
        c.Bad("SERVERNAME", s.service,
              "a port number 1 to 65535 or a service name of /etc/services");
    c.Seconds("CONNECTTIMEOUT", s.connectTimeoutMs, 0, 86400 * 365, 15,
              "a number of seconds (0: no limit)");
    c.Seconds(RetryKey(iniPath), s.retryDelayMs, 0, 86400, 15, "a number of seconds");
    c.Seconds("EOJTIMEOUT", s.eojTimeoutMs, 0, 86400 * 365, 0, "a number of seconds (0: off)");
    c.Seconds("SOCKETTIMEOUT", s.socketTimeoutMs, 1, 3600, 30, "1 to 3600 seconds");
    for (const char* key : {"3270E", "TLS", "KEEPFAILED", "HEADINGS", "PRINTTOFILE", "USESOCKET",
                            "USECOMMAND", "PRINT2PORT"})
        c.Switch(key, "off");
    c.Switch("TLSVERIFY", "on");
    if (c.Get("LINEEND", v) && strcasecmp(v.c_str(), "lf") != 0 &&
        strcasecmp(v.c_str(), "crlf") != 0 && !v.empty())
        c.Bad("LINEEND", v, "crlf or lf; crlf is used");
    if (c.Get("STARTTLS", v) && v != "0" && v != "1" && v != "2" && !v.empty())
        c.Bad("STARTTLS", v, "0, 1 or 2; 0 is used");
    if (c.Get("FILEFORMAT", v) && !v.empty() && strcasecmp(v.c_str(), "pdf") != 0)
        c.Bad("FILEFORMAT", v, "pdf or nothing; plain text is used");
    long n = 0;
    if (c.Get("LUADDRESS", v) && v != "-1" && !c.Whole(v, 0, 255, n))
        c.Bad("LUADDRESS", v, "0 to 255, or -1 for none; none is used");
    if (c.Get("SESSIONID", v) && v != "-1" && !v.empty() &&
        (v.size() != 1 || !std::strchr("01234abcdeABCDE", v[0])))
        c.Bad("SESSIONID", v, "0 to 4, a to e, or -1 for none; none is used");
    if (c.Get("PRINTAFTERNLINES", v) && !v.empty() && !c.Whole(v, 0, 100000000, n))
        c.Bad("PRINTAFTERNLINES", v, "a number of lines (0: never)");
    if (s.medium == Medium::Socket || !s.socketPort.empty()) {
        const std::string& p = s.socketPort;
        // A port alone is one on this computer.
        size_t colon = p.rfind(':');
        if (!c.Whole(colon == std::string::npos ? p : p.substr(colon + 1), 1, 65535, n))
            c.Bad("SOCKETPORT", p, "host:port");
    }
    const std::string& prefix = s.fileName;
    const bool spooled = !s.standardOutput && !prefix.empty() && prefix[0] != '0' &&
                         strcasecmp(prefix.c_str(), "NUL") != 0;
    if (spooled) {
        size_t slash = prefix.find_last_of('/');
        std::string dir = slash == std::string::npos ? "."
                          : slash == 0               ? "/"
                                                     : prefix.substr(0, slash);
        struct stat st {};
        int err = ::stat(dir.c_str(), &st) != 0 ? errno : !S_ISDIR(st.st_mode) ? ENOTDIR : 0;
        if (!err && ::access(dir.c_str(), W_OK | X_OK) != 0) err = errno;
        if (err) {
            c.Bad("FILENAME", prefix,
                  std::string("a print file prefix in a folder that can be written (") +
                      FormatSystemError(dir.c_str(), err) + ")",
                  kStopSpool);
        }
    }
    if (s.tls.enabled || s.tls.startTls > 0) {
        c.Readable("TLSCAFILE", s.tls.caFile);
        c.Readable("TLSCERTFILE", s.tls.certFile);
        c.Readable("TLSKEYFILE", s.tls.keyFile);
    }
    return c.out;
}
