// The media a finished job can go to, and the failed-jobs folder, as the
// delivery routes to them. Inside the output layer only.
#pragma once
#include <string>
#include <vector>

#include "config/result.h"
#include "output/job_hints.h"
#include "output/pdf_render.h"

namespace config {
class Reporter;
}

namespace output {

// The page settings of the printer and PDF media.
struct PageSettings {
    bool classic = false;
    std::string paper; // PAPER, "" the destination's or the locale's
    PageChoices choices;
    std::string jobOptions; // CUPS name=value pairs
};

// The job drawn for paper (or, classic, for that paper's layout); 1 on success.
int DrawJob(const std::string& path, const Paper& paper, const PageSettings& page,
            const JobHints& hints, bool headings, const std::string& where,
            const std::string& heading, std::string& out, config::Reporter& reporter);

// "NUL" in any case, or /dev/null: the job goes nowhere and counts as done.
bool IsNul(const std::string& path);
std::string BaseName(const std::string& path);
std::string DirName(const std::string& path);
bool ReadFileBytes(const std::string& path, std::string& out);
// A note for the trace and, in debug mode, the debug log.
void DebugNote(const char* text);

// The INI default of PRINTER, meaning none is set.
inline constexpr const char* kNoPrinterSet = "NO DEAFULT PRINTER";
// The CUPS destination for printer: its name, or CUPS's default destination
// when none is set; "" with why when there is none.
std::string PrinterDestination(const std::string& printer, std::string& why);

// CUPS: the job drawn as PDF pages on the destination's default media; 1 when
// submitted, kAbandoned (the job cancelled) when stopFd turned readable first.
// An empty printer name means none is set.
// where: the destination, and the CUPS job number once submitted.
int PrintOnPrinter(const std::string& printer, bool headings, const PageSettings& page,
                   const JobHints& hints, const std::string& path, const std::string& heading,
                   config::Reporter& reporter, std::string& where, int stopFd = -1,
                   std::string* drawn = nullptr);

// Print to file: a copy beside the print file with the letter f, or a PDF of
// its pages. An existing copy is replaced only when the user says so.
// out: the copy's name when it is not the one CopyName gives for path.
int CopyToOutputFile(const std::string& path, config::Reporter& reporter,
                     const std::string& out = "");
// The copy's name: JOB0.txt gives JOB0f.txt, or JOB0f.pdf as a PDF.
std::string CopyName(const std::string& path, bool pdf);
int WritePdfCopy(const std::string& path, const std::string& heading, bool headings,
                 const PageSettings& page, const JobHints& hints, config::Reporter& reporter,
                 const std::string& outName = "", std::string* drawn = nullptr);

// A delivery given up because stopFd turned readable (the session stops).
inline constexpr int kAbandoned = -1;

// Network printer at "host:port" (or a port on this computer): ok, kAbandoned,
// or MSG_SOCKET_WRITE with the reason, hostPort its subject.
config::Result SendToSocket(const std::string& hostPort, long timeoutMs, const std::string& bytes,
                            int stopFd = -1);

// The job on the standard input of command (run by the shell); 1 when it
// exits with 0, kAbandoned when stopFd turned readable first (the command is
// killed), otherwise 0 with detail saying why.
int RunCommand(const std::string& command, const std::string& path, std::string& detail,
               int stopFd = -1);

// Failed jobs: the folder beside the print files, a job moved there under a
// time stamp, and the kept jobs oldest first with the names they had.
std::string FailedFolder(const std::string& printFilePath);
// The kept job's path, "" when it could not be kept (that is reported) or is empty.
std::string KeepFailedJob(const std::string& path, config::Reporter& reporter);
struct KeptJob {
    std::string path;
    std::string originalName;
};
std::vector<KeptJob> KeptJobs(const std::string& dir);

} // namespace output
