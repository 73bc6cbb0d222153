// LoadSettings: the INI file, the command line and the LU-name file, in the
// order and with the precedence the client has always applied.
#include "config/settings.h"

#include "config/ini.h"
#include "config/ini_values.h"
#include "config/load_steps.h"
#include "config/options.h"
#include "config/translate.h"
#include "platform/sysinfo.h"

#include <strings.h>

#include <cstdio>

namespace config {

namespace {

// The window's fields stand while its session file is in force.
void KeepWindowValues(const Settings& window, LoadState& state, Settings& out) {
    out.host = window.host;
    out.use3270E = window.use3270E;
    state.serverName = window.service;
    state.luType = window.luType;
    state.connectName = window.connectName;
    state.associateName = window.associateName;
    state.luNumber = window.sessionId;
    state.luAddress = window.luAddress;
    state.fileName = window.fileName;

    out.medium = window.medium;
    out.headings = window.headings;
    out.portName = window.portName;
    out.socketPort = window.socketPort;
    out.printAfterNLines = window.printAfterNLines;
    out.fileFormat = window.fileFormat;
    out.keepFailed = window.keepFailed;
}

void ApplyDefaults(LoadState& st) {
    if (st.luAddressText != "-1" && !st.inForce) st.luAddress = st.luAddressText;
    if ((st.sessionIdText.empty() || st.sessionIdText[0] != '0') && !st.inForce)
        st.luNumber = st.sessionIdText;
    // The LU-name file describes the printer LU and so beats the INI file.
    if (!st.printerCmds) st.printerCmds = st.printCommand.empty() ? "lpr" : st.printCommand;
    if (!st.printerOptions) st.printerOptions = "";
    if (!st.linesPerPage) st.linesPerPage = 0;
    if (!st.inForce) {
        if (!st.serverName) st.serverName = "kesservd";
        if (!st.luType) st.luType = st.luTypeValue;
        if (!st.fileName) st.fileName = st.fileNameText;
    }
    if (!st.standardOutput) st.standardOutput = st.standardOutputRequested;
}

void EchoOptions(const LoadState& o, const Settings& s) {
    std::fprintf(stderr, "PRINTER VERSION %s\n", "1.5.1");
    std::fprintf(stderr, "options\n");
    std::fprintf(stderr, "Printer options %s\n", o.printerOptions.value_or("").c_str());
    std::fprintf(stderr, "Printer cmds %s\n", o.printerCmds.value_or("").c_str());
    std::fprintf(stderr, "File Name = %s\n", o.fileName.value_or("").c_str());
    std::fprintf(stderr, "Lutype = %d\n", o.luType.value_or(0));
    if (o.luAddress) std::fprintf(stderr, "Luaddress = %s\n", o.luAddress->c_str());
    if (o.luNumber) std::fprintf(stderr, "Lunumber = %s\n", o.luNumber->c_str());
    std::fprintf(stderr, "Linesperpage = %d\n", o.linesPerPage.value_or(0));
    std::fprintf(stderr, "StandardOutput = %d\n", o.standardOutput.value_or(false) ? 1 : 0);
    std::fprintf(stderr, "Servername = %s\n", o.serverName.value_or("").c_str());
    std::fprintf(stderr, "FixedFile = %d\n", s.fixedFile ? 1 : 0);
    std::fprintf(stderr, "end of options\n");
    std::fflush(stderr);
}

} // namespace

Settings DefaultSettings() {
    Settings s;
    s.ebcdicToAscii = kBuiltinEbcdicToAscii;
    return s;
}

Result LoadSettings(const std::string& iniPath, const std::string& commandLine,
                    bool sessionFileInForce, Settings& out) {
    return LoadSettings(iniPath, CommandArgs(commandLine), sessionFileInForce, out);
}

Result LoadSettings(const std::string& iniPath, const std::vector<std::string>& args,
                    bool sessionFileInForce, Settings& out) {
    const std::string path = iniPath.empty() ? IniPathForProgram(platform::ProgramName()) : iniPath;
    return LoadSettings(config::IniValues::Read(path), args, sessionFileInForce, out);
}

std::string PrintFileIn(const std::string& folder, const std::string& name) {
    if (name.empty() || name[0] == '/' || name[0] == '0' || strcasecmp(name.c_str(), "NUL") == 0 ||
        folder.empty())
        return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

Result LoadSettings(const config::IniValues& file, const std::vector<std::string>& args,
                    bool sessionFileInForce, Settings& out, const std::string& folder) {
    Settings s = DefaultSettings();
    s.iniPath = file.path();
    // A misread word must not reach the settings.
    const CommandWords words = ParseCommandWords(args);
    if (!words.error.empty()) {
        out = std::move(s);
        return {kBadCommandLine, words.error};
    }
    config::IniValues ini = file;
    LoadState st;
    st.values = &ini;
    st.inForce = sessionFileInForce;
    if (sessionFileInForce)
        KeepWindowValues(out, st, s);
    else
        LoadOutputSettings(ini, s);
    s.luConfigPath = LuConfigPathFromIni(ini);
    ReadSessionKeys(ini, st, s);

    Result rc = ApplyCommandLine(words, st, s);
    if (rc.ok()) {
        ApplyDefaults(st);
        ApplyCodePage(ini, s);
        if (!st.xltFile) {
            st.xltFile = st.xltValue;
            // A translation file is a byte table: it keeps today's bytes, code page or not.
            if (!st.xltValue.empty() && PrtXlateInit(st.xltValue, s.ebcdicToAscii) == 0)
                s.codePage = HostCodePage{};
        }
        ReadEngineKeys(ini, s);
        if (st.debugOption) EchoOptions(st, s);
    }
    if (st.luType) s.luType = *st.luType == 1 ? 1 : 3;
    s.service = st.serverName.value_or("");
    s.connectName = st.connectName;
    s.associateName = st.associateName;
    s.sessionId = st.luNumber;
    s.luAddress = st.luAddress;
    // Job files and failed/ belong with the settings, wherever the program was started.
    std::string base = folder;
    if (base.empty()) {
        const size_t slash = s.iniPath.rfind('/');
        if (slash != std::string::npos) base = s.iniPath.substr(0, slash == 0 ? 1 : slash);
    }
    s.fileName = PrintFileIn(base, st.fileName.value_or(""));
    // One archive for all the LUs of a settings folder (a pool's).
    if (!s.archiveDir.empty() && s.archiveDir[0] != '/') {
        const size_t slash = s.iniPath.rfind('/');
        const std::string iniDir =
            slash == std::string::npos ? base : s.iniPath.substr(0, slash == 0 ? 1 : slash);
        if (!iniDir.empty()) s.archiveDir = iniDir + "/" + s.archiveDir;
    }
    s.statusToken = PrintFileIn(base, s.statusToken);
    s.printerCmds = st.printerCmds.value_or("lpr");
    s.printerOptions = st.printerOptions.value_or("");
    s.linesPerPage = st.linesPerPage.value_or(0);
    s.standardOutput = st.standardOutput.value_or(false);
    out = std::move(s);
    return rc;
}

} // namespace config
