#include "config/lu_names.h"

#include "config/messages.h"
#include "config/utilities.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>

namespace config {

namespace {

constexpr size_t kLineMax = 255;
constexpr size_t kLuNameMax = 16;

bool Blank(char c) {
    return c == ' ' || c == '\t';
}

long Digits(const std::string& s) {
    long n = 0;
    for (char c : s) {
        if (c < '0' || c > '9') break;
        if (n < INT_MAX / 10) n = n * 10 + (c - '0');
    }
    return n;
}

// Leading blanks and a sign allowed; stops at the first other character.
long SignedNumber(const char* p) {
    while (*p == ' ' || *p == '\t')
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    long n = 0;
    while (*p >= '0' && *p <= '9') {
        if (n < 100000) n = n * 10 + (*p - '0');
        ++p;
    }
    return negative ? -n : n;
}

std::string NameNumber(const std::string& name, long number) {
    return name + " " + std::to_string(number);
}

using Table = std::map<int, std::string>;

// The name at lu, "" when the file gave none.
const std::string& At(const Table& t, int lu) {
    static const std::string kNone;
    auto it = t.find(lu);
    return it == t.end() ? kNone : it->second;
}

Result ConnectLu(const std::string& directive, const std::string& name, Table& connect) {
    if (directive.size() != 11 && directive.size() != 12) {
        return {MSG_CFG_CONNECT_LU, std::to_string(directive.size())};
    }
    long lu = SignedNumber(directive.c_str() + 9);
    if (lu < 0 || lu > 255) {
        return {MSG_CFG_CONNECT_LU, std::to_string(lu)};
    }
    if (name.size() > kLuNameMax) return MSG_CFG_CONNECT_TOO_LONG;
    if (!At(connect, lu).empty()) {
        return {MSG_CFG_DUP_CONNECT_LU, NameNumber(name, lu)};
    }
    connect[lu] = name;
    for (const auto& [i, other] : connect) {
        if (other.empty()) continue;
        Trace("For %d %s\n", i, other.c_str());
        if (i != lu && other == name) {
            return {MSG_CFG_DUP_CONNECT_NAME, NameNumber(name, i)};
        }
    }
    return 0;
}

Result AssociateLu(const std::string& directive, const std::string& name, const Table& connect,
                   Table& associate) {
    if (directive.size() != 13 && directive.size() != 14) {
        return {MSG_CFG_ASSOC_NAME, std::to_string(directive.size())};
    }
    long lu = SignedNumber(directive.c_str() + 11);
    if (lu < 0 || lu > 255) {
        return {MSG_CFG_ASSOC_NAME, std::to_string(lu)};
    }
    if (name.size() > kLuNameMax) {
        return {MSG_CFG_ASSOC_TOO_LONG, name};
    }
    if (!At(associate, lu).empty()) {
        return {MSG_CFG_DUP_ASSOC_LU, NameNumber(name, lu)};
    }
    associate[lu] = name;
    // Every number the file leaves out holds the empty name, as a full table would.
    for (int i = 0; i < 256; ++i) {
        if (i != lu && At(associate, i) == name) {
            return {MSG_CFG_DUP_ASSOC_NAME, NameNumber(name, i)};
        }
    }
    for (int i = 0; i < 256; ++i) {
        if (At(connect, i) == name) {
            Trace("You Associated %s %ld with Connect %d\n", name.c_str(), lu, i);
            return 0;
        }
    }
    return {MSG_CFG_NO_CONNECT_FOR_ASSOC, name};
}

void Channels(const std::string& value, LuFileValues& values) {
    std::string list = value;
    size_t start = list.find_first_not_of(" \t");
    list = start == std::string::npos ? std::string() : list.substr(start);
    if (list.size() > 99) list.resize(99);
    size_t index = 3;
    size_t pos = 0;
    while (index < values.channels.size()) {
        size_t blank = list.find(' ', pos);
        std::string piece =
            list.substr(pos, blank == std::string::npos ? std::string::npos : blank - pos);
        if (piece.size() > 5) break;
        values.channels[index++] = static_cast<uint8_t>(Digits(piece));
        if (blank == std::string::npos) break;
        pos = blank + 1;
    }
    values.channelsFixed = true;
    for (int i = 0; i < 12; ++i)
        Trace("gVformat %d %x\n", i, values.channels[3 + i]);
}

void PrintMsg(const std::string& directive, const std::string& text, StatusTexts& messages) {
    char word[256] = {}, number[256] = {};
    if (std::sscanf(directive.c_str(), "%255[a-zA-Z0-9] . %255[a-zA-Z0-9]", word, number) != 2)
        return;
    long n = Digits(number);
    if (n >= 1 && n < kStatusCount && !text.empty()) messages[n] = text;
}

bool StartsWith(const std::string& s, const char* word) {
    return s.rfind(word, 0) == 0;
}

} // namespace

LuConfigReader::~LuConfigReader() {
    Close();
}

void LuConfigReader::Close() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
    line_ = 0;
}

void LuConfigReader::KeepRest(const std::string& chunk, size_t from) {
    size_t end = chunk.find_first_of("#\n", from);
    rest_ = chunk.substr(from, end == std::string::npos ? std::string::npos : end - from);
    size_t nul = rest_.find('\0');
    if (nul != std::string::npos) rest_.resize(nul);
    while (!rest_.empty() && (rest_.back() == ' ' || rest_.back() == '\t'))
        rest_.pop_back();
}

