#include "platform/profile.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <vector>

namespace platform {
namespace {

// The window and the sessions all write settings; each write is a
// read-modify-replace of the whole file and must not lose another's key.
std::mutex gWriteLock;

// The file's bytes; exists says whether it could be opened.
std::string ReadText(const std::string& path, bool& exists) {
    std::string text;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    exists = fd >= 0;
    if (fd < 0) return text;
    struct stat st;
    if (::fstat(fd, &st) == 0 && st.st_size > 0) text.reserve(static_cast<size_t>(st.st_size));
    char chunk[16384];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(chunk, static_cast<size_t>(n));
    }
    ::close(fd);
    return text;
}

// The text's lines without their LF; a last LF starts no further line.
std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const size_t nl = text.find('\n');
        lines.push_back(text.substr(0, nl));
        if (nl == std::string_view::npos) break;
        text.remove_prefix(nl + 1);
    }
    return lines;
}

} // namespace

std::string_view TrimIniBlanks(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r'))
        ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r'))
        --e;
    return s.substr(b, e - b);
}

bool SameIniName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

bool IniSectionLine(std::string_view line, std::string_view& name) {
    line = TrimIniBlanks(line);
    if (line.size() < 2 || line.front() != '[') return false;
    size_t close = line.find(']');
    if (close == std::string_view::npos) return false;
    name = TrimIniBlanks(line.substr(1, close - 1));
    return true;
}

bool IniKeyLine(std::string_view line, std::string_view& key, std::string_view& value) {
    std::string_view t = TrimIniBlanks(line);
    if (t.empty() || t.front() == ';' || t.front() == '#') return false;
    size_t eq = t.find('=');
    if (eq == std::string_view::npos) return false;
    key = TrimIniBlanks(t.substr(0, eq));
    value = TrimIniBlanks(t.substr(eq + 1));
    return !key.empty();
}

std::string_view IniUnquote(std::string_view v) {
    if (v.size() >= 2 &&
        ((v.front() == '"' && v.back() == '"') || (v.front() == '\'' && v.back() == '\'')))
        v = v.substr(1, v.size() - 2);
    return v;
}

std::string IniTextGet(std::string_view text, std::string_view section, std::string_view key,
                       std::string_view def) {
    bool inSection = false;
    for (const std::string_view line : Lines(text)) {
        std::string_view name;
        if (IniSectionLine(line, name)) {
            inSection = SameIniName(name, section);
            continue;
        }
        std::string_view k, v;
        if (inSection && IniKeyLine(line, k, v) && SameIniName(k, key))
            return std::string(IniUnquote(v));
    }
    return std::string(def);
}

std::string ProfileGetString(std::string_view section, std::string_view key, std::string_view def,
                             const std::string& path) {
    bool exists = false;
    return IniTextGet(ReadText(path, exists), section, key, def);
}

std::string IniTextWith(std::string_view text, std::string_view section, std::string_view key,
                        std::string_view value) {
    std::vector<std::string_view> lines = Lines(text);
    // A line break inside a value would forge further keys.
    std::string clean(value);
    for (char& c : clean)
        if (c == '\n' || c == '\r') c = ' ';
    std::string entry;
    entry.reserve(key.size() + 1 + clean.size());
    entry.append(key).append(1, '=').append(clean);
    std::string header;

    bool inSection = false, done = false;
    size_t sectionEnd = std::string::npos; // index after the last line of our section
    for (size_t i = 0; i < lines.size() && !done; ++i) {
        std::string_view name;
        if (IniSectionLine(lines[i], name)) {
            if (inSection) break;
            inSection = SameIniName(name, section);
            if (inSection) sectionEnd = i + 1;
            continue;
        }
        if (!inSection) continue;
        std::string_view k, v;
        if (IniKeyLine(lines[i], k, v) && SameIniName(k, key)) {
            lines[i] = entry;
            done = true;
        } else if (!TrimIniBlanks(lines[i]).empty()) {
            sectionEnd = i + 1;
        }
    }
    if (!done) {
        if (sectionEnd == std::string::npos) {
            if (!lines.empty() && !TrimIniBlanks(lines.back()).empty()) lines.emplace_back();
            header.reserve(section.size() + 2);
            header.append(1, '[').append(section).append(1, ']');
            lines.push_back(header);
            lines.push_back(entry);
        } else {
            lines.insert(lines.begin() + static_cast<long>(sectionEnd), entry);
        }
    }

    std::string out;
    out.reserve(text.size() + entry.size() + header.size() + 3);
    for (const std::string_view l : lines)
        out.append(l).append(1, '\n');
    return out;
}

bool ProfileWriteString(std::string_view section, std::string_view key, std::string_view value,
                        const std::string& path) {
    std::lock_guard<std::mutex> lock(gWriteLock);

    bool exists = false;
    const std::string before = ReadText(path, exists);
    struct stat present;
    if (!exists && ::stat(path.c_str(), &present) == 0) return false; // there but unreadable
    const std::string text = IniTextWith(before, section, key, value);

    std::string tmp = path + ".tmpXXXXXX";
    int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    ::fchmod(fd, exists && ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644);
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            ::unlink(tmp.c_str());
            return false;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        ::unlink(tmp.c_str());
        return false;
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

} // namespace platform
