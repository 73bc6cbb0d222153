// Drawing a print file as PDF pages: the page geometry and the line reader
// that decide what lands on each page.
#pragma once
#include <cstdio>
#include <string>

#include "output/job_hints.h"

namespace config {
class Reporter;
}

namespace output {

// A sheet in hundredths of millimetres with the margins the device cannot
// print on; media is the CUPS name to ask for, "" for the destination's own.
struct Paper {
    int width = 21000, length = 29700, left = 635, top = 635, right = 635, bottom = 635;
    std::string media;
};

// How the job's lines go on sheets: the settings' choices, 0 or "auto" for the
// renderer's own.
struct PageChoices {
    std::string orientation = "auto";
    double cpi = 0, lpi = 0;
    bool greenbar = false;
};

// The paper for a name of PAPER (letter, a4, legal...); false for an unknown name.
bool PaperByName(const std::string& name, Paper& paper);
// The locale's paper (LC_PAPER, PAPERSIZE, /etc/papersize): Letter or A4.
Paper LocalePaper();
// The CUPS destination's default media; false when the destination is unknown.
bool GetPrinterPaper(const std::string& printer, Paper& paper);

// The sheets as the host laid them out: a form feed starts a sheet, the widest
// line and the longest page decide characters and lines per inch, text over
// the same columns after a carriage return is drawn on the line. 1 on success.
int DrawHostPages(const std::string& path, const Paper& paper, const PageChoices& choices,
                  const JobHints& hints, int headerLines, const std::string& heading,
                  std::string& out, config::Reporter& reporter);

// Page geometry in device pixels of a 300 dpi page, with the font metrics that
// decide characters per line and lines per page.
struct PageLayout {
    double pageWidth = 0, pageHeight = 0; // points
    double left = 0, top = 0;             // printable area origin, points
    int hres = 0, vres = 0;               // printable area, pixels
    int lineHeight = 0, avgCharWidth = 0, ascent = 0;
    int chars = 0, lines = 0; // c and L
};

// Classic layout: one 10 pt font, lines wrapped at the page width, pages only when full.
// Layout for a page in hundredths of millimetres with its margins.
PageLayout ComputeLayout(int width, int length, int left, int top, int right, int bottom);
// Page size used when no printer says otherwise (A4, or Letter when the system's paper is letter).
PageLayout DefaultLayout();
// The layout for a CUPS destination's default media; false when it is unknown.
bool GetPrinterLayout(const std::string& printer, PageLayout& layout);

// Draws the print file as a PDF into out; 1 on success.
int RenderPdf(const std::string& path, const PageLayout& layout, int headerLines,
              const std::string& heading, std::string& out);

// Lines a page of maxLength characters per line gets from the file.
long GetTotalLines(const std::string& path, int maxLength);
// The next such line, control characters blanked and the newline removed; 0 at the end.
int GetLineToPrint(FILE* file, int maxLength, char* buffer);

// The heading printed for a job name: long names lose their directory part first.
std::string HeadingFor(const std::string& text);

// Used by the printer and the PDF file: false with a status line when the page
// cannot hold the header lines; DrawPages reports its own failures.
bool LayoutUsable(const PageLayout& m, int headerLines, const std::string& where,
                  config::Reporter& reporter);
// charset: the print file's (JobHints), "" ISO 8859-1; received: the job's arrival, the
// PDF's creation date (0: now).
int DrawPages(const std::string& path, const PageLayout& m, int headerLines,
              const std::string& heading, std::string& out, config::Reporter& reporter,
              const std::string& charset = "", long long received = 0);

} // namespace output
