#include "config/ini.h"

#include "platform/printlibs.h"
#include "platform/profile.h"
#include "platform/sysinfo.h"

namespace config {

std::string gIniPath;

namespace {

constexpr size_t kValueMax = 260;

std::string Cut(std::string s, size_t max) {
    if (s.size() > max) s.resize(max);
    return s;
}

// twprinter and twprinterd share one settings file.
std::string IniNameFor(const std::string& programName) {
    std::string base = programName;
    size_t slash = base.rfind('/');
    if (slash != std::string::npos) base.erase(0, slash + 1);
    if (base.empty()) base = "twprinter";
    if (base == "twprinterd") base = "twprinter";
    return base + ".ini";
}

} // namespace

std::string IniPathForProgram(const std::string& programName) {
    return platform::JoinPath(platform::SettingsDirectory(), IniNameFor(programName));
}

void SetIniPathFromProgram(const std::string& programName) {
    gIniPath = IniPathForProgram(programName);
}

static const std::string& IniPath() {
    if (gIniPath.empty()) SetIniPathFromProgram(platform::ProgramName());
    return gIniPath;
}

std::string IniRead(const std::string& path, const char* key, const char* def) {
    return Cut(platform::ProfileGetString(kIniSection, key, def ? def : "", path), kValueMax);
}

bool IniWrite(const std::string& path, const char* key, const std::string& value) {
    return platform::ProfileWriteString(kIniSection, key, value, path);
}

std::string IniGet(const char* key, const char* def) {
    return IniRead(IniPath(), key, def);
}

bool IniSet(const char* key, const std::string& value) {
    return IniWrite(IniPath(), key, value);
}

namespace {

// First CUPS destination, or "" when there is no server or no printer.
std::string FirstCupsDestination() {
    // A missing or stuck scheduler must not hold up the first start: connect
    // ourselves with a short time-out instead of the library's long default.
    if (!platform::CupsReady()) return {};
    int cancel = 0;
    http_t* http =
        platform::PL().httpConnect2(platform::PL().cupsServer(), platform::PL().ippPort(), nullptr,
                                    AF_UNSPEC, platform::PL().cupsEncryption(), 1, 3000, &cancel);
    if (!http) return {};
    platform::PL().httpSetTimeout(http, 5.0, nullptr, nullptr);
    cups_dest_t* dests = nullptr;
    int n = platform::PL().cupsGetDests2(http, &dests);
    std::string name;
    if (n > 0 && dests && dests[0].name) name = dests[0].name;
    platform::PL().cupsFreeDests(n, dests);
    platform::PL().httpClose(http);
    return name;
}

} // namespace

int WriteDefaultIni(const std::string& iniPath) {
    auto put = [&](const char* key, const std::string& value) {
        platform::ProfileWriteString(kIniSection, key, value, iniPath);
    };
    std::string dir = platform::CurrentDirectory();
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    put("EXEDIR", dir);
    put("CONFIGFILE", platform::JoinPath(dir, "KESLUPRT.CFG"));
    std::string printer = FirstCupsDestination();
    // The chosen printer name is kept the way the enumeration buffer kept it.
    if (!printer.empty() && printer.size() < 240) put("Printer", printer);
    put("HOSTNAME", "");
    put("LUADDRESS", "-1");
    put("LUTYPE", "3");
    put("FILENAME", "ROROR");
    put("AUTOSTART", "0");
    put("SERVERNAME", "kesservd");
    put("SESSIONID", "-1");
    put("CONNECTNAME", "");
    put("ASSOCIATENAME", "");
    put("3270E", "0");
    put("CONNECTTIMEOUT", "15");
    put("STARTVISIBLE", "1");
    put("PRINTTOFILE", "0");
    return 1;
}

void EnsureDefaultIni() {
    const std::string& path = IniPath();
    if (!platform::FileExists(path)) WriteDefaultIni(path);
}

} // namespace config
