// The settings file's [CONFIGURATION] section, read once into a value that the
// loading and the checks are handed. Nothing here writes the file.
#pragma once
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace config {

struct IniEntry {
    std::string key;   // as written
    std::string value; // trimmed, one pair of quotes taken off
    int line;          // 1-based line of the file, 0 for a value set in memory
};

class IniValues {
  public:
    // The section of the file at path; an absent or unreadable file gives no entries.
    static IniValues Read(const std::string& path);
    // The section of a file's text, as Read takes it.
    static IniValues Parse(const std::string& path, const std::string& text);

    const std::string& path() const { return path_; }
    bool fileExists() const { return exists_; }
    // The first entry of key (any case), or nullopt; cut at 260 characters.
    std::optional<std::string> Find(const char* key) const;
    // The first entry of key, or def when the file does not set it.
    std::string Get(const char* key, const char* def) const;
    // The first entry of key, or the default of its row of the settings table.
    std::string Value(const char* key) const;
    // Sets key in memory ahead of the file's entries (an option's value).
    void Set(const std::string& key, const std::string& value);
    const std::vector<IniEntry>& entries() const { return entries_; }
    // "KEY twice in [CONFIGURATION], lines 3 and 7; line 3 is used", one per repeat.
    const std::vector<std::string>& repeats() const { return repeats_; }

  private:
    std::string path_;
    bool exists_ = false;
    std::vector<IniEntry> entries_;
    std::vector<std::string> repeats_;
};

} // namespace config
