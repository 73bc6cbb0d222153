#include "config/utilities.h"

#include "platform/sysinfo.h"

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unistd.h>

namespace config {

std::string Lower(std::string v) {
    for (char& c : v)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return v;
}

int gDebug = 0;

namespace {
// Each session thread formats its own errors.
thread_local char buffer[300];
} // namespace

const char* FormatSystemError(const char* prefix, int code) {
    size_t prefixLen = prefix ? std::strlen(prefix) : 0;
    std::string text;
    // glibc answers unknown numbers with "Unknown error N"; that counts as no text.
    char scratch[256];
    const char* s = strerror_r(code, scratch, sizeof scratch);
    bool known = s && *s && std::strncmp(s, "Unknown error", 13) != 0;
    long room = 260 - static_cast<long>(prefixLen) - 2;
    if (known && static_cast<long>(std::strlen(s)) <= room) {
        text = s;
    } else {
        char num[64];
        std::snprintf(num, sizeof num, "%d (0x%X)", code, static_cast<unsigned>(code));
        text = num;
    }
    if (prefix)
        std::snprintf(buffer, sizeof buffer, "%s: %s", prefix, text.c_str());
    else
        std::snprintf(buffer, sizeof buffer, "%s", text.c_str());
    return buffer;
}

namespace {
FILE* gDebugLog = nullptr;
std::mutex gDebugLock;
} // namespace

void DebugOpen() {
    std::lock_guard<std::mutex> lock(gDebugLock);
    if (gDebugLog) return;
    std::string path = platform::JoinPath(platform::SettingsDirectory(), "TwPrinter.log");
    gDebugLog = std::fopen(path.c_str(), "w");
    if (gDebugLog) {
        std::fprintf(gDebugLog, "Version = %s", "1.5.1");
        std::fflush(gDebugLog);
    }
}

void DebugClose() {
    std::lock_guard<std::mutex> lock(gDebugLock);
    if (gDebugLog) std::fclose(gDebugLog);
    gDebugLog = nullptr;
}

bool DebugLogOpen() {
    std::lock_guard<std::mutex> lock(gDebugLock);
    return gDebugLog != nullptr;
}

void DebugPrint(const std::string& text) {
    std::lock_guard<std::mutex> lock(gDebugLock);
    if (!gDebugLog) return;
    std::fwrite(text.data(), 1, text.size(), gDebugLog);
    std::fflush(gDebugLog);
}

void Trace(const char* fmt, ...) {
    if (!gDebug) return;
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(stderr, fmt, ap);
    va_end(ap);
}

} // namespace config
