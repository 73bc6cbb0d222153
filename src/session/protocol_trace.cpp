#include "session/protocol_trace.h"

#include <string>

#include "config/utilities.h"
#include "platform/sysinfo.h"

namespace session {

void ProtocolTrace::Close() {
    if (log_) std::fclose(log_);
    log_ = nullptr;
}

void ProtocolTrace::Dump(bool received, size_t requested, size_t actual, const uint8_t* bytes) {
    if (!config::gDebug) return;
    if (!log_) {
        std::string path = platform::JoinPath(dir_.empty() ? platform::SettingsDirectory() : dir_,
                                              "kestelnet.log");
        log_ = std::fopen(path.c_str(), "w");
        if (!log_) {
            std::perror("Unable to create log file");
            return;
        }
    }
    if (received)
        std::fprintf(log_, "\nRead %d bytes from server\n", int(actual));
    else
        std::fprintf(log_, "\nWrote %d (%d) bytes to server\n", int(requested), int(actual));
    std::fflush(log_);
    static const char hexd[] = "0123456789ABCDEF";
    for (size_t off = 0; off < actual; off += 16) {
        char hex[40], ebc[20], asc[20];
        size_t h = 0, e = 0, a = 0;
        ebc[e++] = '|';
        asc[a++] = '|';
        for (size_t i = off; i < actual && i < off + 16; ++i) {
            size_t k = i - off;
            if (k == 4 || k == 8 || k == 12) hex[h++] = ' ';
            hex[h++] = hexd[bytes[i] >> 4];
            hex[h++] = hexd[bytes[i] & 15];
            uint8_t t = table_[bytes[i]];
            ebc[e++] = t < 0x20 || t == 0x7F ? '?' : static_cast<char>(t);
            asc[a++] = bytes[i] >= 0x20 && bytes[i] < 0x7F ? static_cast<char>(bytes[i]) : '-';
        }
        hex[h] = 0;
        ebc[e++] = '|';
        ebc[e] = 0;
        asc[a++] = '|';
        asc[a] = 0;
        std::fprintf(log_, "%04X  %-35.35s  %-18s %s\n", unsigned(off), hex, ebc, asc);
        std::fflush(log_);
    }
}

} // namespace session
