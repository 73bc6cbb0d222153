// The settings file's keys. One row a key; see settings_table.h for adding one.
#include "config/settings_table.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace config {
namespace {

using K = KeyKind;
constexpr long kYear = 86400L * 365;
constexpr const char* kOff = "0 or 1; off is used";

// name, kind, default, allowed, low, high, expected, stop, option, field, session file,
// pool file, description
constexpr KeySpec kSettingKeys[] = {
    // Connection.
    {"HOSTNAME", K::Text, "", "", 0, 0, "", 0, "-h", "host", true, true,
     "host name or IPv4 address of the TN3270E server; empty: this computer"},
    {"SERVERNAME", K::Special, "kesservd", "", 1, 65535,
     "a port number 1 to 65535 or a service name of /etc/services", 0, "-s", "portNumber", true,
     true, "service name or port of the server (kesservd unknown: port 23)"},
    {"CONNECTTIMEOUT", K::Seconds, "15", "", 0, kYear, "a number of seconds (0: no limit)", 0, "",
     "timeout", true, true, "seconds after which an unreachable server is given up"},
    {"RETRYINTERVAL", K::Seconds, "15", "", 0, 86400, "a number of seconds", 0, "", "", false, true,
     "seconds between two connection attempts"},
    {"RETRYDELAY", K::Seconds, "15", "", 0, 86400, "a number of seconds", 0, "", "", false, true,
     "older name of RETRYINTERVAL, read where that is not set"},
    {"LINEEND", K::Choice, "crlf", "|crlf|lf", 0, 0, "crlf or lf; crlf is used", 0, "", "", false,
     true, "line ends of the job files"},
    {"SESSIONID", K::Special, "-1", "", 0, 0, "0 to 4, a to e, or -1 for none; none is used", 0,
     "-n", "sessionId", true, true, "session id 0 to 4 or a to e; -1 none"},
    {"LUADDRESS", K::Special, "-1", "", 0, 255, "0 to 255, or -1 for none; none is used", 0, "-a",
     "address", true, true, "LU address 0 to 255; -1 none"},
    {"LUTYPE", K::Choice, "3", "1|3", 0, 0, "1 or 3", 52, "-l", "luType", true, true,
     "1 (SCS printer) or 3 (3270 data stream printer)"},
    {"FILENAME", K::Special, "ROROR", "", 0, 0,
     "a print file prefix in a folder that can be written", 97, "-f", "fileName", true, true,
     "print file prefix, relative to the settings folder"},
    {"JOBNAME", K::Text, "VARODO", "", 0, 0, "", 0, "", "jobName", true, false,
     "print job name shown by the setup window"},
    {"3270E", K::Switch, "0", "", 0, 0, kOff, 0, "-E", "r3270E", true, true,
     "TN3270E with a connect or associate name"},
    {"CONNECTNAME", K::Text, "", "", 0, 0, "", 0, "-C", "connectName", true, true,
     "connect LU name, with 3270E"},
    {"ASSOCIATENAME", K::Text, "", "", 0, 0, "", 0, "-A", "associateName", true, true,
     "associate LU name, with 3270E"},
    {"TERMINALTYPE", K::Text, "", "", 0, 0, "", 0, "", "", false, true,
     "terminal type of plain TN3270 (empty: IBM-3287-1, then IBM-LU1 or IBM-LU3)"},
    {"CONFIGFILE", K::Text, "KESLUPRT.CFG", "", 0, 0, "", 0, "-c", "", false, true,
     "LU-name file; kesluprt.cfg of its folder is read"},
    {"CODEPAGE", K::Special, "", "", 0, 0, "a code page of twprinter.ini(5) or nothing", 0, "",
     "CODEPAGE", false, true, "host code page of the print data"},
    {"OUTPUTCHARSET", K::Special, "UTF-8", "", 0, 0, "a character set iconv knows; UTF-8 is used",
     0, "", "OUTPUTCHARSET", false, true, "character set of the print files with CODEPAGE"},
    {"EOJTIMEOUT", K::Seconds, "0", "", 0, kYear, "a number of seconds (0: off)", 0, "",
     "EOJTIMEOUT", false, true, "seconds without data after which an open job ends"},
    // Output.
    {"PRINTER", K::Text, "NO DEAFULT PRINTER", "", 0, 0, "", 0, "", "printer", false, true,
     "CUPS destination of the jobs"},
    {"HEADINGS", K::Switch, "0", "", 0, 0, kOff, 0, "", "headings", false, true,
     "two heading lines on each printed page"},
    {"PRINTTOFILE", K::Switch, "0", "", 0, 0, kOff, 0, "", "fileChoice", true, true,
     "copy each finished job to an output file"},
    {"FILEFORMAT", K::Choice, "", "|pdf", 0, 0, "pdf or nothing; plain text is used", 0, "",
     "fileFormat", false, true, "pdf: the output file as PDF"},
    {"PAGELAYOUT", K::Choice, "", "|classic", 0, 0, "classic or nothing; the host's layout is used",
     0, "", "", false, true, "classic: one font, wrapped lines, form feeds as blanks"},
    {"ORIENTATION", K::Choice, "auto", "|auto|portrait|landscape", 0, 0,
     "auto, portrait or landscape; auto is used", 0, "", "", false, true, "sheet orientation"},
    {"CPI", K::Choice, "auto", "|auto|10|12|13.3|15|16.7", 0, 0,
     "auto, 10, 12, 13.3, 15 or 16.7; auto is used", 0, "", "", false, true, "characters per inch"},
    {"LPI", K::Choice, "auto", "|auto|6|8", 0, 0, "auto, 6 or 8; auto is used", 0, "", "", false,
     true, "lines per inch"},
    {"PAPER", K::Choice, "", "|letter|legal|a4|a3|a5|tabloid|ledger|executive", 0, 0,
     "letter, legal, a4, a3, a5, tabloid, ledger, executive or nothing; the printer's paper is "
     "used",
     0, "", "", false, true, "paper size asked of the printer"},
    {"BACKGROUND", K::Choice, "", "|greenbar", 0, 0, "greenbar or nothing; no background is used",
     0, "", "", false, true, "greenbar: green-bar shading"},
    {"PRINTEROPTIONS", K::Text, "", "", 0, 0, "", 0, "", "", false, true,
     "CUPS job options as name=value pairs"},
    {"PRINT2PORT", K::Switch, "0", "", 0, 0, kOff, 0, "", "portChoice", true, true,
     "send the bytes to the port LPTCOMPORT"},
    {"LPTCOMPORT", K::Text, "", "", 0, 0, "", 0, "", "portName", true, true, "port device"},
    {"USESOCKET", K::Switch, "0", "", 0, 0, kOff, 0, "", "socketChoice", true, true,
     "send each finished job to SOCKETPORT"},
    {"SOCKETPORT", K::Special, "", "", 1, 65535, "host:port", 0, "", "socketPort", true, true,
     "host:port of a raw network printer"},
    {"SOCKETTIMEOUT", K::Seconds, "30", "", 1, 3600, "1 to 3600 seconds", 0, "", "", false, true,
     "seconds a socket printer may take a job"},
    {"USECOMMAND", K::Switch, "0", "", 0, 0, kOff, 0, "", "USECOMMAND", false, true,
     "pipe each finished job to the print command"},
    {"PRINTCOMMAND", K::Text, "", "", 0, 0, "", 0, "", "PRINTCOMMAND", false, true,
     "print command of USECOMMAND; empty: lpr"},
    {"KEEPFAILED", K::Switch, "1", "", 0, 0, kOff, 0, "", "KEEPFAILED", false, true,
     "keep a job whose delivery failed in failed/"},
    {"PRINTAFTERNLINES", K::Number, "0", "", 0, 100000000, "a number of lines (0: never)", 0, "",
     "lines", false, true, "end the job after this many lines; 0 never"},
    {"PRINTAFTERNLINESCHK", K::Switch, "0", "", 0, 0, kOff, 0, "", "printAfter", false, false,
     "state of the print-after-lines check box"},
    // The print archive.
    {"ARCHIVEDAYS", K::Number, "0", "", 0, 36500, "a number of days (0: no archive)", 0, "", "",
     false, true, "keep every delivered job this many days in the archive; 0 none"},
    {"ARCHIVEDIR", K::Text, "archive", "", 0, 0, "", 0, "", "", false, true,
     "folder of the print archive, one for a whole pool"},
    {"ARCHIVEMAXMB", K::Number, "0", "", 0, 100000000, "a number of megabytes (0: no limit)", 0, "",
     "", false, true, "oldest archived jobs removed past this size; 0 no limit"},
    // TLS.
    {"TLS", K::Switch, "0", "", 0, 0, kOff, 0, "", "TLS", false, true, "TLS from the first byte"},
    {"STARTTLS", K::Choice, "0", "|0|1|2", 0, 0, "0, 1 or 2; 0 is used", 0, "", "startTls", false,
     true, "telnet START-TLS: 0 refuse, 1 accept, 2 require"},
    {"TLSCAFILE", K::Special, "", "", 0, 0, "a readable file", 98, "", "TLSCAFILE", false, true,
     "PEM file of the certificate authorities"},
    {"TLSSERVERNAME", K::Text, "", "", 0, 0, "", 0, "", "TLSSERVERNAME", false, true,
     "name checked against the server certificate"},
    {"TLSVERIFY", K::Switch, "1", "", 0, 0, "0 or 1; on is used", 0, "", "TLSVERIFY", false, true,
     "0 turns certificate verification off"},
    {"TLSCERTFILE", K::Special, "", "", 0, 0, "a readable file", 98, "", "TLSCERTFILE", false, true,
     "PEM client certificate"},
    {"TLSKEYFILE", K::Special, "", "", 0, 0, "a readable file", 98, "", "TLSKEYFILE", false, true,
     "PEM private key of the client certificate"},
    // twprinterd's status endpoint and notifications.
    {"STATUSADDRESS", K::Text, "", "", 0, 0, "", 0, "", "", false, false,
     "host:port of twprinterd's status endpoint; empty: none"},
    {"STATUSTOKEN", K::Text, "", "", 0, 0, "", 0, "", "", false, false,
     "file holding the status endpoint's token, relative to the settings folder"},
    {"NOTIFYCOMMAND", K::Text, "", "", 0, 0, "", 0, "", "", false, true,
     "command of twprinterd run on a job kept, an LU offline and its return"},
    {"NOTIFYAFTER", K::Number, "300", "", 0, 604800, "0 to 604800 seconds", 0, "", "", false, true,
     "seconds an LU is offline before NOTIFYCOMMAND is told"},
    // The window's own.
    {"AUTOSTART", K::Switch, "0", "", 0, 0, kOff, 0, "", "autoChoice", true, false,
     "start the client when the window opens"},
    {"STARTVISIBLE", K::Switch, "1", "", 0, 0, kOff, 0, "", "startVisible", true, false,
     "show the window at start"},
    {"EXEDIR", K::Text, "", "", 0, 0, "", 0, "", "", false, false,
     "working folder when the default file was written"},
};

std::string Upper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

// Edits (insert, delete, replace, swap of neighbours) that turn a into b.
size_t Distance(const std::string& a, const std::string& b) {
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i)
        d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j)
        d[0][j] = j;
    for (size_t i = 1; i <= a.size(); ++i)
        for (size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1,
                                d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
}

} // namespace

