#include "config/options.h"
#include "datastream/datastream.h"

#include "config/ini.h"
#include "config/luconfig.h"
#include "config/translate.h"
#include "config/utilities.h"
#include "platform/sysinfo.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

Options gOptions;
std::string gHostName;
int gUse3270E = 0;
int gSessionFileInForce = 0;
int Lutype = 3;
long gConnectTimeout = 15000;
int gDebug = 0;

// Port output until the settings are loaded, as the window starts.
int gPrintToPort = 1;
int gPrintToFile = 0;
int gHeadings = 0;
int gUseSocket = 0;
int gUseCommand = 0;
int gKeepFailed = 0;
std::string gPortName;
std::string gSocketPort;
std::string gFileFormat;
long gPrintAfterNLines = 0;
int gPrintAfterNLinesChecked = 0;

std::string gLuConfigPath;

namespace {

// Option values longer than this are cut; a command line is not limited.
constexpr size_t kOptionValueMax = 255;

// The host code page is applied once per client-thread run, like the -x file.
bool gCodePageApplied = false;

long Digits(const std::string& s) {
    long n = 0;
    for (char c : s) {
        if (c < '0' || c > '9') break;
        if (n < 100000000) n = n * 10 + (c - '0');
    }
    return n;
}

} // namespace

void LoadOutputSettings() {
    gPortName = IniGet("LPTCOMPORT", "");
    gSocketPort = IniGet("SOCKETPORT", "");
    gPrintAfterNLines = Digits(IniGet("PRINTAFTERNLINES", "0"));
    gPrintAfterNLinesChecked = IniGet("PRINTAFTERNLINESCHK", "0") == "1";
    gHeadings = IniGet("HEADINGS", "") == "1";
    gUseCommand = IniGet("USECOMMAND", "0") == "1";
    gKeepFailed = IniGet("KEEPFAILED", "0") == "1";
    std::string format = IniGet("FILEFORMAT", "");
    for (char& c : format)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    gFileFormat = format;

    // One medium at a time; of several "1" keys the later selection wins, so
    // port beats socket beats file.
    if (IniGet("PRINTTOFILE", "0") == "1") {
        gPrintToPort = 0;
        gUseSocket = 0;
        gPrintToFile = 1;
    } else {
        gPrintToFile = 0;
    }
    if (IniGet("USESOCKET", "") == "1") {
        gPrintToPort = 0;
        gUseSocket = 1;
        gPrintToFile = 0;
    } else {
        gUseSocket = 0;
    }
    if (IniGet("PRINT2PORT", "") == "1") {
        gPrintToPort = 1;
        gUseSocket = 0;
        gPrintToFile = 0;
    } else {
        gPrintToPort = 0;
    }
}

bool FindOption(const std::string& commandLine, std::string& value, const char* option) {
    value.clear();
    size_t at = commandLine.find(option);
    if (at == std::string::npos) return false;
    size_t p = at + std::char_traits<char>::length(option);
    // The character right after the option is skipped whatever it is.
    if (p >= commandLine.size()) return true;
    ++p;
    while (p < commandLine.size() && commandLine[p] == ' ')
        ++p;
    size_t end = commandLine.find(' ', p);
    if (end == std::string::npos) end = commandLine.size();
    value = commandLine.substr(p, std::min(end - p, kOptionValueMax));
    return true;
}

std::string LuConfigPathFromIni() {
    std::string configFile = IniGet("CONFIGFILE", "KESLUPRT.CFG");
    if (configFile.size() > 255) configFile.resize(255);
    size_t cut = configFile.find_last_of("/\\");
    std::string dir = cut == std::string::npos ? std::string() : configFile.substr(0, cut + 1);
    for (char& c : dir)
        if (c == '\\') c = '/';
    return dir + "kesluprt.cfg";
}

