// A job's characters as the bytes of its print file: the byte table as it
// is, or a host code page's characters in the output charset, double-byte
// characters included.
#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "config/settings.h"

namespace datastream {

class JobText {
  public:
    // What one host character puts in the file; len 0 puts nothing.
    struct Glyph {
        uint8_t len = 0;
        uint8_t lossy = 0; // the output charset lacks the character: "?" instead
        uint8_t bytes[6] = {};
    };

    explicit JobText(const config::Settings& settings);
    ~JobText();
    JobText(const JobText&) = delete;
    JobText& operator=(const JobText&) = delete;

    // True when SO and SI switch to double-byte characters.
    bool Dbcs() const { return host_ != nullptr; }
    // The single-byte codes' glyphs (translate false: the bytes as they are).
    const Glyph* Table(bool translate) const { return (translate ? table_ : raw_).data(); }
    // A double-byte character: two columns' worth of bytes (a narrow character
    // gets a blank after it, one the page or the charset lacks is "??").
    Glyph Double(uint8_t b1, uint8_t b2);
    // The pair's glyph when Double has made it already, else null (the bulk
    // path's lookup, without a call per character).
    const Glyph* Known(uint8_t b1, uint8_t b2) const {
        const Glyph* row = pairs_[b1].get();
        return row && row[b2].len != kUnknownLen ? &row[b2] : nullptr;
    }
    // A lossy glyph was written: traced once per job.
    void NoteLossy();
    void NewJob() { traced_ = false; }

  private:
    static constexpr uint8_t kUnknownLen = 0xFF; // a pair not looked up yet
    Glyph Encode(char32_t c);

    std::array<Glyph, 256> table_, raw_;
    bool utf8_ = true;
    void* out_ = nullptr;  // iconv from UTF-32LE to the output charset (not for UTF-8)
    void* host_ = nullptr; // iconv from the DBCS page to UTF-32LE
    std::array<std::unique_ptr<Glyph[]>, 256> pairs_; // by first byte; len kUnknown until asked
    bool traced_ = false;
};

} // namespace datastream
