// The settings file: section CONFIGURATION of "<INI dir>/<program>.ini".
//
// gIniPath, IniGet and IniSet are the program's own file, set once at start and
// used by the window for its fields. Engine code (session, data stream, output)
// never calls IniGet or IniSet: it gets every value from its Settings, and
// LoadSettings writes the keys the command-line options name.
#pragma once
#include <string>

namespace config {

inline constexpr const char* kIniSection = "CONFIGURATION";

// Full path of the program's INI file.
extern std::string gIniPath;
// "<INI dir>/<program>.ini"; twprinterd shares twprinter.ini.
std::string IniPathForProgram(const std::string& programName);
// Sets gIniPath from the program name.
void SetIniPathFromProgram(const std::string& programName);

// A key of gIniPath, cut at 260 characters.
std::string IniGet(const char* key, const char* def);
bool IniSet(const char* key, const std::string& value);

// A key of the file at path, cut at 260 characters.
std::string IniRead(const std::string& path, const char* key, const char* def);
bool IniWrite(const std::string& path, const char* key, const std::string& value);

int WriteDefaultIni(const std::string& iniPath);
// Writes the default file when gIniPath does not exist yet.
void EnsureDefaultIni();

} // namespace config
