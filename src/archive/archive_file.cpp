// One archived job on disk: "TWA1", the payload's size, then zlib of a header
// (key=value lines, a blank line), the text and the job's bytes. The file alone
// is enough to rebuild its index row.
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "archive/archive.h"

namespace archive {
namespace {

constexpr char kMagic[] = "TWA1";

std::string OneLine(std::string s) {
    for (char& c : s)
        if (c == '\n' || c == '\r') c = ' ';
    return s;
}

bool WriteAll(int fd, const char* p, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            if (w == 0) errno = EIO;
            return false;
        }
        p += w, n -= static_cast<size_t>(w);
    }
    return true;
}

} // namespace

long long Now() {
    if (const char* at = std::getenv("TWPRINTER_ARCHIVE_NOW"); at && *at) return std::atoll(at);
    return static_cast<long long>(::time(nullptr));
}

bool WriteJobFile(const std::string& path, const Job& job, std::string& why) {
    std::string plain;
    auto put = [&](const char* key, const std::string& value) {
        plain += key, plain += '=', plain += OneLine(value), plain += '\n';
    };
    put("lu", job.lu);
    put("name", job.name);
    put("number", std::to_string(job.number));
    put("received", std::to_string(job.received));
    put("delivered", std::to_string(job.delivered));
    put("pages", std::to_string(job.pages));
    put("bytes", std::to_string(job.bytes));
    put("medium", job.medium);
    put("destination", job.destination);
    put("outcome", job.outcome);
    put("hints", job.hints);
    put("text", std::to_string(job.text.size()));
    put("raw", std::to_string(job.raw.size()));
    plain += '\n';
    plain += job.text;
    plain += job.raw;

    uLongf packedSize = compressBound(plain.size());
    std::string out(8 + packedSize, '\0');
    std::memcpy(out.data(), kMagic, 4);
    const uint32_t size = static_cast<uint32_t>(plain.size());
    for (int i = 0; i < 4; ++i)
        out[4 + i] = static_cast<char>(size >> (8 * i) & 0xFF);
    if (plain.size() > 0xFFFFFFFFu ||
        compress2(reinterpret_cast<Bytef*>(out.data() + 8), &packedSize,
                  reinterpret_cast<const Bytef*>(plain.data()), plain.size(), 6) != Z_OK) {
        why = "the job could not be compressed";
        return false;
    }
    out.resize(8 + packedSize);
    // Written aside and renamed: a reader or a rebuild never sees half a job.
    const std::string temp = path + ".part";
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || !WriteAll(fd, out.data(), out.size())) {
        why = temp + ": " + std::strerror(errno);
        if (fd >= 0) ::close(fd), ::unlink(temp.c_str());
        return false;
    }
    ::close(fd);
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        why = path + ": " + std::strerror(errno);
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

bool ReadJobFile(const std::string& path, Job& job, std::string& why) {
    std::string packed;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        why = path + ": " + std::strerror(errno);
        return false;
    }
    char chunk[65536];
    ssize_t n;
    while ((n = ::read(fd, chunk, sizeof chunk)) > 0)
        packed.append(chunk, static_cast<size_t>(n));
    ::close(fd);
    if (packed.size() < 8 || std::memcmp(packed.data(), kMagic, 4) != 0) {
        why = path + " is no archived job";
        return false;
    }
    uint32_t size = 0;
    for (int i = 0; i < 4; ++i)
        size |= static_cast<uint32_t>(static_cast<unsigned char>(packed[4 + i])) << (8 * i);
    std::string plain(size, '\0');
    uLongf plainSize = size;
    if (uncompress(reinterpret_cast<Bytef*>(plain.data()), &plainSize,
                   reinterpret_cast<const Bytef*>(packed.data() + 8), packed.size() - 8) != Z_OK ||
        plainSize != size) {
        why = path + " is damaged";
        return false;
    }
    size_t at = 0;
    long long textSize = -1, rawSize = -1;
    for (;;) {
        size_t end = plain.find('\n', at);
        if (end == std::string::npos) {
            why = path + " is damaged";
            return false;
        }
        if (end == at) {
            at = end + 1;
            break;
        }
        const std::string line = plain.substr(at, end - at);
        at = end + 1;
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "lu")
            job.lu = value;
        else if (key == "name")
            job.name = value;
        else if (key == "number")
            job.number = std::atol(value.c_str());
        else if (key == "received")
            job.received = std::atoll(value.c_str());
        else if (key == "delivered")
            job.delivered = std::atoll(value.c_str());
        else if (key == "pages")
            job.pages = std::atol(value.c_str());
        else if (key == "bytes")
            job.bytes = std::atoll(value.c_str());
        else if (key == "medium")
            job.medium = value;
        else if (key == "destination")
            job.destination = value;
        else if (key == "outcome")
            job.outcome = value;
        else if (key == "hints")
            job.hints = value;
        else if (key == "text")
            textSize = std::atoll(value.c_str());
        else if (key == "raw")
            rawSize = std::atoll(value.c_str());
    }
    if (textSize < 0 || rawSize < 0 ||
        static_cast<unsigned long long>(textSize + rawSize) != plain.size() - at) {
        why = path + " is damaged";
        return false;
    }
    job.text = plain.substr(at, static_cast<size_t>(textSize));
    job.raw = plain.substr(at + static_cast<size_t>(textSize));
    return true;
}

} // namespace archive
