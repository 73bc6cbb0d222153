// The INI side of LoadSettings: every value from the file's parsed section.
#include "config/ini_values.h"
#include "config/load_steps.h"
#include "config/report.h"
#include "config/settings_table.h"
#include "config/translate.h"
#include "config/utilities.h"
#include "platform/sysinfo.h"

#include <iconv.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace config {

using config::IniValues;

namespace {

long Digits(const std::string& s) {
    long n = 0;
    for (char c : s) {
        if (c < '0' || c > '9') break;
        if (n < 100000000) n = n * 10 + (c - '0');
    }
    return n;
}

long Seconds(const IniValues& ini, const char* key) {
    std::string v = ini.Value(key);
    if (v.size() > 80) v.resize(80);
    return std::strtol(v.c_str(), nullptr, 10);
}

long Milliseconds(long seconds) {
    if (seconds > LONG_MAX / 1000) return LONG_MAX;
    if (seconds < LONG_MIN / 1000) return LONG_MIN;
    return seconds * 1000;
}

// A value outside the choices is the check's to name; auto stays.
double Choice(const IniValues& ini, const char* key) {
    const std::string v = Lower(ini.Value(key));
    const config::KeySpec* row = config::FindKey(key);
    if (v == "auto" || v.empty() || !row || !config::ChoiceAllows(*row, v)) return 0;
    return std::strtod(v.c_str(), nullptr);
}

void ReadPageKeys(const IniValues& ini, Settings& out) {
    out.classicLayout = Lower(ini.Value("PAGELAYOUT")) == "classic";
    std::string o = Lower(ini.Value("ORIENTATION"));
    out.orientation = o == "portrait" || o == "landscape" ? o : "auto";
    out.cpi = Choice(ini, "CPI");
    out.lpi = Choice(ini, "LPI");
    out.paper = Lower(ini.Value("PAPER"));
    out.greenbar = Lower(ini.Value("BACKGROUND")) == "greenbar";
    out.jobOptions = ini.Value("PRINTEROPTIONS");
}

} // namespace

void LoadOutputSettings(const std::string& iniPath, Settings& out) {
    LoadOutputSettings(IniValues::Read(iniPath), out);
}

void LoadOutputSettings(const IniValues& ini, Settings& out) {
    auto get = [&](const char* key) { return ini.Value(key); };
    out.portName = get("LPTCOMPORT");
    out.socketPort = get("SOCKETPORT");
    out.printAfterNLines = Digits(get("PRINTAFTERNLINES"));
    out.headings = get("HEADINGS") == "1";
    out.keepFailed = get("KEEPFAILED") == "1";
    out.fileFormat = Lower(get("FILEFORMAT"));

    // One medium at a time; of several "1" keys the later selection wins, so
    // port beats socket beats file. The print command replaces file and printer.
    if (get("PRINT2PORT") == "1")
        out.medium = Medium::Port;
    else if (get("USESOCKET") == "1")
        out.medium = Medium::Socket;
    else if (get("USECOMMAND") == "1")
        out.medium = Medium::Command;
    else if (get("PRINTTOFILE") == "1")
        out.medium = Medium::File;
    else
        out.medium = Medium::Printer;
}

void ReadSessionKeys(const IniValues& ini, LoadState& state, Settings& out) {
    auto get = [&](const char* key) { return ini.Value(key); };
    const bool inForce = state.inForce;
    if (!inForce) {
        std::string host = get("HOSTNAME");
        Trace("ReadIniFile(): host is: %s\n", host.c_str());
        if (host.empty()) host = platform::ComputerName().substr(0, 15);
        out.host = host;
    }
    std::string address = get("LUADDRESS");
    if (!inForce) state.luAddress = address;
    state.luAddressText = address;
    state.luTypeValue = get("LUTYPE") == "1" ? 1 : 3;
    state.fileNameText = get("FILENAME");
    std::string server = get("SERVERNAME");
    if (!inForce) state.serverName = server;
    state.sessionIdText = get("SESSIONID");
    state.printCommand = get("PRINTCOMMAND");
    if (inForce) return;
    out.use3270E = get("3270E") == "1";
    if (out.use3270E) {
        std::string connect = get("CONNECTNAME");
        std::string associate = get("ASSOCIATENAME");
        if (!connect.empty()) state.connectName = connect;
        if (!associate.empty()) state.associateName = associate;
    }
}

