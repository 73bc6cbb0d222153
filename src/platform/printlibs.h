// CUPS and cairo, loaded at first use: a client that never draws or prints a
// page (the common headless case) never maps them and their dependencies.
#pragma once
#include <cairo-pdf.h>
#include <cairo.h>
#include <cups/cups.h>
#include <fontconfig/fontconfig.h>

#include <string>

// clang-format off
#define TW_CUPS_FUNCS(X) \
    X(cupsCancelJob2) X(cupsCopyDestInfo) X(cupsCreateJob) X(cupsEncryption) \
    X(cupsFinishDocument) X(cupsFreeDestInfo) X(cupsFreeDests) X(cupsGetDestMediaDefault) \
    X(cupsGetDestMediaCount) X(cupsGetDestMediaByIndex) \
    X(cupsGetDests2) X(cupsGetNamedDest) X(cupsLastErrorString) X(cupsServer) \
    X(cupsStartDocument) X(cupsWriteRequestData) X(httpClose) X(httpConnect2) \
    X(httpSetTimeout) X(ippPort) X(cupsAddOption) X(cupsFreeOptions) X(cupsParseOptions) \
    X(cupsGetOption) X(pwgMediaForLegacy) X(pwgMediaForPWG)

#define TW_CAIRO_FUNCS(X) \
    X(cairo_create) X(cairo_destroy) X(cairo_font_extents) X(cairo_image_surface_create) \
    X(cairo_move_to) X(cairo_pdf_surface_create_for_stream) X(cairo_pdf_surface_set_metadata) \
    X(cairo_select_font_face) X(cairo_set_font_size) X(cairo_set_source_rgb) X(cairo_show_page) \
    X(cairo_show_text) X(cairo_status) X(cairo_status_to_string) X(cairo_surface_destroy) \
    X(cairo_surface_finish) X(cairo_surface_status) X(cairo_text_extents) X(cairo_fill) \
    X(cairo_rectangle) X(cairo_set_font_matrix)

#define TW_FC_FUNCS(X) \
    X(FcNameParse) X(FcCharSetCreate) X(FcCharSetAddChar) X(FcCharSetDestroy) \
    X(FcCharSetHasChar) X(FcPatternAddCharSet) X(FcConfigSubstitute) X(FcDefaultSubstitute) \
    X(FcFontMatch) X(FcPatternGetString) X(FcPatternGetCharSet) X(FcPatternDestroy)
// clang-format on

namespace platform {

struct PrintLibs {
#define TW_MEMBER(f) decltype(&::f) f = nullptr;
    TW_CUPS_FUNCS(TW_MEMBER)
    TW_CAIRO_FUNCS(TW_MEMBER)
    TW_FC_FUNCS(TW_MEMBER)
#undef TW_MEMBER
};

// The entry points; call only after CupsReady() or CairoReady() said true.
const PrintLibs& PL();
// Load the library on first call; false (reason in PrintLibsError) when it cannot be used.
bool CupsReady();
bool CairoReady();
bool FontconfigReady();
std::string PrintLibsError();

} // namespace platform
