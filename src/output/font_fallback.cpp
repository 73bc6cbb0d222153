// Fonts for the characters the page font lacks (kanji, hangul, kana...).
#include "config/utilities.h"
#include "output/cairo_text.h"

namespace output {

namespace {

std::string Lookup(char32_t c) {
    if (!platform::FontconfigReady()) return kFontFace;
    const platform::PrintLibs& pl = platform::PL();
    FcPattern* pattern = pl.FcNameParse(reinterpret_cast<const FcChar8*>("monospace"));
    FcCharSet* want = pl.FcCharSetCreate();
    pl.FcCharSetAddChar(want, c);
    pl.FcPatternAddCharSet(pattern, FC_CHARSET, want);
    pl.FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    pl.FcDefaultSubstitute(pattern);
    FcResult result;
    FcPattern* match = pl.FcFontMatch(nullptr, pattern, &result);
    std::string family = kFontFace;
    FcChar8* name = nullptr;
    FcCharSet* has = nullptr;
    if (match && pl.FcPatternGetCharSet(match, FC_CHARSET, 0, &has) == FcResultMatch &&
        pl.FcCharSetHasChar(has, c) &&
        pl.FcPatternGetString(match, FC_FAMILY, 0, &name) == FcResultMatch)
        family = reinterpret_cast<const char*>(name);
    config::Trace("font for U+%04X: %s\n", static_cast<unsigned>(c), family.c_str());
    if (match) pl.FcPatternDestroy(match);
    pl.FcPatternDestroy(pattern);
    pl.FcCharSetDestroy(want);
    return family;
}

} // namespace

const std::string& FallbackFonts::FamilyFor(char32_t c) {
    auto [at, added] = blocks_.try_emplace(c >> 8);
    if (added) at->second = Lookup(c);
    return at->second;
}

} // namespace output
