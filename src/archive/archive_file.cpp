// One archived job, as its segment's record holds it: "TWA1", the payload's
// size, then zlib of a header (key=value lines, a blank line), the text, the
// job's bytes and its PDF when it was drawn. It alone is enough to rebuild
// its index row.
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "archive/archive_internal.h"

namespace archive {
namespace {

constexpr char kMagic[] = "TWA1";

std::string OneLine(std::string s) {
    for (char& c : s)
        if (c == '\n' || c == '\r') c = ' ';
    return s;
}

} // namespace

long long Now() {
    if (const char* at = std::getenv("TWPRINTER_ARCHIVE_NOW"); at && *at) return std::atoll(at);
    return static_cast<long long>(::time(nullptr));
}

bool ParseId(const std::string& text, long long& id) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    id = std::strtoll(text.c_str(), nullptr, 10);
    return errno == 0 && id > 0;
}

bool PackJob(const Job& job, std::string& out) {
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
    if (!job.pdf.empty()) put("pdf", std::to_string(job.pdf.size()));
    plain += '\n';
    plain += job.text;
    plain += job.raw;
    plain += job.pdf;

    uLongf packedSize = compressBound(plain.size());
    out.assign(8 + packedSize, '\0');
    std::memcpy(out.data(), kMagic, 4);
    const uint32_t plainSize = static_cast<uint32_t>(plain.size());
    for (int i = 0; i < 4; ++i)
        out[4 + i] = static_cast<char>(plainSize >> (8 * i) & 0xFF);
    if (plain.size() > 0xFFFFFFFFu ||
        compress2(reinterpret_cast<Bytef*>(out.data() + 8), &packedSize,
                  reinterpret_cast<const Bytef*>(plain.data()), plain.size(), 1) != Z_OK) {
        return false;
    }
    // The fastest level: the writer keeps up with many LUs, and text shrinks
    // almost as much as at the default.
    out.resize(8 + packedSize);
    return true;
}

bool UnpackJob(const std::string& packed, Job& job) {
    if (packed.size() < 8 || std::memcmp(packed.data(), kMagic, 4) != 0) return false;
    uint32_t size = 0;
    for (int i = 0; i < 4; ++i)
        size |= static_cast<uint32_t>(static_cast<unsigned char>(packed[4 + i])) << (8 * i);
    std::string plain(size, '\0');
    uLongf plainSize = size;
    if (uncompress(reinterpret_cast<Bytef*>(plain.data()), &plainSize,
                   reinterpret_cast<const Bytef*>(packed.data() + 8), packed.size() - 8) != Z_OK ||
        plainSize != size)
        return false;
    size_t at = 0;
    long long textSize = -1, rawSize = -1, pdfSize = 0;
    for (;;) {
        size_t end = plain.find('\n', at);
        if (end == std::string::npos) return false;
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
        else if (key == "pdf")
            pdfSize = std::atoll(value.c_str());
    }
    if (textSize < 0 || rawSize < 0 || pdfSize < 0 ||
        static_cast<unsigned long long>(textSize + rawSize + pdfSize) != plain.size() - at)
        return false;
    job.text = plain.substr(at, static_cast<size_t>(textSize));
    job.raw = plain.substr(at + static_cast<size_t>(textSize), static_cast<size_t>(rawSize));
    job.pdf = plain.substr(at + static_cast<size_t>(textSize + rawSize));
    return true;
}

} // namespace archive

namespace archive {

bool JobTextUntil(const std::string& packed, const std::vector<std::string>& words,
                  std::string& text, bool* pdf) {
    text.clear();
    char chunk[16384];
    if (packed.size() < 8 || std::memcmp(packed.data(), kMagic, 4) != 0) return false;
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return false;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data() + 8));
    z.avail_in = static_cast<uInt>(packed.size() - 8);
    std::string plain, lower;
    size_t textAt = std::string::npos, textSize = 0, checked = 0;
    size_t longest = 1;
    for (const std::string& w : words)
        longest = std::max(longest, w.size());
    int rc = Z_OK;
    bool found = false;
    while (rc == Z_OK) {
        z.next_out = reinterpret_cast<Bytef*>(chunk);
        z.avail_out = sizeof chunk;
        rc = inflate(&z, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END) break;
        plain.append(chunk, sizeof chunk - z.avail_out);
        if (textAt == std::string::npos) {
            const size_t end = plain.find("\n\n");
            if (end == std::string::npos) continue;
            textAt = end + 2;
            const size_t key = plain.rfind("\ntext=", end);
            if (key == std::string::npos) break;
            textSize = static_cast<size_t>(std::atoll(plain.c_str() + key + 6));
            if (pdf) *pdf = plain.rfind("\npdf=", end) != std::string::npos;
        }
        const size_t have = std::min(plain.size() - textAt, textSize);
        // Only the new part is looked at, with room for a word across the seam.
        const size_t from = lower.size();
        lower.resize(have);
        for (size_t i = from; i < have; ++i)
            lower[i] = LowerAscii(plain[textAt + i]);
        for (const std::string& w : words) {
            const size_t at = lower.find(w, checked > longest ? checked - longest : 0);
            if (at != std::string::npos && lower.find_first_of("\n\f", at) != std::string::npos)
                found = true;
        }
        checked = have;
        if (found || have == textSize) break;
    }
    inflateEnd(&z);
    if (textAt == std::string::npos) return false;
    text = plain.substr(textAt, std::min(plain.size() - textAt, textSize));
    return true;
}

} // namespace archive