// One read of up to 255 characters, the line feed included when it fits. A CR
// right before the line feed is dropped. Returns false at end of file or error.
bool LuConfigReader::ReadChunk(std::string& chunk, bool& error) {
    chunk.clear();
    error = false;
    int c = 0;
    while (chunk.size() < kLineMax) {
        c = std::fgetc(file_);
        if (c == EOF) break;
        chunk += static_cast<char>(c);
        if (c == '\n') break;
    }
    if (c == EOF && std::ferror(file_)) {
        error = true;
        return false;
    }
    if (chunk.empty()) return false;
    if (chunk.size() >= 2 && chunk[chunk.size() - 1] == '\n' && chunk[chunk.size() - 2] == '\r')
        chunk.erase(chunk.size() - 2, 1);
    return true;
}

bool LuConfigReader::Next(std::string& name, std::string& value, Result& end) {
    name.clear();
    value.clear();
    rest_.clear();
    if (!file_) {
        file_ = std::fopen(path_.c_str(), "rb");
        line_ = 0;
        if (!file_) {
            end = {MSG_CFG_OPEN, path_, path_};
            return false;
        }
    }
    std::string chunk;
    bool error = false;
    while (ReadChunk(chunk, error)) {
        ++line_;
        int state = 0;
        name.clear();
        value.clear();
        for (size_t i = 0;; ++i) {
            // A NUL ends the line as the end of the read text would.
            char c = i < chunk.size() ? chunk[i] : '\n';
            bool eol = c == '\n' || c == '\0';
            switch (state) {
            case 0:
                if (Blank(c)) break;
                if (eol || c == '#') goto next_line;
                name += c;
                state = 1;
                break;
            case 1:
                if (Blank(c)) {
                    state = 2;
                } else if (c == '=' || c == ':') {
                    state = 3;
                } else if (eol || c == '#') {
                    goto syntax;
                } else {
                    name += c;
                }
                break;
            case 2:
                if (Blank(c)) break;
                if (c == '=' || c == ':') {
                    state = 3;
                    break;
                }
                goto syntax;
            case 3:
                if (Blank(c)) break;
                if (c == '"') {
                    state = 5;
                    break;
                }
                if (eol || c == '#') goto syntax;
                value += c;
                state = 4;
                break;
            case 4:
                if (Blank(c)) {
                    KeepRest(chunk, i + 1);
                    return true;
                }
                if (c == '#' || eol) return true;
                value += c;
                break;
            case 5:
                if (c == '"' || eol) return true;
                if (c == '\\') {
                    state = 6;
                    break;
                }
                value += c;
                break;
            case 6:
                value += '\\';
                if (eol) {
                    value += '\n';
                    return true;
                }
                value += c;
                state = 5;
                break;
            }
            if (eol) break;
        }
    next_line:;
    }
    Close();
    if (error) {
        end = {MSG_CFG_READ, "32", path_};
        return false;
    }
    end = {};
    return false;

syntax:
    end = {MSG_CFG_SYNTAX, std::to_string(line_), path_};
    Close();
    return false;
}

Result ParseLuConfig(const std::string& path, LuFileValues& values) {
    if (path.empty()) return MSG_CFG_NO_NAME;
    LuConfigReader reader(path);
    std::string name, value;
    for (;;) {
        Result end;
        if (!reader.Next(name, value, end)) return end;
        for (char& c : name)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        Trace("var %s and parm = %s\n", name.c_str(), value.c_str());
        Result result;
        if (name == "PU") {
            Trace("HELLO FROM PU %ld\n", Digits(value));
        } else if (StartsWith(name, "CONNECTLU")) {
            result = ConnectLu(name, value, values.names.connect);
        } else if (StartsWith(name, "ASSOCIATELU")) {
            result = AssociateLu(name, value, values.names.connect, values.names.associate);
        } else if (StartsWith(name, "PRINTERCMD")) {
            values.printerCmds = value;
        } else if (name == "PRINTEROPTIONS") {
            values.printerOptions = value;
        } else if (name == "LINESPERPAGE") {
            values.linesPerPage = static_cast<int>(Digits(value));
        } else if (name == "LUNUMBER") {
            values.luNumber = value;
        } else if (name == "LUADDRESS") {
            values.luAddress = value;
        } else if (name == "LUTYPE") {
            values.luType = static_cast<int>(Digits(value));
        } else if (name == "STDOUT") {
            values.standardOutput = value == "Y";
        } else if (name == "PRINT2PORT") {
            values.portName = value;
        } else if (name == "FILENAME") {
            values.fileName = value;
        } else if (name == "XLTFILE") {
            values.xltFile = value;
        } else if (name == "SERVERNAME") {
            values.serverName = value;
        } else if (name == "CHANNELS") {
            // A channel list is written unquoted as "1 6 12": it runs on to the
            // comment or the line end.
            const std::string& rest = reader.restOfLine();
            Channels(rest.empty() ? value : value + " " + rest, values);
        } else if (StartsWith(name, "PRINTMSG")) {
            PrintMsg(name, value, values.statusMessages);
        } else {
            Trace("ERROR IN var %s\n", name.c_str());
        }
        if (!result.ok()) {
            result.subject = path;
            return result;
        }
    }
}

} // namespace config