const char* RetryKey(const IniValues& ini) {
    return !ini.Find("RETRYINTERVAL") && ini.Find("RETRYDELAY") ? "RETRYDELAY" : "RETRYINTERVAL";
}

void ReadEngineKeys(const IniValues& ini, Settings& out) {
    auto get = [&](const char* key) { return ini.Value(key); };
    out.connectTimeoutMs = Milliseconds(Seconds(ini, "CONNECTTIMEOUT"));
    long retry = Seconds(ini, RetryKey(ini));
    out.retryDelayMs = Milliseconds(retry < 0 ? 15 : retry);
    out.eojTimeoutMs = Milliseconds(Seconds(ini, "EOJTIMEOUT"));
    out.lineEndLf = Lower(get("LINEEND")) == "lf";
    out.socketTimeoutMs = std::clamp(std::atol(get("SOCKETTIMEOUT").c_str()), 1L, 3600L) * 1000;
    out.printer = get("PRINTER");
    ReadPageKeys(ini, out);
    out.tls.enabled = get("TLS") == "1";
    const std::string startTls = get("STARTTLS");
    out.tls.startTls = startTls == "1" ? 1 : startTls == "2" ? 2 : 0;
    out.tls.verify = get("TLSVERIFY") != "0";
    out.tls.caFile = get("TLSCAFILE");
    out.tls.serverName = get("TLSSERVERNAME");
    out.tls.certFile = get("TLSCERTFILE");
    out.tls.keyFile = get("TLSKEYFILE");
    // A terminal type is one word of printable ASCII; blanks around it are dropped.
    std::string type = get("TERMINALTYPE");
    type.erase(0, type.find_first_not_of(" \t"));
    type.erase(type.find_last_not_of(" \t") + 1);
    out.terminalType = type.substr(0, 40);
    out.archiveDays = Digits(get("ARCHIVEDAYS"));
    out.archiveDir = get("ARCHIVEDIR");
    out.archiveMaxMb = Digits(get("ARCHIVEMAXMB"));
    out.statusAddress = get("STATUSADDRESS");
    out.statusToken = get("STATUSTOKEN");
    out.notifyCommand = get("NOTIFYCOMMAND");
    out.notifyAfterS = std::clamp(Seconds(ini, "NOTIFYAFTER"), 0L, 86400L * 7);
}

std::string LuConfigPathFromIni(const IniValues& ini) {
    std::string configFile = ini.Value("CONFIGFILE");
    if (configFile.size() > 255) configFile.resize(255);
    size_t cut = configFile.find_last_of("/\\");
    std::string dir = cut == std::string::npos ? std::string() : configFile.substr(0, cut + 1);
    for (char& c : dir)
        if (c == '\\') c = '/';
    return dir + "kesluprt.cfg";
}

// An unknown page or character set is the check's to name; the built-in table
// and UTF-8 stay then.
void ApplyCodePage(const IniValues& ini, Settings& out) {
    std::string message;
    const std::string page = ini.Value("CODEPAGE");
    if (!LoadCodePage(page, out.ebcdicToAscii, message)) return;
    if (page.find_first_not_of(" \t") == std::string::npos) return;
    LoadHostCharacters(page, out.codePage, message);
    const std::string charset = OutputCharset(ini);
    out.outputCharset = charset.empty() ? "UTF-8" : charset;
}

std::string OutputCharset(const IniValues& ini) {
    std::string charset = ini.Value("OUTPUTCHARSET");
    charset.erase(0, charset.find_first_not_of(" \t"));
    charset.erase(charset.find_last_not_of(" \t") + 1);
    if (charset.empty()) return "UTF-8";
    iconv_t cd = iconv_open(charset.c_str(), "UTF-32LE");
    if (cd == reinterpret_cast<iconv_t>(-1)) return {};
    iconv_close(cd);
    return charset;
}

} // namespace config
