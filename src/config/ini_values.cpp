#include "config/ini_values.h"

#include <strings.h>

#include <fstream>
#include <sstream>
#include <string_view>

#include "config/ini.h"
#include "config/settings_table.h"
#include "platform/profile.h"

namespace config {
namespace {

constexpr size_t kValueMax = 260;

} // namespace

IniValues IniValues::Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        IniValues v;
        v.path_ = path;
        return v;
    }
    std::ostringstream text;
    text << in.rdbuf();
    IniValues v = Parse(path, text.str());
    v.exists_ = true;
    return v;
}

IniValues IniValues::Parse(const std::string& path, const std::string& text) {
    IniValues v;
    v.path_ = path;
    v.exists_ = true;
    bool inSection = false;
    int number = 0;
    std::string_view rest = text;
    while (!rest.empty()) {
        const size_t nl = rest.find('\n');
        const std::string_view line = rest.substr(0, nl);
        rest = nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1);
        ++number;
        std::string_view name, key, value;
        if (platform::IniSectionLine(line, name)) {
            inSection = platform::SameIniName(name, kIniSection);
            continue;
        }
        if (!inSection || !platform::IniKeyLine(line, key, value)) continue;
        value = platform::IniUnquote(value);
        for (const IniEntry& e : v.entries_)
            if (platform::SameIniName(e.key, key)) {
                v.repeats_.push_back(std::string(key) + " twice in [" + kIniSection + "], lines " +
                                     std::to_string(e.line) + " and " + std::to_string(number) +
                                     "; line " + std::to_string(e.line) + " is used");
                break;
            }
        v.entries_.push_back({std::string(key), std::string(value), number});
    }
    return v;
}

std::optional<std::string> IniValues::Find(const char* key) const {
    for (const IniEntry& e : entries_)
        if (platform::SameIniName(e.key, key)) return e.value.substr(0, kValueMax);
    return std::nullopt;
}

std::string IniValues::Get(const char* key, const char* def) const {
    std::optional<std::string> v = Find(key);
    return v ? *v : std::string(def ? def : "");
}

std::string IniValues::Value(const char* key) const {
    const KeySpec* row = FindKey(key);
    return Get(key, row ? row->def : "");
}

void IniValues::Set(const std::string& key, const std::string& value) {
    for (auto it = entries_.begin(); it != entries_.end(); ++it)
        if (platform::SameIniName(it->key, key) && it->line == 0) {
            entries_.erase(it);
            break;
        }
    entries_.insert(entries_.begin(), IniEntry{key, value, 0});
}

} // namespace config
