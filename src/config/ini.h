// Settings in section CONFIGURATION of the INI file.
#pragma once
#include <string>

inline constexpr const char* kIniSection = "CONFIGURATION";

// Full path of the INI file in use ("<dir>/<program>.ini").
extern std::string gIniPath;
// Sets gIniPath from the program name ("twprinterd" -> "twprinter.ini" in the INI dir).
void SetIniPathFromProgram(const std::string& programName);

std::string IniGet(const char* key, const char* def);
bool IniSet(const char* key, const std::string& value);

void ReadIniFile(const std::string& iniPath, std::string& luAddressText, int& luTypeValue,
                 std::string& fileNameText, std::string& sessionIdText);
int WriteDefaultIni(const std::string& iniPath);
// Writes the default file when gIniPath does not exist yet.
void EnsureDefaultIni();
