// Print file bytes back to characters.
#include "output/job_decode.h"

#include <iconv.h>

namespace output {

JobDecoder::JobDecoder(const std::string& charset) {
    if (charset.empty()) return;
    if (charset == "UTF-8" || charset == "utf-8" || charset == "UTF8") {
        kind_ = Kind::Utf8;
        return;
    }
    iconv_t cd = iconv_open("UTF-32LE", charset.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return; // as bytes, the best there is
    kind_ = Kind::Other;
    cd_ = cd;
}

JobDecoder::~JobDecoder() {
    if (cd_) iconv_close(static_cast<iconv_t>(cd_));
}

char32_t JobDecoder::Next(const std::string& bytes, size_t i, long& n) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data()) + i;
    const size_t left = bytes.size() - i;
    n = 1;
    if (kind_ == Kind::Latin1 || p[0] < 0x80) return p[0];
    if (kind_ == Kind::Utf8) {
        int len = p[0] >= 0xF0 ? 4 : p[0] >= 0xE0 ? 3 : p[0] >= 0xC2 ? 2 : 0;
        if (len == 0 || static_cast<size_t>(len) > left) return 0xFFFD;
        char32_t c = p[0] & (0x3F >> (len - 1));
        for (int k = 1; k < len; ++k) {
            if ((p[k] & 0xC0) != 0x80) return 0xFFFD;
            c = c << 6 | (p[k] & 0x3F);
        }
        n = len;
        return c;
    }
    // One character: the output has room for no more.
    iconv_t cd = static_cast<iconv_t>(cd_);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    unsigned char out[4];
    char* ip = reinterpret_cast<char*>(const_cast<unsigned char*>(p));
    char* op = reinterpret_cast<char*>(out);
    size_t il = left < 8 ? left : 8, ol = sizeof out;
    iconv(cd, &ip, &il, &op, &ol);
    if (ol != 0) return 0xFFFD;
    n = ip - reinterpret_cast<const char*>(p);
    return static_cast<char32_t>(out[0] | out[1] << 8 | out[2] << 16 | out[3] << 24);
}

void AppendUtf8(char32_t c, std::string& out) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | c >> 6));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | c >> 12));
        out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | c >> 18));
        out.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

} // namespace output
