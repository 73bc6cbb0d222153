// The printer medium: the job's pages drawn for the CUPS destination's media
// and submitted to it as one PDF document.
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>

#include "config/report.h"
#include "output/media.h"
#include "output/pdf_render.h"
#include "platform/printlibs.h"

namespace output {

namespace {

constexpr size_t kPrinterNameMax = 80;

bool Stopped(int stopFd) {
    pollfd p{stopFd, POLLIN, 0};
    return stopFd >= 0 && ::poll(&p, 1, 0) == 1;
}

// The job created but not all sent: cancelled over a connection of its own,
// since the default one is in the middle of the document request.
void CancelUnfinished(const std::string& printer, int job) {
    const platform::PrintLibs& pl = platform::PL();
    http_t* http = pl.httpConnect2(pl.cupsServer(), pl.ippPort(), nullptr, AF_UNSPEC,
                                   pl.cupsEncryption(), 1, 5000, nullptr);
    if (http) {
        pl.cupsCancelJob2(http, printer.c_str(), job, 0);
        pl.httpClose(http);
    }
    pl.cupsFinishDocument(CUPS_HTTP_DEFAULT, printer.c_str());
}

// 1 when submitted (detail: the job number), 0 with detail on failure, kAbandoned
// when stopFd turned readable first (the job is then cancelled).
int SubmitToCups(const std::string& printer, const std::string& title, const std::string& pdf,
                 const PageSettings& page, const Paper& paper, int stopFd, std::string& detail) {
    const platform::PrintLibs& pl = platform::PL();
    cups_option_t* options = nullptr;
    int count = pl.cupsParseOptions(page.jobOptions.c_str(), 0, &options);
    if (!paper.media.empty())
        count = pl.cupsAddOption("media", paper.media.c_str(), count, &options);
    int job = pl.cupsCreateJob(CUPS_HTTP_DEFAULT, printer.c_str(), title.c_str(), count, options);
    pl.cupsFreeOptions(count, options);
    if (job <= 0) {
        detail = pl.cupsLastErrorString();
        return 0;
    }
    bool ok = pl.cupsStartDocument(CUPS_HTTP_DEFAULT, printer.c_str(), job, title.c_str(),
                                   CUPS_FORMAT_PDF, 1) == HTTP_STATUS_CONTINUE;
    for (size_t done = 0; ok && done < pdf.size(); done += 65536) {
        if (Stopped(stopFd)) {
            CancelUnfinished(printer, job);
            return kAbandoned;
        }
        size_t n = std::min<size_t>(65536, pdf.size() - done);
        ok = pl.cupsWriteRequestData(CUPS_HTTP_DEFAULT, pdf.data() + done, n) ==
             HTTP_STATUS_CONTINUE;
    }
    ipp_status_t finish = pl.cupsFinishDocument(CUPS_HTTP_DEFAULT, printer.c_str());
    if (!ok || finish > IPP_STATUS_OK_CONFLICTING) {
        detail = pl.cupsLastErrorString();
        pl.cupsCancelJob2(CUPS_HTTP_DEFAULT, printer.c_str(), job, 0);
        return 0;
    }
    detail = std::to_string(job);
    return 1;
}

} // namespace

bool GetPrinterPaper(const std::string& printer, Paper& paper) {
    if (!platform::CupsReady()) return false;
    const platform::PrintLibs& pl = platform::PL();
    cups_dest_t* dest = pl.cupsGetNamedDest(CUPS_HTTP_DEFAULT, printer.c_str(), nullptr);
    if (!dest) return false;
    paper = LocalePaper();
    paper.media.clear();
    cups_dinfo_t* info = pl.cupsCopyDestInfo(CUPS_HTTP_DEFAULT, dest);
    cups_size_t size{};
    if (info && pl.cupsGetDestMediaDefault(CUPS_HTTP_DEFAULT, dest, info, 0, &size) &&
        size.width > 0 && size.length > 0)
        paper = Paper{size.width, size.length, size.left, size.top, size.right, size.bottom, ""};
    else if (const char* media = pl.cupsGetOption("media", dest->num_options, dest->options)) {
        // A queue without media lists (a raw queue) still names its default.
        pwg_media_t* pwg = pl.pwgMediaForPWG(media);
        if (!pwg) pwg = pl.pwgMediaForLegacy(media);
        if (pwg && pwg->width > 0 && pwg->length > 0) {
            paper.width = pwg->width;
            paper.length = pwg->length;
        }
    }
    if (info) pl.cupsFreeDestInfo(info);
    pl.cupsFreeDests(1, dest);
    return true;
}

bool GetPrinterLayout(const std::string& printer, PageLayout& layout) {
    Paper p;
    if (!GetPrinterPaper(printer, p)) return false;
    layout = ComputeLayout(p.width, p.length, p.left, p.top, p.right, p.bottom);
    return true;
}

std::string PrinterDestination(const std::string& printer, std::string& why) {
    if (!printer.empty() && printer != kNoPrinterSet) return printer.substr(0, kPrinterNameMax);
    if (!platform::CupsReady()) {
        why = platform::PrintLibsError();
        return "";
    }
    const platform::PrintLibs& pl = platform::PL();
    cups_dest_t* dest = pl.cupsGetNamedDest(CUPS_HTTP_DEFAULT, nullptr, nullptr);
    if (!dest) {
        why = "no printer is set (PRINTER) and CUPS has no default destination; set one with "
              "\"lpadmin -d NAME\" or set PRINTER";
        return "";
    }
    std::string name = dest->name ? dest->name : "";
    pl.cupsFreeDests(1, dest);
    return name.substr(0, kPrinterNameMax);
}

int PrintOnPrinter(const std::string& printer, bool headings, const PageSettings& page,
                   const JobHints& hints, const std::string& path, const std::string& heading,
                   config::Reporter& reporter, std::string& where, int stopFd, std::string* drawn) {
    std::string why;
    const std::string name = PrinterDestination(printer, why);
    if (!name.empty()) where = "CUPS printer " + name;
    if (name.empty()) {
        DebugNote("GetDefaultPrinter() failed\n");
        reporter.StatusLine("Unable to print " + BaseName(path) + ": " + why);
        return 0;
    }
    Paper paper;
    if (!GetPrinterPaper(name, paper)) {
        DebugNote("Unable to get printer DC\n");
        why = platform::CupsReady() ? platform::PL().cupsLastErrorString()
                                    : platform::PrintLibsError();
        reporter.StatusLine("Unable to print " + BaseName(path) + " on printer " + name + ": " +
                            why);
        return 0;
    }
    if (!page.paper.empty() && !PaperByName(page.paper, paper))
        reporter.StatusLine("PAPER=" + page.paper +
                            " is not a paper size known here; the printer's own is used.");
    std::string pdf;
    if (!DrawJob(path, paper, page, hints, headings, "printer " + name, heading, pdf, reporter))
        return 0;
    std::string detail;
    int rc = SubmitToCups(name, hints.title.empty() ? heading : hints.title, pdf, page, paper,
                          stopFd, detail);
    if (rc == kAbandoned) return kAbandoned;
    if (!rc) {
        reporter.StatusLine("Unable to print " + BaseName(path) + " on printer " + name + ": " +
                            detail);
        return 0;
    }
    where += ", job " + detail;
    if (drawn) *drawn = std::move(pdf);
    return 1;
}

} // namespace output
