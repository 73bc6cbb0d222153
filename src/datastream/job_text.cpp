// Host characters into print file bytes.
#include "datastream/job_text.h"

#include <iconv.h>

#include "config/translate.h"
#include "config/utilities.h"

namespace datastream {

namespace {

const iconv_t kNoIconv = reinterpret_cast<iconv_t>(-1);

JobText::Glyph Byte(uint8_t c) {
    JobText::Glyph g;
    g.len = c ? 1 : 0;
    g.bytes[0] = c;
    return g;
}

int Utf8(char32_t c, uint8_t* o) {
    if (c < 0x80) {
        o[0] = static_cast<uint8_t>(c);
        return 1;
    }
    if (c < 0x800) {
        o[0] = static_cast<uint8_t>(0xC0 | c >> 6);
        o[1] = static_cast<uint8_t>(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        o[0] = static_cast<uint8_t>(0xE0 | c >> 12);
        o[1] = static_cast<uint8_t>(0x80 | (c >> 6 & 0x3F));
        o[2] = static_cast<uint8_t>(0x80 | (c & 0x3F));
        return 3;
    }
    o[0] = static_cast<uint8_t>(0xF0 | c >> 18);
    o[1] = static_cast<uint8_t>(0x80 | (c >> 12 & 0x3F));
    o[2] = static_cast<uint8_t>(0x80 | (c >> 6 & 0x3F));
    o[3] = static_cast<uint8_t>(0x80 | (c & 0x3F));
    return 4;
}

} // namespace

JobText::JobText(const config::Settings& s) {
    for (int b = 0; b < 256; ++b) {
        raw_[b] = Byte(static_cast<uint8_t>(b));
        table_[b] = Byte(s.translate ? s.ebcdicToAscii[b] : static_cast<uint8_t>(b));
    }
    if (!s.translate || s.codePage.name.empty()) return;
    utf8_ = s.outputCharset == "UTF-8" || s.outputCharset == "utf-8" || s.outputCharset == "UTF8";
    if (!utf8_) {
        iconv_t cd = iconv_open(s.outputCharset.c_str(), "UTF-32LE");
        if (cd == kNoIconv) {
            utf8_ = true;
            config::Trace("JobText: no converter to %s, UTF-8 instead\n", s.outputCharset.c_str());
        } else {
            out_ = cd;
        }
    }
    for (int b = 0; b < 256; ++b)
        table_[b] = s.codePage.chars[b] ? Encode(s.codePage.chars[b]) : Glyph{};
    if (s.codePage.dbcs) {
        iconv_t cd = iconv_open("UTF-32LE", s.codePage.name.c_str());
        if (cd != kNoIconv) host_ = cd;
    }
}

JobText::~JobText() {
    if (out_) iconv_close(static_cast<iconv_t>(out_));
    if (host_) iconv_close(static_cast<iconv_t>(host_));
}

JobText::Glyph JobText::Encode(char32_t c) {
    Glyph g;
    if (utf8_) {
        g.len = static_cast<uint8_t>(Utf8(c, g.bytes));
        return g;
    }
    iconv_t cd = static_cast<iconv_t>(out_);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    const uint8_t in[4] = {static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8),
                           static_cast<uint8_t>(c >> 16), static_cast<uint8_t>(c >> 24)};
    char* ip = reinterpret_cast<char*>(const_cast<uint8_t*>(in));
    char* op = reinterpret_cast<char*>(g.bytes);
    size_t il = sizeof in, ol = sizeof g.bytes;
    // The shift back to the initial state belongs to the character too.
    if (iconv(cd, &ip, &il, &op, &ol) == static_cast<size_t>(-1) ||
        iconv(cd, nullptr, nullptr, &op, &ol) == static_cast<size_t>(-1) ||
        op == reinterpret_cast<char*>(g.bytes)) {
        g = Byte('?');
        g.lossy = 1;
        return g;
    }
    g.len = static_cast<uint8_t>(op - reinterpret_cast<char*>(g.bytes));
    return g;
}

JobText::Glyph JobText::Double(uint8_t b1, uint8_t b2) {
    // A row of 256 pairs at a time, at its first use: jobs touch few of them.
    std::unique_ptr<Glyph[]>& row = pairs_[b1];
    if (!row) {
        row = std::make_unique<Glyph[]>(256);
        for (int k = 0; k < 256; ++k)
            row[k].len = kUnknownLen;
    }
    Glyph& cached = row[b2];
    if (cached.len != kUnknownLen) return cached;
    const char32_t c = config::DbcsCharacter(host_, b1, b2);
    Glyph& g = cached;
    g = c ? Encode(c) : Glyph{};
    if (g.lossy || g.len == 0) {
        g = Byte('?');
        g.bytes[g.len++] = '?';
        g.lossy = 1;
    } else if (!config::IsWideChar(c) && g.len < sizeof g.bytes) {
        g.bytes[g.len++] = ' ';
    }
    return g;
}

void JobText::NoteLossy() {
    if (traced_) return;
    traced_ = true;
    config::Trace("JobText: a character the output charset or the host page lacks printed as ?\n");
}

} // namespace datastream