std::span<const KeySpec> SettingKeys() {
    return kSettingKeys;
}

const KeySpec* FindKey(std::string_view name) {
    // Loading settings looks up every key: one hash lookup each instead of a pass over the table.
    static const std::unordered_map<std::string_view, const KeySpec*> byName = [] {
        std::unordered_map<std::string_view, const KeySpec*> m;
        for (const KeySpec& k : kSettingKeys)
            m.emplace(k.name, &k);
        return m;
    }();
    char upper[32];
    if (name.empty() || name.size() > sizeof upper) return nullptr;
    for (size_t i = 0; i < name.size(); ++i)
        upper[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[i])));
    const auto it = byName.find(std::string_view(upper, name.size()));
    return it == byName.end() ? nullptr : it->second;
}

std::string SuggestKey(std::string_view name) {
    const std::string upper = Upper(name);
    std::string best;
    size_t bestDistance = 3;
    for (const KeySpec& k : kSettingKeys) {
        const size_t d = Distance(upper, k.name);
        if (d < bestDistance) {
            bestDistance = d;
            best = k.name;
        }
    }
    return best;
}

bool ChoiceAllows(const KeySpec& key, const std::string& value) {
    std::string_view list = key.allowed;
    for (;;) {
        const size_t bar = list.find('|');
        const std::string_view one = list.substr(0, bar);
        if (one.size() == value.size() && strncasecmp(one.data(), value.data(), one.size()) == 0)
            return true;
        if (bar == std::string_view::npos) return false;
        list.remove_prefix(bar + 1);
    }
}

std::vector<std::string> ChoiceValues(const KeySpec& key) {
    std::vector<std::string> values;
    std::string_view list = key.allowed;
    for (;;) {
        const size_t bar = list.find('|');
        values.emplace_back(list.substr(0, bar));
        if (bar == std::string_view::npos) return values;
        list.remove_prefix(bar + 1);
    }
}

} // namespace config
