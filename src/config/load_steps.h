// The steps of LoadSettings and the working values they pass on; for the
// config layer only.
#pragma once
#include <optional>
#include <string>

#include "config/ini_values.h"
#include "config/settings.h"

namespace config {

struct CommandWords;
struct LuFileValues;

// What the INI file, the options and the LU-name file set, in that order of
// reading; the defaults fill what none of them set.
struct LoadState {
    bool inForce = false;
    bool debugOption = false; // -d in this command line
    // INI texts that an option replaces before the defaults are applied.
    std::string luAddressText, fileNameText, sessionIdText;
    int luTypeValue = 3;
    bool standardOutputRequested = false; // -S
    std::string xltValue;                 // -x
    std::string printCommand;             // PRINTCOMMAND: used when no PRINTERCMD is set
    std::optional<std::string> luNumber, luAddress, serverName, fileName, xltFile, connectName,
        associateName, printerCmds, printerOptions;
    std::optional<int> luType, linesPerPage;
    std::optional<bool> standardOutput;
    // Where the connect and associate names came from ("-C PRT01", "CONNECTNAME=PRT01").
    std::string connectFrom, associateFrom;
    // The section with the options' keys set, as the check and the write-back see it.
    config::IniValues* values = nullptr;
};

// The connection keys: host, address, type, file name, server, session, 3270E names.
void ReadSessionKeys(const config::IniValues& ini, LoadState& state, Settings& out);
// Time-outs, TLS, printer and socket time-out: keys the engine used to read itself.
void ReadEngineKeys(const config::IniValues& ini, Settings& out);
// RETRYINTERVAL, or RETRYDELAY, its older name, where only that is set.
const char* RetryKey(const config::IniValues& ini);
// CONFIGFILE's directory (cut at 255, "\\" as "/") + "kesluprt.cfg".
std::string LuConfigPathFromIni(const config::IniValues& ini);
// CODEPAGE into out.ebcdicToAscii; an unknown page keeps the built-in table.
void ApplyCodePage(const config::IniValues& ini, Settings& out);
// OUTPUTCHARSET trimmed, "UTF-8" when empty, "" when iconv does not know it.
std::string OutputCharset(const config::IniValues& ini);

// The options read from the command line; ok, kConflictingNames or the LU-name file's failure.
Result ApplyCommandLine(const CommandWords& options, LoadState& state, Settings& out);

} // namespace config
