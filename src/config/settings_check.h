// The settings looked over once at start: each bad value named with what was
// expected, the fallback applied, or the reason the run cannot start.
#pragma once
#include <string>
#include <vector>

struct Settings;

// Exit codes (and message numbers) of settings that stop the run.
inline constexpr int kStopLuType = 52;  // LUTYPE other than 1 or 3
inline constexpr int kStopSpool = 97;   // the print file folder cannot be written
inline constexpr int kStopTlsFile = 98; // a TLS file cannot be read while TLS is on

struct SettingsCheck {
    std::vector<std::string> lines; // "KEY=value: expected ..." per bad setting
    int stop = 0;                   // the first stopping setting's code, else 0
};

// Checks the INI values behind settings (read from iniPath after the options
// wrote theirs) and puts the documented fallback into settings where one applies.
SettingsCheck CheckSettings(const std::string& iniPath, Settings& settings);
