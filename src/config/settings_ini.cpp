// The INI side of LoadSettings.
#include "config/ini.h"
#include "config/load_steps.h"
#include "config/report.h"
#include "config/translate.h"
#include "config/utilities.h"
#include "platform/sysinfo.h"

#include <iconv.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>

namespace {

long Digits(const std::string& s) {
    long n = 0;
    for (char c : s) {
        if (c < '0' || c > '9') break;
        if (n < 100000000) n = n * 10 + (c - '0');
    }
    return n;
}

long Seconds(const std::string& iniPath, const char* key, const char* def) {
    std::string v = IniRead(iniPath, key, def);
    if (v.size() > 80) v.resize(80);
    return std::strtol(v.c_str(), nullptr, 10);
}

long Milliseconds(long seconds) {
    if (seconds > LONG_MAX / 1000) return LONG_MAX;
    if (seconds < LONG_MIN / 1000) return LONG_MIN;
    return seconds * 1000;
}

std::string Lower(std::string v) {
    for (char& c : v)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return v;
}

// A value outside the choices is named on standard error and auto stays.
double Choice(const std::string& iniPath, const char* key, std::initializer_list<double> allowed) {
    std::string v = Lower(IniRead(iniPath, key, "auto"));
    if (v == "auto" || v.empty()) return 0;
    char* end = nullptr;
    double d = std::strtod(v.c_str(), &end);
    for (double a : allowed)
        if (end && *end == '\0' && std::abs(d - a) < 0.01) return a;
    LogLines(std::string(key) + "=" + v + " is not one of the values it can take; auto is used");
    return 0;
}

void ReadPageKeys(const std::string& iniPath, Settings& out) {
    out.classicLayout = Lower(IniRead(iniPath, "PAGELAYOUT", "")) == "classic";
    std::string o = Lower(IniRead(iniPath, "ORIENTATION", "auto"));
    out.orientation = o == "portrait" || o == "landscape" ? o : "auto";
    out.cpi = Choice(iniPath, "CPI", {10, 12, 13.3, 15, 16.7});
    out.lpi = Choice(iniPath, "LPI", {6, 8});
    out.paper = Lower(IniRead(iniPath, "PAPER", ""));
    out.greenbar = Lower(IniRead(iniPath, "BACKGROUND", "")) == "greenbar";
    out.jobOptions = IniRead(iniPath, "PRINTEROPTIONS", "");
}

} // namespace

void LoadOutputSettings(const std::string& iniPath, Settings& out) {
    auto get = [&](const char* key, const char* def) { return IniRead(iniPath, key, def); };
    out.portName = get("LPTCOMPORT", "");
    out.socketPort = get("SOCKETPORT", "");
    out.printAfterNLines = Digits(get("PRINTAFTERNLINES", "0"));
    out.headings = get("HEADINGS", "") == "1";
    out.keepFailed = get("KEEPFAILED", "1") == "1";
    std::string format = get("FILEFORMAT", "");
    for (char& c : format)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    out.fileFormat = format;

    // One medium at a time; of several "1" keys the later selection wins, so
    // port beats socket beats file. The print command replaces file and printer.
    if (get("PRINT2PORT", "") == "1")
        out.medium = Medium::Port;
    else if (get("USESOCKET", "") == "1")
        out.medium = Medium::Socket;
    else if (get("USECOMMAND", "0") == "1")
        out.medium = Medium::Command;
    else if (get("PRINTTOFILE", "0") == "1")
        out.medium = Medium::File;
    else
        out.medium = Medium::Printer;
}

