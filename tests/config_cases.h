// Case files of the config tests (tests/data/config/*.txt): "== title" starts a
// case, then "key: value" lines. In values \n \r \t \xHH are escapes (\ before
// any other character is that character) and {N*text} is text N times.
#pragma once
#include "testutil.h"

#include <sstream>
#include <string>
#include <utility>
#include <vector>

struct Case {
    std::string title;
    std::vector<std::pair<std::string, std::string>> items;
    std::string Get(const std::string& key) const {
        for (auto& [k, v] : items)
            if (k == key) return v;
        return "";
    }
};

inline std::string Unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        size_t star = s.find('*', i), close = s.find('}', i);
        if (s[i] == '{' && close != std::string::npos && star < close) {
            std::string piece = Unescape(s.substr(star + 1, close - star - 1));
            for (int n = std::stoi(s.substr(i + 1, star - i - 1)); n > 0; --n)
                out += piece;
            i = close;
        } else if (s[i] == '\\' && i + 1 < s.size()) {
            char e = s[++i];
            if (e == 'x') out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += e == 'x' ? 2 : 0;
            if (e != 'x') out += e == 'n' ? '\n' : e == 'r' ? '\r' : e == 't' ? '\t' : e;
        } else {
            out += s[i];
        }
    }
    return out;
}

inline std::vector<Case> LoadCases(const std::string& name) {
    std::istringstream in(testutil::ReadFile(std::string(TEST_DATA_DIR) + "/config/" + name));
    std::vector<Case> cases;
    for (std::string line; std::getline(in, line);) {
        size_t colon = line.find(':'), v = line.find_first_not_of(' ', colon + 1);
        if (line.rfind("== ", 0) == 0)
            cases.push_back({line.substr(3), {}});
        else if (!cases.empty() && !line.empty() && line[0] != '#')
            cases.back().items.emplace_back(line.substr(0, colon),
                                            v == std::string::npos ? "" : Unescape(line.substr(v)));
    }
    return cases;
}

// "name=value" split at the first "=".
inline std::pair<std::string, std::string> NameValue(const std::string& item) {
    size_t eq = item.find('=');
    return {item.substr(0, eq), eq == std::string::npos ? "" : item.substr(eq + 1)};
}
