// Reading a print file back as characters, in the charset it was written in.
#pragma once
#include <cstddef>
#include <string>

namespace output {

class JobDecoder {
  public:
    // charset: an iconv name; "" the bytes as ISO 8859-1.
    explicit JobDecoder(const std::string& charset);
    ~JobDecoder();
    JobDecoder(const JobDecoder&) = delete;
    JobDecoder& operator=(const JobDecoder&) = delete;
    // The character at bytes[i], with the bytes it takes in n (at least 1); a
    // byte that starts no character is U+FFFD.
    char32_t Next(const std::string& bytes, size_t i, long& n);

  private:
    enum class Kind { Latin1, Utf8, Other } kind_ = Kind::Latin1;
    void* cd_ = nullptr;
};

void AppendUtf8(char32_t c, std::string& out);

} // namespace output
