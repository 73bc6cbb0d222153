// The command-line step of LoadSettings.
#include "config/options.h"

#include "config/load_steps.h"
#include "config/lu_names.h"
#include "config/messages.h"
#include "config/utilities.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace config {

namespace {

// Option values longer than this are cut; a command line is not limited.
constexpr size_t kOptionValueMax = 255;

constexpr const char* kValueOptions[] = {"-n", "-a", "-s", "-c", "-h",
                                         "-f", "-l", "-x", "-C", "-A"};
constexpr const char* kFlags[] = {"-d", "-btam", "-FF", "-D", "-S", "-T", "-E"};

bool TakesValue(const std::string& word) {
    return std::any_of(std::begin(kValueOptions), std::end(kValueOptions),
                       [&](const char* o) { return word == o; });
}

// The program's word options: one dash in front of one is a typo, never -c with "heck".
constexpr const char* kWordOptions[] = {"check", "pool", "help", "version"};

bool IsWordOptionTypo(const std::string& word) {
    return word.size() > 2 && word[1] != '-' &&
           std::any_of(std::begin(kWordOptions), std::end(kWordOptions),
                       [&](const char* o) { return word.compare(1, std::string::npos, o) == 0; });
}

bool IsFlag(const std::string& word) {
    return std::any_of(std::begin(kFlags), std::end(kFlags),
                       [&](const char* o) { return word == o; });
}

// The file's directives beat the options read before -c and the INI file.
void MergeLuFile(const LuFileValues& file, LoadState& state, Settings& out) {
    auto take = [](auto& to, const auto& from) {
        if (from) to = from;
    };
    take(state.printerCmds, file.printerCmds);
    take(state.printerOptions, file.printerOptions);
    take(state.luNumber, file.luNumber);
    take(state.luAddress, file.luAddress);
    take(state.fileName, file.fileName);
    take(state.xltFile, file.xltFile);
    take(state.serverName, file.serverName);
    take(state.linesPerPage, file.linesPerPage);
    take(state.luType, file.luType);
    take(state.standardOutput, file.standardOutput);
    if (file.portName) out.portName = *file.portName;
    out.luNames = file.names;
    out.statusMessages = file.statusMessages;
    if (file.channelsFixed) {
        out.channelsFixed = true;
        out.channels = file.channels;
    }
}

Result Conflict(const LoadState& state) {
    if (state.debugOption) std::fprintf(stderr, "CANNOT SPECIFY BOTH ASSOCIATE AND CONNECT\n");
    return {kConflictingNames,
            "a connect name and an associate name cannot be used together: " + state.connectFrom +
                " and " + state.associateFrom,
            state.connectFrom + " " + state.associateFrom};
}

// The key an option sets: seen by the rest of the load and the check at once,
// written back only when the start passed its check.
void Keep(LoadState& state, Settings& out, const char* key, const std::string& value) {
    out.optionKeys.emplace_back(key, value);
    if (state.values) state.values->Set(key, value);
}

} // namespace

const std::string& CommandWords::Value(const char* option) const {
    static const std::string none;
    auto it = options.find(option);
    return it == options.end() ? none : it->second;
}

CommandWords ParseCommandWords(const std::vector<std::string>& args) {
    CommandWords out;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        if (word.size() < 2 || word[0] != '-') {
            out.operands.push_back(word);
            continue;
        }
        if (IsFlag(word)) {
            out.options[word].clear();
            continue;
        }
        if (IsWordOptionTypo(word)) {
            out.error = "unknown option " + word + " (did you mean -" + word + "?)";
            return out;
        }
        std::string option = word.substr(0, 2), value;
        if (!TakesValue(option)) {
            out.error = "unknown option " + word;
            return out;
        }
        if (word.size() > 2) {
            value = word.substr(2);
        } else if (i + 1 < args.size() && !TakesValue(args[i + 1]) && !IsFlag(args[i + 1])) {
            value = args[++i];
        } else {
            out.error = "option " + option + " needs a value";
            return out;
        }
        out.options[option] = value.substr(0, kOptionValueMax);
    }
    return out;
}

std::vector<std::string> CommandArgs(const std::string& commandLine) {
    std::vector<std::string> words;
    size_t p = 0;
    while (p < commandLine.size()) {
        p = commandLine.find_first_not_of(" \t", p);
        if (p == std::string::npos) break;
        size_t end = std::min(commandLine.find_first_of(" \t", p), commandLine.size());
        words.push_back(commandLine.substr(p, end - p));
        p = end;
    }
    if (!words.empty()) words.erase(words.begin());
    return words;
}

Result ApplyCommandLine(const CommandWords& cl, LoadState& state, Settings& out) {
    if (state.connectName) state.connectFrom = "CONNECTNAME=" + *state.connectName;
    if (state.associateName) state.associateFrom = "ASSOCIATENAME=" + *state.associateName;
    const bool free = !state.inForce; // the window's connection values are not in force
    auto found = [&](const char* option, std::string& v) {
        if (!cl.Has(option)) return false;
        v = cl.Value(option);
        return true;
    };
    std::string v;
    if (found("-n", v)) {
        state.sessionIdText = v;
        Keep(state, out, "SESSIONID", v);
    }
    if (found("-a", v) && free) {
        state.luAddress = v;
        state.luAddressText = v;
        Keep(state, out, "LUADDRESS", v);
    }
    if (cl.Has("-d")) {
        state.debugOption = true;
        gDebug = 1;
        DebugOpen();
    }
    if (cl.Has("-btam")) {
        out.btam = true;
        out.formFeed = false;
    }
    if (cl.Has("-FF")) {
        out.formFeed = true;
        out.btam = false;
    }
    if (cl.Has("-D")) out.fixedFile = true;
    if (found("-s", v) && free) {
        state.serverName = v;
        Keep(state, out, "SERVERNAME", v);
    }
    if (cl.Has("-S")) state.standardOutputRequested = true;
    if (found("-c", v) && free && !v.empty()) {
        Keep(state, out, "CONFIGFILE", v);
        if (state.values) out.luConfigPath = LuConfigPathFromIni(*state.values);
        LuFileValues file;
        Result read = ParseLuConfig(v, file);
        MergeLuFile(file, state, out);
        if (!read.ok()) return read;
    }
    if (found("-h", v) && free) {
        out.host = v;
        Keep(state, out, "HOSTNAME", v);
    }
    if (found("-f", v)) {
        state.fileNameText = v;
        Keep(state, out, "FILENAME", v);
    }
    if (found("-l", v)) {
        state.luTypeValue = v == "1" ? 1 : 3;
        Keep(state, out, "LUTYPE", v);
    }
    if (found("-x", v)) state.xltValue = v;
    if (cl.Has("-T")) out.translate = false;
    if (found("-C", v)) {
        state.connectFrom = "-C " + v;
        if (state.associateName) return Conflict(state);
        if (free) {
            state.connectName = v;
            Keep(state, out, "CONNECTNAME", v);
        }
    }
    if (found("-A", v)) {
        state.associateFrom = "-A " + v;
        if (state.connectName) return Conflict(state);
        if (free) {
            state.associateName = v;
            Keep(state, out, "ASSOCIATENAME", v);
        }
    }
    if (cl.Has("-E")) {
        out.use3270E = true;
        Keep(state, out, "3270E", "1");
    }
    return {};
}

} // namespace config
