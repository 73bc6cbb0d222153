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
#include "config/settings_table.h"
#include "config/translate.h"
#include "config/utilities.h"

namespace config {

using config::FindKey;
using config::IniEntry;
using config::IniValues;
using config::KeyKind;
using config::KeySpec;

namespace {

struct Checker {
    const IniValues& ini;
    Settings& s;
    SettingsCheck out;

    // The key's value as written; false when the file does not set it.
    bool Get(const char* key, std::string& value) const {
        std::optional<std::string> v = ini.Find(key);
        if (v) value = *v;
        return v.has_value();
    }
    void Bad(const KeySpec& key, const std::string& value, const std::string& expected) {
        out.lines.push_back(std::string(key.name) + "=" + value + ": expected " + expected);
        out.badKeys.push_back(key.name);
        if (key.stop && !out.stop) out.stop = key.stop;
    }
    void Bad(const KeySpec& key, const std::string& value) { Bad(key, value, key.expected); }
    static bool Whole(const std::string& v, long low, long high, long& n) {
        if (v.empty()) return false;
        char* end = nullptr;
        errno = 0;
        n = std::strtol(v.c_str(), &end, 10);
        return errno == 0 && *end == 0 && n >= low && n <= high;
    }
    // A number of seconds: a value that does not start with one is replaced by
    // the default; otherwise what the reader took from it stays and is named.
    void Seconds(const char* name, long& ms) {
        const KeySpec& key = *FindKey(name);
        std::string v;
        long n = 0;
        if (!Get(name, v) || Whole(v, key.low, key.high, n)) return;
        char* end = nullptr;
        std::strtol(v.c_str(), &end, 10);
        if (end == v.c_str()) ms = std::atol(key.def) * 1000;
        Bad(key, v, std::string(key.expected) + "; " + std::to_string(ms / 1000) + " is used");
    }
    // The rows the table alone can check.
    void ByTable(const KeySpec& key) {
        std::string v;
        long n = 0;
        if (!Get(key.name, v)) return;
        switch (key.kind) {
        case KeyKind::Switch:
            if (v != "0" && v != "1" && !v.empty()) Bad(key, v);
            break;
        case KeyKind::Choice:
            if (!config::ChoiceAllows(key, v)) Bad(key, v);
            break;
        case KeyKind::Number:
            if (!v.empty() && !Whole(v, key.low, key.high, n)) Bad(key, v);
            break;
        default:
            break;
        }
    }
    void Readable(const char* name, const std::string& path) {
        if (path.empty() || ::access(path.c_str(), R_OK) == 0) return;
        const int err = errno;
        const KeySpec& key = *FindKey(name);
        Bad(key, path, std::string(key.expected) + " (" + FormatSystemError(nullptr, err) + ")");
    }
};

bool ValidService(const std::string& v) {
    long n = 0;
    if (Checker::Whole(v, 1, 65535, n)) return true;
    return !v.empty() && (v[0] < '0' || v[0] > '9') && ServicePort(v) != 0;
}

void CheckSpool(Checker& c, const Settings& s) {
    const std::string& prefix = s.fileName;
    const bool spooled = !s.standardOutput && !prefix.empty() && prefix[0] != '0' &&
                         strcasecmp(prefix.c_str(), "NUL") != 0;
    if (!spooled) return;
    size_t slash = prefix.find_last_of('/');
    std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : prefix.substr(0, slash);
    struct stat st {};
    int err = ::stat(dir.c_str(), &st) != 0 ? errno : !S_ISDIR(st.st_mode) ? ENOTDIR : 0;
    if (!err && ::access(dir.c_str(), W_OK | X_OK) != 0) err = errno;
    if (err) {
        const KeySpec& key = *FindKey("FILENAME");
        c.Bad(key, prefix,
              std::string(key.expected) + " (" + FormatSystemError(dir.c_str(), err) + ")");
    }
}

void CheckCodePage(Checker& c, Settings& s) {
    std::string v, message;
    EbcdicTable scratch{};
    if (c.Get("CODEPAGE", v) && !LoadCodePage(v, scratch, message))
        c.Bad(*FindKey("CODEPAGE"), v,
              std::string(FindKey("CODEPAGE")->expected) + " (" + message +
                  "); the built-in translation table is used");
    if (c.Get("OUTPUTCHARSET", v) && OutputCharset(c.ini).empty()) {
        c.Bad(*FindKey("OUTPUTCHARSET"), v);
        s.outputCharset = "UTF-8";
    }
}

} // namespace

SettingsCheck CheckSettings(const std::string& iniPath, Settings& s) {
    return CheckSettings(IniValues::Read(iniPath), s);
}

SettingsCheck CheckSettings(const IniValues& file, Settings& s) {
    IniValues ini = file;
    for (const auto& [key, value] : s.optionKeys)
        ini.Set(key, value);
    Checker c{ini, s, {}};
    for (const IniEntry& e : ini.entries())
        if (!FindKey(e.key)) {
            const std::string near = config::SuggestKey(e.key);
            c.out.lines.push_back("unknown key " + e.key +
                                  (near.empty() ? "" : " (did you mean " + near + "?)"));
        }
    for (const std::string& repeat : ini.repeats())
        c.out.lines.push_back(repeat);
    for (const KeySpec& key : config::SettingKeys())
        c.ByTable(key);
    std::string v;
    if (c.Get("PAPER", v) && !config::ChoiceAllows(*FindKey("PAPER"), v)) s.paper.clear();
    if (!ValidService(s.service)) c.Bad(*FindKey("SERVERNAME"), s.service);
    c.Seconds("CONNECTTIMEOUT", s.connectTimeoutMs);
    c.Seconds(RetryKey(ini), s.retryDelayMs);
    c.Seconds("EOJTIMEOUT", s.eojTimeoutMs);
    c.Seconds("SOCKETTIMEOUT", s.socketTimeoutMs);
    long n = 0;
    if (c.Get("LUADDRESS", v) && v != "-1" && !c.Whole(v, 0, 255, n))
        c.Bad(*FindKey("LUADDRESS"), v);
    if (c.Get("SESSIONID", v) && v != "-1" && !v.empty() &&
        (v.size() != 1 || !std::strchr("01234abcdeABCDE", v[0])))
        c.Bad(*FindKey("SESSIONID"), v);
    if (s.medium == Medium::Socket || !s.socketPort.empty()) {
        const std::string& p = s.socketPort;
        // A port alone is one on this computer.
        size_t colon = p.rfind(':');
        if (!c.Whole(colon == std::string::npos ? p : p.substr(colon + 1), 1, 65535, n))
            c.Bad(*FindKey("SOCKETPORT"), p);
    }
    CheckCodePage(c, s);
    CheckSpool(c, s);
    if (s.tls.enabled || s.tls.startTls > 0) {
        c.Readable("TLSCAFILE", s.tls.caFile);
        c.Readable("TLSCERTFILE", s.tls.certFile);
        c.Readable("TLSKEYFILE", s.tls.keyFile);
    }
    return c.out;
}

bool SaveOptionKeys(const Settings& s, const SettingsCheck& check) {
    if (check.stop) return false;
    for (const auto& [key, value] : s.optionKeys)
        for (const std::string& bad : check.badKeys)
            if (strcasecmp(bad.c_str(), key.c_str()) == 0) return false;
    bool ok = true;
    for (const auto& [key, value] : s.optionKeys)
        ok &= IniWrite(s.iniPath, key.c_str(), value);
    return ok;
}

} // namespace config
