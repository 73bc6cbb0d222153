// The sheets as the host laid the job out: a form feed starts a sheet, text
// over the same columns is drawn on the same line, and the widest line and
// the longest page choose the characters and lines per inch.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "config/report.h"
#include "config/translate.h"
#include "output/cairo_text.h"
#include "output/job_decode.h"
#include "output/media.h"
#include "output/pdf_render.h"

namespace output {

namespace {

// A line is drawn as layers of cells: each overstrike that meets a glyph goes
// one layer up. A wide character's second cell holds kRightHalf.
using Layer = std::u32string;
using Line = std::vector<Layer>;
constexpr char32_t kRightHalf = 1;
using HostPage = std::vector<Line>;

struct Job {
    std::vector<HostPage> pages;
    int widest = 0;
    int longest = 0; // lines of the longest page ended by a form feed
    bool formFeeds = false;
};

void Place(Line& line, int col, char32_t c, int width) {
    auto fits = [&](const Layer& l) {
        for (int k = col; k < col + width; ++k)
            if (l[k] != U' ') return false;
        return true;
    };
    for (Layer& layer : line) {
        if (static_cast<int>(layer.size()) < col + width) layer.resize(col + width, U' ');
        if (fits(layer)) {
            layer[col] = c;
            if (width == 2) layer[col + 1] = kRightHalf;
            return;
        }
    }
    line.emplace_back(col + width, U' ');
    line.back()[col] = c;
    if (width == 2) line.back()[col + 1] = kRightHalf;
}

Job Parse(const std::string& bytes, const JobHints& hints) {
    Job job;
    HostPage page;
    Line line;
    int col = 0;
    bool pending = false; // the line has bytes
    auto endLine = [&] {
        page.push_back(std::move(line));
        line.clear();
        col = 0;
        pending = false;
    };
    auto endPage = [&] {
        if (pending) endLine();
        job.longest = std::max(job.longest, static_cast<int>(page.size()));
        job.pages.push_back(std::move(page));
        page.clear();
    };
    auto skip = hints.transparent.begin();
    JobDecoder decoder(hints.charset);
    for (long i = 0, n = 1; i < static_cast<long>(bytes.size()); i += n) {
        n = 1;
        while (skip != hints.transparent.end() && skip->second <= i)
            ++skip;
        if (skip != hints.transparent.end() && skip->first <= i) continue;
        char32_t b = decoder.Next(bytes, static_cast<size_t>(i), n);
        switch (b) {
        case '\n':
            endLine();
            continue;
        case '\r':
            col = 0;
            break;
        case '\f':
            job.formFeeds = true;
            endPage();
            continue;
        case 0x08:
            col = std::max(0, col - 1);
            break;
        default: {
            const int width = config::IsWideChar(b) ? 2 : 1;
            if (b > ' ' && (b < 0x7F || b >= 0xA0)) {
                Place(line, col, b, width);
                job.widest = std::max(job.widest, col + width);
            }
            col += width;
        }
        }
        pending = true;
    }
    if (pending || !page.empty()) {
        if (pending) endLine();
        job.pages.push_back(std::move(page));
    }
    // A form feed first or last makes no blank sheet.
    if (job.pages.size() > 1 && job.pages.front().empty()) job.pages.erase(job.pages.begin());
    return job;
}

constexpr double kCpis[] = {10, 12, 13.3, 15, 16.7};
// Below this a portrait font is too small to read comfortably: landscape then.
// A little above 7 pt, so that 132 columns go landscape on Letter as on A4.
constexpr double kMinPortraitPoints = 7.5;

double ChooseCpi(double fixed, int columns, double widthPt) {
    if (fixed > 0) return fixed;
    double needed = columns * 72.0 / widthPt;
    for (double c : kCpis)
        if (c >= needed) return c;
    return needed;
}

struct Sheet {
    double width = 0, height = 0;  // points
    double left = 0, top = 0;      // printable origin
    double printW = 0, printH = 0; // printable size
    double cpi = 10, lpi = 6;
    int lines = 0, columns = 0;
};

// The host's page length fits the sheet up to 12 lines per inch; a page length
// only inferred from the job's form feeds gets 6 or 8.
Sheet Choose(const Paper& paper, const PageChoices& ch, int columns, int pageLines, bool hostSaid,
             int h) {
    auto pt = [](int hmm) { return hmm * 72.0 / 2540.0; };
    Sheet s;
    double pw = pt(paper.width - paper.left - paper.right);
    double ph = pt(paper.length - paper.top - paper.bottom);
    const double advance = Metrics().advance / kFontSize;
    bool landscape = ch.orientation == "landscape";
    if (ch.orientation == "auto") {
        double cpi = ChooseCpi(ch.cpi, columns, pw);
        bool tooSmall = ch.cpi <= 0 && 72.0 / cpi / advance < kMinPortraitPoints;
        landscape = tooSmall || columns * 72.0 / cpi > pw + 0.01;
    }
    if (landscape) {
        s.width = pt(paper.length);
        s.height = pt(paper.width);
        s.left = pt(paper.top);
        s.top = pt(paper.right);
        s.printW = ph;
        s.printH = pw;
    } else {
        s.width = pt(paper.width);
        s.height = pt(paper.length);
        s.left = pt(paper.left);
        s.top = pt(paper.top);
        s.printW = pw;
        s.printH = ph;
    }
    s.cpi = ChooseCpi(ch.cpi, columns, s.printW);
    s.lpi = ch.lpi > 0 ? ch.lpi : 6;
    if (ch.lpi <= 0 && pageLines > 0) {
        auto fits = [&](double lpi) {
            return std::floor(s.printH * lpi / 72.0 + 1e-6) - h >= pageLines;
        };
        if (!fits(6))
            s.lpi = fits(8) || !hostSaid ? 8 : std::min(12.0, (pageLines + h) * 72.0 / s.printH);
    }
    s.lines = static_cast<int>(std::floor(s.printH * s.lpi / 72.0 + 1e-6));
    s.columns = static_cast<int>(std::floor(s.printW * s.cpi / 72.0 + 1e-6));
    return s;
}

} // namespace

int DrawHostPages(const std::string& path, const Paper& paper, const PageChoices& choices,
                  const JobHints& hints, int h, const std::string& heading, std::string& out,
                  config::Reporter& reporter) {
    if (!platform::CairoReady()) {
        reporter.StatusLine("Unable to draw the pages of " + path + ": " +
                            platform::PrintLibsError());
        return 0;
    }
    std::string bytes;
    if (!ReadFileBytes(path, bytes)) {
        DebugNote("fopen() failed in PrintFile()\n");
        return 0;
    }
    Job job = Parse(bytes, hints);
    if (job.pages.empty()) {
        DebugNote("GetTotalLines() returned 0\n");
        return 0;
    }
    int pageLines = hints.pageLength > 0 ? hints.pageLength : job.formFeeds ? job.longest : 0;
    Sheet s = Choose(paper, choices, std::max(job.widest, hints.maxPrintPosition), pageLines,
                     hints.pageLength > 0, h);
    const int body = s.lines - h;
    if (body < 1) {
        reporter.StatusLine("The page of " + BaseName(path) +
                            " holds no lines under the headings.");
        return 0;
    }
    long sheets = 0;
    for (const HostPage& p : job.pages)
        sheets += std::max<long>(1, (static_cast<long>(p.size()) + body - 1) / body);

    const FontMetrics& f = Metrics();
    const double lineH = 72.0 / s.lpi;
    const double sizeX = 72.0 / s.cpi / (f.advance / kFontSize);
    const double sizeY = std::min(sizeX, lineH / (f.height / kFontSize));
    const double ascent = f.ascent / kFontSize * sizeY;

    out.clear();
    const platform::PrintLibs& pl = platform::PL();
    cairo_surface_t* surface =
        pl.cairo_pdf_surface_create_for_stream(AppendToString, &out, s.width, s.height);
    SetPdfMetadata(surface, hints.title.empty() ? heading : hints.title, hints.received);
    cairo_t* cr = pl.cairo_create(surface);
    pl.cairo_select_font_face(cr, kFontFace, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_matrix_t fm{sizeX, 0, 0, sizeY, 0, 0};
    pl.cairo_set_font_matrix(cr, &fm);
    // Wide and half-width Asian characters come from a font that has them,
    // scaled so that its full width is two cells and its half width one.
    const double cell = 72.0 / s.cpi;
    cairo_matrix_t wideMatrix{2 * cell, 0, 0, std::min(2 * cell, lineH), 0, 0};
    FallbackFonts fallback;
    std::string utf8;
    auto run = [&](int col, int row, const char* face, const cairo_matrix_t& m) {
        pl.cairo_select_font_face(cr, face, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
        pl.cairo_set_font_matrix(cr, &m);
        pl.cairo_move_to(cr, s.left + col * cell, s.top + row * lineH + ascent);
        pl.cairo_show_text(cr, utf8.c_str());
    };
    auto text = [&](int col, int row, const Layer& layer) {
        int from = 0;
        utf8.clear();
        for (int k = 0; k <= static_cast<int>(layer.size()); ++k) {
            const char32_t c = k < static_cast<int>(layer.size()) ? layer[k] : U' ';
            const bool own =
                c != kRightHalf && !config::IsWideChar(c) && !(c >= 0xFF61 && c <= 0xFFDC);
            if (own && k < static_cast<int>(layer.size())) {
                if (utf8.empty()) from = k;
                AppendUtf8(c, utf8);
                continue;
            }
            if (!utf8.empty()) run(col + from, row, kFontFace, fm);
            utf8.clear();
            if (c == kRightHalf || k == static_cast<int>(layer.size())) continue;
            AppendUtf8(c, utf8);
            run(col + k, row, fallback.FamilyFor(c).c_str(), wideMatrix);
            utf8.clear();
        }
    };
    auto centred = [&](int row, const std::string& t) {
        Layer l;
        for (unsigned char c : t)
            l.push_back(c);
        text(std::max(0, (s.columns - static_cast<int>(t.size())) / 2), row, l);
    };
    long sheet = 0;
    for (const HostPage& p : job.pages) {
        size_t next = 0;
        do {
            if (choices.greenbar) {
                pl.cairo_set_source_rgb(cr, 0.87, 0.95, 0.87);
                for (int band = 0; band * 3 < body; band += 2)
                    pl.cairo_rectangle(cr, s.left, s.top + (h + band * 3) * lineH, s.printW,
                                       std::min(3, body - band * 3) * lineH);
                pl.cairo_fill(cr);
            }
            pl.cairo_set_source_rgb(cr, 0, 0, 0);
            ++sheet;
            if (h) {
                centred(0, heading);
                char page[64];
                std::snprintf(page, sizeof page, "Page %ld of %ld", sheet, sheets);
                centred(1, page);
            }
            for (int n = 0; n < body && next < p.size(); ++n, ++next)
                for (const Layer& layer : p[next])
                    text(0, h + n, layer);
            pl.cairo_show_page(cr);
        } while (next < p.size());
    }
    cairo_status_t status = pl.cairo_status(cr);
    pl.cairo_destroy(cr);
    pl.cairo_surface_finish(surface);
    if (status == CAIRO_STATUS_SUCCESS) status = pl.cairo_surface_status(surface);
    pl.cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS) {
        reporter.StatusLine(std::string("Unable to draw the pages of ") + path + ": " +
                            pl.cairo_status_to_string(status));
        return 0;
    }
    return 1;
}

int DrawJob(const std::string& path, const Paper& paper, const PageSettings& page,
            const JobHints& hints, bool headings, const std::string& where,
            const std::string& heading, std::string& out, config::Reporter& reporter) {
    int h = headings ? 3 : 0;
    if (!page.classic)
        return DrawHostPages(path, paper, page.choices, hints, h, heading, out, reporter);
    PageLayout m =
        ComputeLayout(paper.width, paper.length, paper.left, paper.top, paper.right, paper.bottom);
    if (!LayoutUsable(m, h, where, reporter)) return 0;
    return DrawPages(path, m, h, heading, out, reporter, hints.charset, hints.received);
}

} // namespace output
