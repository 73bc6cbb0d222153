// Print files drawn as PDF pages with cairo: one monospaced font, optional
// heading lines, and the page geometry of a 300 dpi device.
#include "output/pdf_render.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <ctime>
#include <vector>

#include "config/report.h"
#include "output/cairo_text.h"
#include "output/job_decode.h"
#include "output/media.h"
#include "platform/printlibs.h"

namespace output {

namespace {

constexpr int kDpi = 300;
constexpr size_t kHeadingMax = 83;

} // namespace

void Latin1ToUtf8(const char* in, std::string& out) {
    out.clear();
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(in); *p; ++p) {
        if (*p < 0x80) {
            out.push_back(static_cast<char>(*p));
        } else {
            out.push_back(static_cast<char>(0xC0 | (*p >> 6)));
            out.push_back(static_cast<char>(0x80 | (*p & 0x3F)));
        }
    }
}

namespace {

FontMetrics MeasureFont() {
    FontMetrics r;
    if (!platform::CairoReady()) return r;
    const platform::PrintLibs& pl = platform::PL();
    cairo_surface_t* s = pl.cairo_image_surface_create(CAIRO_FORMAT_A8, 1, 1);
    cairo_t* cr = pl.cairo_create(s);
    pl.cairo_select_font_face(cr, kFontFace, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    pl.cairo_set_font_size(cr, kFontSize);
    cairo_font_extents_t fe;
    pl.cairo_font_extents(cr, &fe);
    cairo_text_extents_t te;
    pl.cairo_text_extents(cr, "M", &te);
    r.height = fe.height;
    r.ascent = fe.ascent;
    r.advance = te.x_advance > 0 ? te.x_advance : fe.max_x_advance;
    pl.cairo_destroy(cr);
    pl.cairo_surface_destroy(s);
    return r;
}

} // namespace

// The font never changes: measured once for the process.
const FontMetrics& Metrics() {
    static const FontMetrics m = MeasureFont();
    return m;
}

cairo_status_t AppendToString(void* closure, const unsigned char* data, unsigned int length) {
    static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
    return CAIRO_STATUS_SUCCESS;
}

void SetPdfMetadata(cairo_surface_t* surface, const std::string& title, long long received) {
    const platform::PrintLibs& pl = platform::PL();
    pl.cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_TITLE, title.c_str());
    const time_t t = static_cast<time_t>(received);
    struct tm utc;
    char date[32];
    if (received > 0 && gmtime_r(&t, &utc) &&
        std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%SZ", &utc) > 0)
        pl.cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_CREATE_DATE, date);
}

namespace {

int Pixels(double points) {
    return static_cast<int>(points * kDpi / 72.0 + 0.5);
}
double Points(int pixels) {
    return pixels * 72.0 / kDpi;
}

struct Drawer {
    const PageLayout& layout;
    cairo_t* cr;
    std::string utf8;
    JobDecoder* decoder = nullptr; // the file's charset; none for the headings
    void Text(int xPixels, int yPixels, const char* latin1) {
        Latin1ToUtf8(latin1, utf8);
        platform::PL().cairo_move_to(cr, layout.left + Points(std::max(0, xPixels)),
                                     layout.top + Points(yPixels) + Points(layout.ascent));
        platform::PL().cairo_show_text(cr, utf8.c_str());
    }
    void Line(int yPixels, const std::string& bytes) {
        if (!decoder) return Text(0, yPixels, bytes.c_str());
        utf8.clear();
        for (size_t i = 0; i < bytes.size();) {
            long n = 1;
            AppendUtf8(decoder->Next(bytes, i, n), utf8);
            i += static_cast<size_t>(n);
        }
        platform::PL().cairo_move_to(cr, layout.left,
                                     layout.top + Points(yPixels) + Points(layout.ascent));
        platform::PL().cairo_show_text(cr, utf8.c_str());
    }
};

void PrintHeadings(Drawer& dc, const std::string& heading, char* buffer, long page, long pages) {
    const PageLayout& m = dc.layout;
    int w = (m.hres / m.avgCharWidth) / 2;
    std::snprintf(buffer, 260, "%s", heading.c_str());
    dc.Text((w - static_cast<int>(std::strlen(buffer)) / 2) * m.avgCharWidth, 0, buffer);
    std::snprintf(buffer, 260, "Page %ld of %ld", page + 1, pages);
    dc.Text((w - static_cast<int>(std::strlen(buffer)) / 2) * m.avgCharWidth, m.lineHeight, buffer);
}

int LineLimit(int maxLength) {
    return std::clamp(maxLength, 2, 259);
}

} // namespace

std::string HeadingFor(const std::string& text) {
    if (text.size() <= kHeadingMax) return text;
    std::string base = BaseName(text);
    if (base.size() + 3 >= kHeadingMax) return base.substr(base.size() - kHeadingMax);
    return "..." + text.substr(text.size() - (kHeadingMax - 3));
}

