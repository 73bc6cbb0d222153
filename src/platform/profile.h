// INI "profile" functions: one key of one section at a time.
#pragma once
#include <string>
#include <string_view>

namespace platform {

// An INI line or name without its leading and trailing blanks, tabs and CR.
std::string_view TrimIniBlanks(std::string_view s);
// INI section and key names compare without regard to case.
bool SameIniName(std::string_view a, std::string_view b);
// "[name]", blanks allowed: true and its name; false for any other line.
bool IniSectionLine(std::string_view line, std::string_view& name);
// "key=value" that is not a comment: true, both trimmed; false for any other line.
bool IniKeyLine(std::string_view line, std::string_view& key, std::string_view& value);
// value without one pair of enclosing quotes, double or single.
std::string_view IniUnquote(std::string_view value);

// Value of key in section, or def when the file, section or key is missing.
// Section and key names compare without regard to case.
std::string ProfileGetString(std::string_view section, std::string_view key, std::string_view def,
                             const std::string& path);

// Writes one key, creating the file and the section when needed. Other lines
// and comments are kept; the file is replaced atomically (temp + fsync + rename).
bool ProfileWriteString(std::string_view section, std::string_view key, std::string_view value,
                        const std::string& path);

// The same two on a file's text held in memory.
std::string IniTextGet(std::string_view text, std::string_view section, std::string_view key,
                       std::string_view def);
// The text with key set in section, the section added at the end when missing.
std::string IniTextWith(std::string_view text, std::string_view section, std::string_view key,
                        std::string_view value);

} // namespace platform
