// Host code pages as characters: single-byte tables and the double-byte
// characters of the Asian pages, both through iconv.
#include <iconv.h>

#include <cctype>
#include <cstring>

#include "config/settings.h"
#include "config/translate.h"
#include "config/utilities.h"

namespace config {

namespace {

const CodePageInfo kPages[] = {
    {37, "English (USA, Canada), Dutch, Portuguese"},
    {273, "German, Austrian"},
    {277, "Danish, Norwegian"},
    {278, "Finnish, Swedish"},
    {280, "Italian"},
    {284, "Spanish"},
    {285, "English (UK)"},
    {297, "French"},
    {500, "International"},
    {871, "Icelandic"},
    {1047, "Latin-1 (open systems)"},
    {1140, "English (USA, Canada) with euro"},
    {1141, "German, Austrian with euro"},
    {1142, "Danish, Norwegian with euro"},
    {1143, "Finnish, Swedish with euro"},
    {1144, "Italian with euro"},
    {1145, "Spanish with euro"},
    {1146, "English (UK) with euro"},
    {1147, "French with euro"},
    {1148, "International with euro"},
    {1149, "Icelandic with euro"},
    {930, "Japanese (Katakana), double-byte"},
    {939, "Japanese (Latin), double-byte"},
    {1390, "Japanese (Katakana) with euro, double-byte"},
    {1399, "Japanese (Latin) with euro, double-byte"},
    {935, "Simplified Chinese, double-byte"},
    {1388, "Simplified Chinese (GBK), double-byte"},
    {937, "Traditional Chinese, double-byte"},
    {933, "Korean, double-byte"},
    {1364, "Korean (extended), double-byte"},
};

bool IsDbcsPage(int n) {
    for (int d : {930, 939, 1390, 1399, 935, 1388, 937, 933, 1364})
        if (n == d) return true;
    return false;
}

// "037", "IBM-1141", "cp930": the page's number, or -1.
int PageNumber(const std::string& name) {
    std::string s;
    for (char c : name)
        if (c != ' ' && c != '\t')
            s += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const char* p : {"IBM", "CP"})
        if (s.rfind(p, 0) == 0) {
            s.erase(0, std::strlen(p));
            break;
        }
    if (!s.empty() && (s[0] == '-' || s[0] == '_')) s.erase(0, 1);
    if (s.empty() || s.size() > 5 || s.find_first_not_of("0123456789") != std::string::npos)
        return -1;
    return std::stoi(s);
}

// One UTF-32LE character out of iconv for the bytes in; 0 when there is none.
char32_t Convert(iconv_t cd, const char* in, size_t length) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char out[16];
    char* ip = const_cast<char*>(in);
    char* op = out;
    size_t il = length, ol = sizeof out;
    if (iconv(cd, &ip, &il, &op, &ol) == static_cast<size_t>(-1) || op - out != 4) return 0;
    const auto* u = reinterpret_cast<const unsigned char*>(out);
    return static_cast<char32_t>(u[0] | u[1] << 8 | u[2] << 16 | u[3] << 24);
}

} // namespace

bool LoadHostCharacters(const std::string& name, HostCodePage& page, std::string& message) {
    message.clear();
    int number = PageNumber(name);
    char from[16];
    std::snprintf(from, sizeof from, "IBM%03d", number);
    iconv_t cd = number > 0 ? iconv_open("UTF-32LE", from) : reinterpret_cast<iconv_t>(-1);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        message = "Unknown host code page: " + name;
        return false;
    }
    HostCodePage built;
    built.name = from;
    built.dbcs = IsDbcsPage(number);
    for (int b = 0; b < 256; ++b) {
        if (b < 0x40) {
            // The data stream's choices for host controls, as in the built-in table.
            uint8_t v = kBuiltinEbcdicToAscii[b];
            built.chars[b] = v;
            continue;
        }
        char in = static_cast<char>(b);
        char32_t c = Convert(cd, &in, 1);
        // Controls and codes the page leaves empty never reach a print file.
        if (c < 0x20 || (c >= 0x7F && c < 0xA0) || c == 0x1A) c = U'?';
        built.chars[b] = c;
    }
    iconv_close(cd);
    if (built.chars[0xC1] != U'A' || built.chars[0xF0] != U'0') {
        message = "Host code page " + name + " is not an EBCDIC code page";
        return false;
    }
    page = built;
    Trace("LoadHostCharacters(): %s as %s%s\n", name.c_str(), from, page.dbcs ? " (DBCS)" : "");
    return true;
}

char32_t DbcsCharacter(void* converter, uint8_t b1, uint8_t b2) {
    // The stateful IBM converters take the pair between its shift bytes.
    const char in[4] = {0x0E, static_cast<char>(b1), static_cast<char>(b2), 0x0F};
    char32_t c = Convert(static_cast<iconv_t>(converter), in, sizeof in);
    return c < 0x20 || (c >= 0x7F && c < 0xA0) ? 0 : c;
}

bool IsWideChar(char32_t c) {
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) ||
           (c >= 0x3041 && c <= 0x33FF) || (c >= 0x3400 && c <= 0x4DBF) ||
           (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
           (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
}

std::span<const CodePageInfo> KnownCodePages() {
    return kPages;
}

} // namespace config
