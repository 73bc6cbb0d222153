// The settings looked over once at start and by --check: each bad value named
// with what was expected, the fallback applied, or the reason the run cannot start.
#pragma once
#include <string>
#include <vector>

#include "config/ini_values.h"

namespace config {

struct Settings;

// Exit codes (and message numbers) of settings that stop the run.
inline constexpr int kStopLuType = 52;  // LUTYPE other than 1 or 3
inline constexpr int kStopSpool = 97;   // the print file folder cannot be written
inline constexpr int kStopTlsFile = 98; // a TLS file cannot be read while TLS is on

struct SettingsCheck {
    // "KEY=value: expected ..." per bad value, "unknown key ..." per key the
    // program does not know, and one line per key given twice.
    std::vector<std::string> lines;
    std::vector<std::string> badKeys; // the keys of the bad values, upper case
    int stop = 0;                     // the first stopping setting's code, else 0
};

// Checks the values behind settings (the file's section with the options' keys
// of settings.optionKeys over it) and puts the documented fallback into
// settings where one applies.
SettingsCheck CheckSettings(const config::IniValues& ini, Settings& settings);
// The same for the file at iniPath, read for it.
SettingsCheck CheckSettings(const std::string& iniPath, Settings& settings);

// Writes the options' keys of settings to its INI file when the check found
// none of them bad and nothing stops the run; false when nothing was written
// for that reason or a write failed.
bool SaveOptionKeys(const Settings& settings, const SettingsCheck& check);

} // namespace config