bool LayoutUsable(const PageLayout& m, int h, const std::string& where,
                  config::Reporter& reporter) {
    if (m.lines > h && m.chars >= 2) return true;
    char text[256];
    std::snprintf(text, sizeof text,
                  "The page of %s holds %d lines of %d characters: too small to print on.",
                  where.c_str(), m.lines, m.chars);
    reporter.StatusLine(text);
    return false;
}

int DrawPages(const std::string& path, const PageLayout& m, int h, const std::string& heading,
              std::string& out, config::Reporter& reporter, const std::string& charset,
              long long received) {
    if (!platform::CairoReady()) {
        reporter.StatusLine("Unable to draw the pages of " + path + ": " +
                            platform::PrintLibsError());
        return 0;
    }
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        DebugNote("fopen() failed in PrintFile()\n");
        return 0;
    }
    long total = GetTotalLines(path, m.chars);
    if (total == 0) {
        DebugNote("GetTotalLines() returned 0\n");
        std::fclose(file);
        return 0;
    }
    long pages = (total - h + m.lines - 1) / (m.lines - h);
    std::vector<char> buffer(260);
    out.clear();
    const platform::PrintLibs& pl = platform::PL();
    cairo_surface_t* surface =
        pl.cairo_pdf_surface_create_for_stream(AppendToString, &out, m.pageWidth, m.pageHeight);
    SetPdfMetadata(surface, heading, received);
    cairo_t* cr = pl.cairo_create(surface);
    pl.cairo_select_font_face(cr, kFontFace, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    pl.cairo_set_font_size(cr, kFontSize);
    pl.cairo_set_source_rgb(cr, 0, 0, 0);
    JobDecoder decoder(charset);
    Drawer dc{m, cr, {}, charset.empty() ? nullptr : &decoder};
    bool exhausted = false;
    for (long p = 0; p < pages; ++p) {
        if (h) PrintHeadings(dc, heading, buffer.data(), p, pages);
        for (int n = h; n < m.lines; ++n) {
            if (exhausted || !GetLineToPrint(file, m.chars, buffer.data())) {
                if (!exhausted) DebugNote("GetLineToPrint() failed in PrintFile()\n");
                exhausted = true;
                continue;
            }
            dc.Line(n * m.lineHeight, buffer.data());
        }
        pl.cairo_show_page(cr);
    }
    cairo_status_t status = pl.cairo_status(cr);
    pl.cairo_destroy(cr);
    pl.cairo_surface_finish(surface);
    if (status == CAIRO_STATUS_SUCCESS) status = pl.cairo_surface_status(surface);
    pl.cairo_surface_destroy(surface);
    std::fclose(file);
    if (status != CAIRO_STATUS_SUCCESS) {
        reporter.StatusLine(std::string("Unable to draw the pages of ") + path + ": " +
                            pl.cairo_status_to_string(status));
        return 0;
    }
    return 1;
}

PageLayout ComputeLayout(int width, int length, int left, int top, int right, int bottom) {
    auto pt = [](int hmm) { return hmm * 72.0 / 2540.0; };
    PageLayout m;
    m.pageWidth = pt(width);
    m.pageHeight = pt(length);
    m.left = pt(left);
    m.top = pt(top);
    m.hres = std::max(0, Pixels(pt(width - left - right)));
    m.vres = std::max(0, Pixels(pt(length - top - bottom)));
    const FontMetrics& f = Metrics();
    m.lineHeight = std::max(1, Pixels(f.height));
    m.avgCharWidth = std::max(1, Pixels(f.advance));
    m.ascent = Pixels(f.ascent);
    m.chars = m.hres / m.avgCharWidth;
    m.lines = m.vres / m.lineHeight;
    return m;
}

PageLayout DefaultLayout() {
    // Quarter-inch margins, as a typical printer cannot print to the edge.
    Paper p = LocalePaper();
    return ComputeLayout(p.width, p.length, p.left, p.top, p.right, p.bottom);
}

int RenderPdf(const std::string& path, const PageLayout& layout, int headerLines,
              const std::string& heading, std::string& out) {
    if (layout.lines <= headerLines || layout.chars < 2) return 0;
    return DrawPages(path, layout, headerLines, HeadingFor(heading), out, config::StderrReporter());
}

long GetTotalLines(const std::string& path, int maxLength) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return 0;
    char buffer[260];
    long count = 0;
    while (std::fgets(buffer, LineLimit(maxLength), f))
        ++count;
    std::fclose(f);
    return count;
}

int GetLineToPrint(FILE* file, int maxLength, char* buffer) {
    if (!std::fgets(buffer, LineLimit(maxLength), file)) return 0;
    for (char* p = buffer; *p; ++p) {
        switch (*p) {
        case 0x08:
        case 0x09:
        case 0x0B:
        case 0x0C:
        case 0x0D:
            *p = ' ';
            break;
        case 0x0A:
            *p = '\0';
            return 1;
        default:
            break;
        }
    }
    return 1;
}

} // namespace output
