// Text drawing shared by the page renderers. Inside the output layer only.
#pragma once
#include <map>
#include <string>

#include "platform/printlibs.h"

namespace output {

inline constexpr double kFontSize = 10.0;
inline constexpr const char* kFontFace = "DejaVu Sans Mono";

struct FontMetrics {
    double height = 0, ascent = 0, advance = 0; // points at kFontSize
};
// Measured once for the process; zeros when cairo cannot be loaded.
const FontMetrics& Metrics();
void Latin1ToUtf8(const char* in, std::string& out);
// A cairo write callback appending to a std::string.
cairo_status_t AppendToString(void* closure, const unsigned char* data, unsigned int length);
// The PDF's title, and as its creation date the job's arrival (seconds since
// 1970; 0: the time of drawing), so that a job drawn again is the same file.
void SetPdfMetadata(cairo_surface_t* surface, const std::string& title, long long received);

// Font families for the characters kFontFace lacks, found with fontconfig:
// the monospaced (else any) family that has the character, looked up once per
// 256-character block of one drawing. kFontFace when none has it.
class FallbackFonts {
  public:
    const std::string& FamilyFor(char32_t c);

  private:
    std::map<char32_t, std::string> blocks_;
};

} // namespace output