void ReadSessionKeys(const std::string& iniPath, LoadState& state, Settings& out) {
    auto get = [&](const char* key, const char* def) { return IniRead(iniPath, key, def); };
    const bool inForce = state.inForce;
    if (!inForce) {
        std::string host = get("HOSTNAME", "");
        Trace("ReadIniFile(): host is: %s\n", host.c_str());
        if (host.empty()) host = platform::ComputerName().substr(0, 15);
        out.host = host;
    }
    std::string address = get("LUADDRESS", "-1");
    if (!inForce) state.luAddress = address;
    state.luAddressText = address;
    state.luTypeValue = get("LUTYPE", "3") == "1" ? 1 : 3;
    state.fileNameText = get("FILENAME", "ROROR");
    std::string server = get("SERVERNAME", "kesservd");
    if (!inForce) state.serverName = server;
    state.sessionIdText = get("SESSIONID", "-1");
    state.printCommand = get("PRINTCOMMAND", "");
    if (inForce) return;
    out.use3270E = get("3270E", "0") == "1";
    if (out.use3270E) {
        std::string connect = get("CONNECTNAME", "");
        std::string associate = get("ASSOCIATENAME", "");
        if (!connect.empty()) state.connectName = connect;
        if (!associate.empty()) state.associateName = associate;
    }
}

const char* RetryKey(const std::string& iniPath) {
    return IniRead(iniPath, "RETRYINTERVAL", "\x01") == "\x01" &&
                   IniRead(iniPath, "RETRYDELAY", "\x01") != "\x01"
               ? "RETRYDELAY"
               : "RETRYINTERVAL";
}

void ReadEngineKeys(const std::string& iniPath, Settings& out) {
    auto get = [&](const char* key, const char* def) { return IniRead(iniPath, key, def); };
    out.connectTimeoutMs = Milliseconds(Seconds(iniPath, "CONNECTTIMEOUT", "15"));
    long retry = Seconds(iniPath, RetryKey(iniPath), "15");
    out.retryDelayMs = Milliseconds(retry < 0 ? 15 : retry);
    out.eojTimeoutMs = Milliseconds(Seconds(iniPath, "EOJTIMEOUT", "0"));
    out.lineEndLf = Lower(get("LINEEND", "crlf")) == "lf";
    out.socketTimeoutMs =
        std::clamp(std::atol(get("SOCKETTIMEOUT", "30").c_str()), 1L, 3600L) * 1000;
    out.printer = get("PRINTER", "NO DEAFULT PRINTER");
    ReadPageKeys(iniPath, out);
    out.tls.enabled = get("TLS", "0") == "1";
    const std::string startTls = get("STARTTLS", "0");
    out.tls.startTls = startTls == "1" ? 1 : startTls == "2" ? 2 : 0;
    out.tls.verify = get("TLSVERIFY", "1") != "0";
    out.tls.caFile = get("TLSCAFILE", "");
    out.tls.serverName = get("TLSSERVERNAME", "");
    out.tls.certFile = get("TLSCERTFILE", "");
    out.tls.keyFile = get("TLSKEYFILE", "");
}

std::string LuConfigPathFromIni(const std::string& iniPath) {
    std::string configFile = IniRead(iniPath, "CONFIGFILE", "KESLUPRT.CFG");
    if (configFile.size() > 255) configFile.resize(255);
    size_t cut = configFile.find_last_of("/\\");
    std::string dir = cut == std::string::npos ? std::string() : configFile.substr(0, cut + 1);
    for (char& c : dir)
        if (c == '\\') c = '/';
    return dir + "kesluprt.cfg";
}

void ApplyCodePage(const std::string& iniPath, Settings& out) {
    std::string message;
    const std::string page = IniRead(iniPath, "CODEPAGE", "");
    if (!LoadCodePage(page, out.ebcdicToAscii, message)) {
        LogLines(message + "; the built-in translation table stays in force");
        return;
    }
    if (page.find_first_not_of(" \t") == std::string::npos) return;
    LoadHostCharacters(page, out.codePage, message);
    std::string charset = IniRead(iniPath, "OUTPUTCHARSET", "");
    charset.erase(0, charset.find_first_not_of(" \t"));
    charset.erase(charset.find_last_not_of(" \t") + 1);
    if (charset.empty()) charset = "UTF-8";
    iconv_t cd = iconv_open(charset.c_str(), "UTF-32LE");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        LogLines("Unknown output character set: " + charset + "; print files are UTF-8");
        charset = "UTF-8";
    } else {
        iconv_close(cd);
    }
    out.outputCharset = charset;
}
