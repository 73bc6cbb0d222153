// The options of a command line, read word by word.
#pragma once
#include <map>
#include <string>
#include <vector>

namespace config {

struct CommandWords {
    // Option word ("-s") to its value; options without a value map to "".
    std::map<std::string, std::string> options;
    // Words that are no option (the window takes a session file so).
    std::vector<std::string> operands;
    // Set when a word could not be read: "unknown option -q", "option -s needs a value".
    std::string error;

    bool Has(const char* option) const { return options.count(option) != 0; }
    const std::string& Value(const char* option) const;
};

// Reads args (the program path left out). A value follows its option as the
// next word or glued to it (-s23); a word that is itself an option is no value.
// A later occurrence of an option replaces an earlier one. Values are cut at
// 255 characters.
CommandWords ParseCommandWords(const std::vector<std::string>& args);

// A command line as one text: its blank-separated words, the first (the program) left out.
std::vector<std::string> CommandArgs(const std::string& commandLine);

} // namespace config
