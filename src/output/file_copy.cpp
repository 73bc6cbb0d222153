// The print-to-file medium: a copy beside the print file with the letter f,
// as the bytes of the job or as a PDF of its pages.
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "config/report.h"
#include "config/utilities.h"
#include "output/media.h"
#include "output/pdf_render.h"

namespace output {

namespace {

std::string OutputName(const std::string& path) {
    size_t slash = path.rfind('/');
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + "f";
    return path.substr(0, dot) + "f" + path.substr(dot);
}

std::string PdfOutputName(const std::string& path) {
    std::string dir = path.find('/') == std::string::npos ? "" : DirName(path) + "/";
    std::string base = BaseName(path);
    size_t dot = base.find_last_of('.');
    if (dot != std::string::npos && dot > 0) base.resize(dot);
    return dir + base + "f.pdf";
}

// 0, or the errno of the first step that failed. Written aside and renamed,
// like the PDF: a program that watches the folder never reads half a job.
int Copy(const std::string& from, const std::string& to, bool replace) {
    if (!replace && ::access(to.c_str(), F_OK) == 0) return EEXIST;
    int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return errno;
    const std::string temp = to + ".part";
    int out = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) {
        int err = errno;
        ::close(in);
        return err;
    }
    char buf[65536];
    int err = 0;
    for (;;) {
        ssize_t n = ::read(in, buf, sizeof buf);
        if (n == 0) break;
        if (n < 0 || ::write(out, buf, static_cast<size_t>(n)) != n) {
            err = errno ? errno : EIO;
            break;
        }
    }
    ::close(in);
    if (::close(out) != 0 && !err) err = errno;
    if (!err && ::rename(temp.c_str(), to.c_str()) != 0) err = errno;
    if (err) ::unlink(temp.c_str());
    return err;
}

std::string OverwriteQuestion(const std::string& name) {
    char q[600];
    std::snprintf(q, sizeof q, "Output file %s already exists. Overwrite?", name.c_str());
    return q;
}

} // namespace

std::string CopyName(const std::string& path, bool pdf) {
    return pdf ? PdfOutputName(path) : OutputName(path);
}

int CopyToOutputFile(const std::string& path, config::Reporter& reporter,
                     const std::string& outName) {
    if (strcasecmp(path.c_str(), "NUL") == 0) return 1;
    const std::string out = outName.empty() ? OutputName(path) : outName;
    errno = 0;
    int err = Copy(path, out, false);
    if (err == EEXIST) {
        if (!reporter.AskYesNo(OverwriteQuestion(out))) return 1;
        err = Copy(path, out, true);
    }
    if (err == 0) return 1;
    // A spool folder removed or made read-only: the job is not counted as delivered.
    reporter.StatusLine("Unable to write " + out + ": " + config::FormatSystemError(nullptr, err));
    return 0;
}

int WritePdfCopy(const std::string& path, const std::string& heading, bool headings,
                 const PageSettings& page, const JobHints& hints, config::Reporter& reporter,
                 const std::string& copyName, std::string* drawn) {
    std::string outName = copyName.empty() ? PdfOutputName(path) : copyName;
    if (::access(outName.c_str(), F_OK) == 0 && !reporter.AskYesNo(OverwriteQuestion(outName)))
        return 1;
    Paper paper = LocalePaper();
    if (!page.paper.empty() && !PaperByName(page.paper, paper))
        reporter.StatusLine("PAPER=" + page.paper + " is not a paper size known here; " +
                            (paper.width == 21590 ? "Letter" : "A4") + " is used.");
    std::string pdf;
    if (!DrawJob(path, paper, page, hints, headings, "the PDF file", heading, pdf, reporter))
        return 0;
    // Written aside and renamed: a reader never sees half a document.
    std::string temp = outName + ".part";
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    int err = fd < 0 ? errno : 0;
    for (size_t done = 0; fd >= 0 && done < pdf.size();) {
        ssize_t n = ::write(fd, pdf.data() + done, pdf.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            err = n < 0 ? errno : EIO;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (fd >= 0 && ::close(fd) != 0 && !err) err = errno;
    if (!err && ::rename(temp.c_str(), outName.c_str()) != 0) err = errno;
    if (err) {
        ::unlink(temp.c_str());
        reporter.StatusLine("Unable to write " + outName + ": " +
                            config::FormatSystemError(nullptr, err));
        return 0;
    }
    if (drawn) *drawn = std::move(pdf);
    return 1;
}

} // namespace output
