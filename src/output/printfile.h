// Delivery of a finished print job.
#pragma once
#include <cstdio>
#include <string>

extern std::string gHeadingText;

// 1 when the job was printed, copied or skipped, 0 when it failed.
int PrintFile(const std::string& path);
int GetDefaultPrinter(char* buffer, size_t size);
long GetTotalLines(const std::string& path, int maxLength);
int GetLineToPrint(FILE* file, int maxLength, char* buffer);

// Delivers jobs kept in the failed folder again, oldest first (KEEPFAILED=1).
void RedeliverFailedJobs();

// The print-to-file branch: copy beside the print file with the letter f.
int CopyToOutputFile(const std::string& path);

// Page geometry in device pixels of a 300 dpi page, with the font metrics that
// decide characters per line and lines per page.
struct PageLayout {
    double pageWidth = 0, pageHeight = 0; // points
    double left = 0, top = 0;             // printable area origin, points
    int hres = 0, vres = 0;               // printable area, pixels
    int lineHeight = 0, avgCharWidth = 0, ascent = 0;
    int chars = 0, lines = 0; // c and L
};
// Layout for a page in hundredths of millimetres with its margins.
PageLayout ComputeLayout(int width, int length, int left, int top, int right, int bottom);
// The layout for a CUPS destination's default media; false when it is unknown.
bool GetPrinterLayout(const std::string& printer, PageLayout& layout);
// Page size used when no printer says otherwise (A4, or Letter when the system's paper is letter).
PageLayout DefaultLayout();
// Draws the print file as a PDF into out; 1 on success.
int RenderPdf(const std::string& path, const PageLayout& layout, int headerLines,
              const std::string& heading, std::string& out);
// The failed-jobs folder beside print files named like prefix.
std::string FailedFolder(const std::string& printFilePath);