int Configure() {
    if (gIniPath.empty()) SetIniPathFromProgram(platform::ProgramName());

    std::string luAddressText, fileNameText, sessionIdText;
    int luTypeValue = 3;
    ReadIniFile(gIniPath, luAddressText, luTypeValue, fileNameText, sessionIdText);

    const std::string commandLine = platform::CommandLine();
    bool standardOutputRequested = false;
    std::string xltValue;
    std::string v;

    if (!commandLine.empty()) {
        const std::string& cl = commandLine;
        if (FindOption(cl, v, "-n")) {
            sessionIdText = v;
            IniSet("SESSIONID", v);
        }
        if (FindOption(cl, v, "-a") && !gSessionFileInForce) {
            gOptions.luAddress = v;
            luAddressText = v;
            IniSet("LUADDRESS", v);
        }
        if (FindOption(cl, v, "-d")) {
            gOptions.debug = 1;
            gDebug = 1;
            DebugOpen();
        }
        if (FindOption(cl, v, "-btam")) {
            gOptions.btam = 1;
            gOptions.formFeed = 0;
        }
        if (FindOption(cl, v, "-FF")) {
            gOptions.formFeed = 1;
            gOptions.btam = 0;
        }
        if (FindOption(cl, v, "-D")) gOptions.fixedFile = 1;
        if (FindOption(cl, v, "-s") && !gSessionFileInForce) {
            gOptions.serverName = v;
            IniSet("SERVERNAME", v);
        }
        if (FindOption(cl, v, "-S")) standardOutputRequested = true;
        if (FindOption(cl, v, "-c") && !gSessionFileInForce && !v.empty()) {
            IniSet("CONFIGFILE", v);
            gLuConfigPath = LuConfigPathFromIni();
            int rc = ParseLuConfig(v);
            if (rc != 0) return rc;
        }
        if (FindOption(cl, v, "-h") && !gSessionFileInForce) {
            gHostName = v;
            IniSet("HOSTNAME", v);
        }
        if (FindOption(cl, v, "-f")) {
            fileNameText = v;
            IniSet("FILENAME", v);
        }
        if (FindOption(cl, v, "-l")) {
            luTypeValue = v == "1" ? 1 : 3;
            IniSet("LUTYPE", v);
        }
        if (FindOption(cl, v, "-x")) xltValue = v;
        if (FindOption(cl, v, "-T")) gTranslate = 0;
        if (FindOption(cl, v, "-C")) {
            if (gOptions.associateName) {
                if (gOptions.debug == 1)
                    std::fprintf(stderr, "CANNOT SPECIFY BOTH ASSOCIATE AND CONNECT\n");
                std::exit(10);
            }
            if (!gSessionFileInForce) {
                gOptions.connectName = v;
                IniSet("CONNECTNAME", v);
            }
        }
        if (FindOption(cl, v, "-A")) {
            if (gOptions.connectName) {
                if (gOptions.debug == 1)
                    std::fprintf(stderr, "CANNOT SPECIFY BOTH ASSOCIATE AND CONNECT\n");
                std::exit(10);
            }
            if (!gSessionFileInForce) {
                gOptions.associateName = v;
                IniSet("ASSOCIATENAME", v);
            }
        }
        if (FindOption(cl, v, "-E")) {
            gUse3270E = 1;
            IniSet("3270E", "1");
        }
    }

    // Defaults.
    if (luAddressText != "-1" && !gSessionFileInForce) gOptions.luAddress = luAddressText;
    if ((sessionIdText.empty() || sessionIdText[0] != '0') && !gSessionFileInForce)
        gOptions.luNumber = sessionIdText;
    if (!gOptions.printerCmds) gOptions.printerCmds = "lpr";
    if (!gOptions.printerOptions) gOptions.printerOptions = "";
    if (!gOptions.linesPerPage) gOptions.linesPerPage = 0;
    if (!gSessionFileInForce) {
        if (!gOptions.serverName) gOptions.serverName = "kesservd";
        if (!gOptions.luType) gOptions.luType = luTypeValue;
        if (!gOptions.fileName) gOptions.fileName = fileNameText;
    }
    // The session and the writer read these process-wide copies of the options.
    if (gOptions.luType) Lutype = *gOptions.luType == 1 ? 1 : 3;
    gLinesPerPage = *gOptions.linesPerPage;
    if (!gCodePageApplied) {
        gCodePageApplied = true;
        std::string codePage = IniGet("CODEPAGE", "");
        std::string message;
        if (!LoadCodePage(codePage, message))
            std::fprintf(stderr, "%s; the built-in translation table stays in force\n",
                         message.c_str());
    }
    if (!gOptions.xltFile) {
        gOptions.xltFile = xltValue;
        if (!xltValue.empty()) PrtXlateInit(xltValue);
    }
    if (!gOptions.standardOutput) gOptions.standardOutput = standardOutputRequested ? 1 : 0;

    if (gOptions.debug == 1) {
        const Options& o = gOptions;
        std::fprintf(stderr, "PRINTER VERSION %s\n", "1.5.1");
        std::fprintf(stderr, "options\n");
        std::fprintf(stderr, "Printer options %s\n", o.printerOptions.value_or("").c_str());
        std::fprintf(stderr, "Printer cmds %s\n", o.printerCmds.value_or("").c_str());
        std::fprintf(stderr, "File Name = %s\n", o.fileName.value_or("").c_str());
        std::fprintf(stderr, "Lutype = %d\n", o.luType.value_or(0));
        if (o.luAddress) std::fprintf(stderr, "Luaddress = %s\n", o.luAddress->c_str());
        if (o.luNumber) std::fprintf(stderr, "Lunumber = %s\n", o.luNumber->c_str());
        std::fprintf(stderr, "Linesperpage = %d\n", o.linesPerPage.value_or(0));
        std::fprintf(stderr, "StandardOutput = %d\n", o.standardOutput.value_or(0));
        std::fprintf(stderr, "Servername = %s\n", o.serverName.value_or("").c_str());
        std::fprintf(stderr, "FixedFile = %d\n", o.fixedFile);
        std::fprintf(stderr, "end of options\n");
        std::fflush(stderr);
    }
    return 0;
}

void ReleaseOptions() {
    gOptions = Options{};
    gCodePageApplied = false;
}
