#include "config/utilities.h"

#include "platform/sysinfo.h"

#include <netdb.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unistd.h>

int gDebug = 0;
void (*gFatalErrorBox)(const char* text) = nullptr;

void FatalError(const char* module, const char* function, const char* text) {
    char box[512];
    std::snprintf(box, sizeof box, "Fatal Error: %s:%s - %s\n", module, function, text);
    std::fputs(box, stderr);
    std::fprintf(stderr, "%s:%s - %s\n", module, function, text);
    std::fflush(stderr);
    if (gFatalErrorBox) gFatalErrorBox(box);
    std::_Exit(3);
}

void* KesCalloc(size_t count, size_t size) {
    void* p = std::calloc(count ? count : 1, size ? size : 1);
    if (!p) FatalError("Memory", "KesCalloc", "calloc failed");
    return p;
}

void* KesMalloc(size_t size) {
    void* p = std::malloc(size ? size : 1);
    if (!p) FatalError("Memory", "KesMalloc", "malloc failed");
    return p;
}

void* KesRealloc(void* block, size_t size) {
    void* p = std::realloc(block, size ? size : 1);
    if (!p) FatalError("Memory", "KesRealloc", "realloc failed");
    return p;
}

void KesFree(void* block) {
    std::free(block);
}

void ReplaceString(std::string& old, const std::string& text) {
    if (&old == &text) return;
    old.assign(text);
}

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

struct WsaName {
    int err;
    int wsa;
    const char* name;
};

// Socket errno values and the Winsock numbers and names they stand for.
constexpr WsaName kWsaNames[] = {
    {EINTR, 10004, "WSAEINTR"},
    {EBADF, 10009, "WSAEBADF"},
    {EACCES, 10013, "WSAEACCES"},
    {EFAULT, 10014, "WSAEFAULT"},
    {EINVAL, 10022, "WSAEINVAL"},
    {EMFILE, 10024, "WSAEMFILE"},
    {EWOULDBLOCK, 10035, "WSAEWOULDBLOCK"},
    {EINPROGRESS, 10036, "WSAEINPROGRESS"},
    {EALREADY, 10037, "WSAEALREADY"},
    {ENOTSOCK, 10038, "WSAENOTSOCK"},
    {EDESTADDRREQ, 10039, "WSAEDESTADDRREQ"},
    {EMSGSIZE, 10040, "WSAEMSGSIZE"},
    {EPROTOTYPE, 10041, "WSAEPROTOTYPE"},
    {ENOPROTOOPT, 10042, "WSAENOPROTOOPT"},
    {EPROTONOSUPPORT, 10043, "WSAEPROTONOSUPPORT"},
    {ESOCKTNOSUPPORT, 10044, "WSAESOCKTNOSUPPORT"},
    {EOPNOTSUPP, 10045, "WSAEOPNOTSUPP"},
    {EPFNOSUPPORT, 10046, "WSAEPFNOSUPPORT"},
    {EAFNOSUPPORT, 10047, "WSAEAFNOSUPPORT"},
    {EADDRINUSE, 10048, "WSAEADDRINUSE"},
    {EADDRNOTAVAIL, 10049, "WSAEADDRNOTAVAIL"},
    {ENETDOWN, 10050, "WSAENETDOWN"},
    {ENETUNREACH, 10051, "WSAENETUNREACH"},
    {ENETRESET, 10052, "WSAENETRESET"},
    {ECONNABORTED, 10053, "WSAECONNABORTED"},
    {ECONNRESET, 10054, "WSAECONNRESET"},
    {ENOBUFS, 10055, "WSAENOBUFS"},
    {EISCONN, 10056, "WSAEISCONN"},
    {ENOTCONN, 10057, "WSAENOTCONN"},
    {ESHUTDOWN, 10058, "WSAESHUTDOWN"},
    {ETOOMANYREFS, 10059, "WSAETOOMANYREFS"},
    {ETIMEDOUT, 10060, "WSAETIMEDOUT"},
    {ECONNREFUSED, 10061, "WSAECONNREFUSED"},
    {ELOOP, 10062, "WSAELOOP"},
    {ENAMETOOLONG, 10063, "WSAENAMETOOLONG"},
    {EHOSTDOWN, 10064, "WSAEHOSTDOWN"},
    {EHOSTUNREACH, 10065, "WSAEHOSTUNREACH"},
    {ENOTEMPTY, 10066, "WSAENOTEMPTY"},
    {EUSERS, 10068, "WSAEUSERS"},
    {EDQUOT, 10069, "WSAEDQUOT"},
    {ESTALE, 10070, "WSAESTALE"},
    {EREMOTE, 10071, "WSAEREMOTE"},
};

} // namespace

int WinsockErrorName(int err, std::string& out) {
    for (const WsaName& w : kWsaNames) {
        if (w.err == err) {
            out = w.name;
            return w.wsa;
        }
    }
    out = "Unknown error";
    return err;
}

int HostErrorName(int herr, std::string& out) {
    switch (herr) {
    case EAI_NONAME:
    case HOST_NOT_FOUND:
        out = "WSAHOST_NOT_FOUND";
        return 11001;
    case EAI_AGAIN:
    case TRY_AGAIN:
        out = "WSATRY_AGAIN";
        return 11002;
    case EAI_FAIL:
    case NO_RECOVERY:
        out = "WSANO_RECOVERY";
        return 11003;
    case EAI_NODATA:
    case NO_DATA:
        out = "WSANO_DATA";
        return 11004;
    default:
        out = "Unknown error";
        return herr;
    }
}

namespace {
FILE* gDebugLog = nullptr;
std::mutex gDebugLock;
} // namespace

void DebugOpen() {
    std::lock_guard<std::mutex> lock(gDebugLock);
    if (gDebugLog) return;
    std::string path = platform::JoinPath(platform::WindowsDirectory(), "TwPrinter.log");
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
