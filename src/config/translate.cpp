#include "config/translate.h"

#include "config/utilities.h"

#include <iconv.h>

#include <cctype>
#include <cerrno>
#include <cstring>

namespace config {

// clang-format off
const EbcdicTable kBuiltinEbcdicToAscii = {{
    0x20, 0x3F, 0x00, 0x00, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, // 0x
    0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x00, 0x2A, 0x3F, 0x3B, 0x3F, // 1x
    0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, // 2x
    0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, // 3x
    0x20, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0xA2, 0x2E, 0x3C, 0x28, 0x2B, 0x7C, // 4x
    0x26, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x21, 0x24, 0x2A, 0x29, 0x3B, 0xAC, // 5x
    0x2D, 0x2F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0xA6, 0x2C, 0x25, 0x5F, 0x3E, 0x3F, // 6x
    0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x60, 0x3A, 0x23, 0x40, 0x27, 0x3D, 0x22, // 7x
    0x3F, 0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, // 8x
    0x3F, 0x6A, 0x6B, 0x6C, 0x6D, 0x6E, 0x6F, 0x70, 0x71, 0x72, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, // 9x
    0x3F, 0x7E, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, // Ax
    0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, // Bx
    0x7B, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, // Cx
    0x7D, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F, 0x50, 0x51, 0x52, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, // Dx
    0x5C, 0x3F, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, // Ex
    0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, // Fx
}};
// clang-format on

namespace {

constexpr unsigned kMarkValid = 0xADF1;
constexpr unsigned kMarkEnd = 0xADF0;

uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

int EndStatus(FILE* file) {
    if (std::feof(file)) return -1;
    if (std::ferror(file)) return -2;
    return -4;
}

void ReportOpenFailure(const std::string& path, int err) {
    std::fprintf(stderr, "\nUnable to open translations file %s, reason: %s\n", path.c_str(),
                 std::strerror(err));
}

} // namespace

int PrtXlateReadRecord(uint8_t* buffer, size_t capacity, FILE* file) {
    uint8_t head[4];
    size_t got = std::fread(head, 1, sizeof head, file);
    if (got < sizeof head) return std::ferror(file) && !std::feof(file) ? -2 : -1;
    unsigned mark = head[0] | head[1] << 8;
    size_t length = head[2] | head[3] << 8;
    if (mark == kMarkEnd) return -5;
    if (mark != kMarkValid) return -4;
    if (length > capacity) return -3;
    if (length == 0) return 0;
    got = std::fread(buffer, 1, length, file);
    if (got != length) return EndStatus(file);
    return static_cast<int>(length);
}

bool PrtXlateReadTable(FILE* file, uint32_t key, uint8_t* destination) {
    uint8_t body[260];
    if (PrtXlateReadRecord(body, sizeof body, file) != 260) return false;
    if (Le32(body) != key) return false;
    std::memcpy(destination, body + 4, 256);
    return true;
}

int PrtXlateInit(const std::string& path, EbcdicTable& table) {
    if (path.empty()) {
        errno = EINVAL;
        ReportOpenFailure(path, EINVAL);
        return 1;
    }
    // Binary: records hold arbitrary bytes, CR LF and Ctrl-Z included.
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        ReportOpenFailure(path, errno);
        return 1;
    }
    bool ok = false;
    do {
        uint8_t header[8];
        if (PrtXlateReadRecord(header, sizeof header, file) != 8) break;
        if (Le32(header) != 100 || Le32(header + 4) != 1) break;
        uint8_t second[516];
        if (PrtXlateReadRecord(second, sizeof second, file) != 516) break;
        if (Le32(second) != 101) break;
        uint8_t scratch[256];
        if (!PrtXlateReadTable(file, 103, scratch)) break;
        if (!PrtXlateReadTable(file, 104, scratch)) break;
        if (!PrtXlateReadTable(file, 105, table.data())) break;
        if (!PrtXlateReadTable(file, 106, scratch)) break;
        ok = true;
    } while (false);
    if (!ok) std::fprintf(stderr, "\n%s is not a valid translations file\n", path.c_str());
    if (std::fclose(file) != 0) {
        std::fprintf(stderr, "\nError closing translations file %s\n", path.c_str());
        return 1;
    }
    Trace("PrtXlateInit(): %s %s\n", path.c_str(), ok ? "loaded" : "rejected");
    return ok ? 0 : 1;
}

namespace {

// "037", "37", "IBM037", "cp1047", "IBM-1141" all name one page; returns its number or -1.
int CodePageNumber(const std::string& name) {
    std::string s;
    for (char c : name)
        if (c != ' ' && c != '\t')
            s += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (s.rfind("IBM", 0) == 0)
        s.erase(0, 3);
    else if (s.rfind("CP", 0) == 0)
        s.erase(0, 2);
    if (!s.empty() && (s[0] == '-' || s[0] == '_')) s.erase(0, 1);
    if (s.empty() || s.size() > 5) return -1;
    int n = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

} // namespace

bool LoadCodePage(const std::string& name, EbcdicTable& table, std::string& message) {
    message.clear();
    bool blank = true;
    for (char c : name)
        if (c != ' ' && c != '\t') blank = false;
    if (blank) return true;

    int number = CodePageNumber(name);
    if (number <= 0) {
        message = "Unknown host code page: " + name;
        return false;
    }
    char from[16];
    std::snprintf(from, sizeof from, "IBM%03d", number);
    // The euro pages carry the euro sign, which only ISO 8859-15 has.
    const char* to = number >= 1140 && number <= 1149 ? "ISO-8859-15" : "ISO-8859-1";
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        message = "Unknown host code page: " + name;
        return false;
    }
    EbcdicTable built;
    for (int b = 0; b < 256; ++b) {
        // Host control codes keep the built-in choices the data stream relies on
        // (null prints as a blank, 0x02/0x03/0x1B vanish), so a code page can never
        // inject a control byte into a print file.
        if (b < 0x40) {
            built[b] = kBuiltinEbcdicToAscii[b];
            continue;
        }
        char in = static_cast<char>(b);
        char out[8];
        char* ip = &in;
        char* op = out;
        size_t il = 1, ol = sizeof out;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        size_t r = iconv(cd, &ip, &il, &op, &ol);
        uint8_t v = '?';
        if (r != static_cast<size_t>(-1) && il == 0 && op - out == 1) {
            v = static_cast<uint8_t>(out[0]);
            if (v < 0x20 || (v >= 0x7F && v < 0xA0)) v = '?';
        }
        built[b] = v;
    }
    iconv_close(cd);
    // Any EBCDIC page has the capitals and digits where 037 has them (the
    // Katakana pages put the small letters elsewhere).
    if (built[0xC1] != 'A' || built[0xF0] != '0') {
        message = "Host code page " + name + " is not an EBCDIC code page";
        return false;
    }
    table = built;
    Trace("LoadCodePage(): %s via %s to %s\n", name.c_str(), from, to);
    return true;
}

} // namespace config
