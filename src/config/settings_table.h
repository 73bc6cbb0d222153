// Every key of the settings file, once: its name, kind, default, what it may
// be, the option and window field that set it, and where else it is carried.
// Loading, the start's check, --check, the window's defaults and the man page's
// key list all follow this table.
//
// Adding a key: one row in kSettingKeys (settings_table.cpp), its entry in
// packaging/man/twprinter.ini.5 (a test compares the two), and the code that
// reads it through IniValues::Value(KEY), which gives the row's default.
#pragma once
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace config {

enum class KeyKind {
    Text,    // anything; no check
    Switch,  // "0" or "1" (empty is the default)
    Choice,  // one of allowed ("|"-separated, without case; numbers compare as numbers)
    Seconds, // a whole number of seconds in low..high; a leading number is taken
    Number,  // a whole number in low..high
    Special, // checked by its own code in settings_check.cpp
};

struct KeySpec {
    const char* name;
    KeyKind kind;
    const char* def;      // the value used when the file does not set the key
    const char* allowed;  // Choice: the values ("|auto|..." lets an empty one in)
    long low, high;       // Seconds and Number
    const char* expected; // "KEY=value: expected <this>" when a value is bad
    int stop;             // exit code of a bad value that stops the run, 0 none
    const char* option;   // command-line option that writes the key, "" none
    const char* field;    // setup window field that shows it, "" none
    bool sessionFile;     // a session file (.twr) carries it
    bool poolFile;        // it has an effect in a pool's NAME.ini
    const char* description;
};

std::span<const KeySpec> SettingKeys();
// The row of a key (any case), nullptr for a key the program does not know.
const KeySpec* FindKey(std::string_view name);
// The known key closest to name (a typo of one or two letters), "" when none is close.
std::string SuggestKey(std::string_view name);
// Whether value is one of a Choice row's values.
bool ChoiceAllows(const KeySpec& key, const std::string& value);
// A Choice row's values in the table's order ("" among them when nothing is allowed).
std::vector<std::string> ChoiceValues(const KeySpec& key);

} // namespace config
