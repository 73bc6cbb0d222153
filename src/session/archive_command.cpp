// The archive from the command line: search newest first with a line of
// context, a job's text, and a job printed again through the normal media.
#include "session/archive_command.h"

#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "archive/archive.h"
#include "config/report.h"
#include "output/delivery.h"
#include "platform/sysinfo.h"
#include "session/archive_link.h"

namespace session {

namespace {

constexpr const char* kArchiveUsage =
    "usage: twprinterd --archive find WORDS [--lu NAME] [--since DATE] [--until DATE]\n"
    "       twprinterd --archive show ID [--pdf [--file PATH]]\n"
    "       twprinterd --archive reprint ID [--printer NAME | --file PATH]\n"
    "DATE is YYYY-MM-DD or YYYY-MM-DD HH:MM[:SS], local time.\n";

int Usage(const std::string& problem) {
    std::fprintf(stderr, "twprinterd: %s\n%s", problem.c_str(), kArchiveUsage);
    return 2;
}

} // namespace

long long ParseArchiveDate(const std::string& text, bool end) {
    for (const char* format : {"%Y-%m-%d %H:%M:%S", "%Y-%m-%dT%H:%M:%S", "%Y-%m-%d %H:%M",
                               "%Y-%m-%dT%H:%M", "%Y-%m-%d"}) {
        tm t{};
        const char* rest = strptime(text.c_str(), format, &t);
        if (!rest || *rest) continue;
        t.tm_isdst = -1;
        const bool dayOnly = std::strcmp(format, "%Y-%m-%d") == 0;
        if (dayOnly && end) t.tm_mday += 1;
        return static_cast<long long>(mktime(&t));
    }
    return -1;
}

namespace {

std::string Stamp(long long at) {
    return platform::LocalTimeText(at);
}

// The lines of a reprint on standard error; an existing copy is replaced,
// since the user asked for this print.
class CommandReporter : public config::Reporter {
  public:
    void ShowOnlineState(bool) override {}
    void ShowStatusMessage(int, const std::string& text) override { StatusLine(text); }
    void ShowMessageBox(const std::string& text) override { StatusLine(text); }
    bool AskYesNo(const std::string&) override { return true; }
    void StatusLine(const std::string& text) override {
        std::fprintf(stderr, "twprinterd: %s\n", text.c_str());
    }
};

int Find(const std::vector<std::string>& words, archive::Archive& store) {
    archive::Query query;
    for (size_t i = 1; i < words.size(); ++i) {
        const std::string& w = words[i];
        if (w == "--lu" || w == "--since" || w == "--until") {
            if (i + 1 >= words.size()) return Usage(w + " needs a value");
            const std::string& value = words[++i];
            if (w == "--lu") {
                query.lu = value;
                continue;
            }
            const long long at = ParseArchiveDate(value, w == "--until");
            if (at < 0) return Usage(w + " " + value + " is no date");
            (w == "--since" ? query.since : query.until) = at;
            continue;
        }
        query.words.push_back(w);
    }
    if (query.words.empty()) return Usage("find needs a word to look for");
    std::vector<archive::Hit> hits;
    std::string why;
    if (!store.Find(query, hits, why)) {
        std::fprintf(stderr, "twprinterd: the archive in %s cannot be searched: %s\n",
                     store.Dir().c_str(), why.c_str());
        return 1;
    }
    for (const archive::Hit& h : hits) {
        const archive::Job& j = h.job;
        std::printf("%lld  %s  LU %s  %s  %ld page%s  %s to %s\n    %s\n", j.id,
                    Stamp(j.delivered).c_str(), j.lu.empty() ? "-" : j.lu.c_str(), j.name.c_str(),
                    j.pages, j.pages == 1 ? "" : "s", j.outcome.c_str(), j.destination.c_str(),
                    h.context.c_str());
    }
    return hits.empty() ? 1 : 0;
}

int Reprint(const std::vector<std::string>& words, const archive::Job& job,
            const config::Settings& settings) {
    config::Settings s = settings;
    std::string copyTo;
    for (size_t i = 2; i < words.size(); ++i) {
        if ((words[i] != "--printer" && words[i] != "--file") || i + 1 >= words.size())
            return Usage("reprint takes --printer NAME or --file PATH, not " + words[i]);
        if (words[i] == "--printer") {
            s.medium = config::Medium::Printer;
            s.printer = words[++i];
        } else {
            s.medium = config::Medium::File;
            copyTo = words[++i];
        }
    }
    CommandReporter reporter;
    const std::string why = ReprintArchived(job, std::move(s), copyTo, reporter);
    if (why.empty()) return 0;
    if (why != "not delivered") std::fprintf(stderr, "twprinterd: %s\n", why.c_str());
    return 1;
}

// The job's PDF to standard output or to path (written aside, then renamed).
int ShowPdf(const archive::Job& job, const std::string& path) {
    if (job.pdf.empty()) {
        std::fprintf(stderr,
                     "twprinterd: archived job %lld was not drawn (it went to %s); it has no "
                     "PDF, only its text.\n",
                     job.id, job.destination.c_str());
        return 1;
    }
    if (path.empty()) {
        std::fwrite(job.pdf.data(), 1, job.pdf.size(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    const std::string temp = path + ".part";
    FILE* out = std::fopen(temp.c_str(), "wb");
    bool ok = out && std::fwrite(job.pdf.data(), 1, job.pdf.size(), out) == job.pdf.size();
    if (out && std::fclose(out) != 0) ok = false;
    if (ok && std::rename(temp.c_str(), path.c_str()) != 0) ok = false;
    if (!ok) {
        std::fprintf(stderr, "twprinterd: unable to write %s: %s\n", path.c_str(),
                     std::strerror(errno));
        std::remove(temp.c_str());
        return 1;
    }
    return 0;
}

} // namespace

// Answers yes: a reprint replaces the copy it was asked to write.
class ReprintReporter : public config::ForwardingReporter {
  public:
    using ForwardingReporter::ForwardingReporter;
    bool AskYesNo(const std::string&) override { return true; }
};

std::string ReprintArchived(const archive::Job& job, config::Settings settings,
                            const std::string& copyTo, config::Reporter& to) {
    // The job's bytes as a print file of their own, where no spool sees them.
    char folder[] = "/tmp/twprinter-reprint-XXXXXX";
    if (!mkdtemp(folder)) return std::string("no folder for the reprint: ") + std::strerror(errno);
    const size_t slash = job.name.find_last_of('/');
    const std::string path = std::string(folder) + "/" +
                             (slash == std::string::npos ? job.name : job.name.substr(slash + 1));
    FILE* f = std::fopen(path.c_str(), "wb");
    bool written = f && std::fwrite(job.raw.data(), 1, job.raw.size(), f) == job.raw.size();
    if (f && std::fclose(f) != 0) written = false;
    std::string why;
    if (!written) {
        why = path + " cannot be written: " + std::strerror(errno);
    } else {
        settings.deliveryThread = false;
        settings.keepFailed = false;
        if (!copyTo.empty()) settings.medium = config::Medium::File;
        ReprintReporter reporter(to);
        output::Delivery delivery(settings, reporter, nullptr);
        output::JobHints hints = HintsFromLine(job.hints);
        hints.received = job.received; // drawn again with its first date
        if (delivery.Reprint(path, job.name, hints, copyTo) != 1) why = "not delivered";
    }
    ::unlink(path.c_str());
    ::rmdir(folder);
    return why;
}

int ArchiveCommand(const std::vector<std::string>& words, const config::Settings& settings) {
    if (words.empty()) return Usage("--archive needs find, show or reprint");
    archive::Archive store(
        settings.archiveDir, settings.archiveDays, settings.archiveMaxMb,
        [](const std::string& line) { std::fprintf(stderr, "twprinterd: %s\n", line.c_str()); });
    if (words[0] == "find") return Find(words, store);
    if (words[0] != "show" && words[0] != "reprint")
        return Usage(words[0] + " is no archive command");
    long long id = 0;
    if (words.size() < 2 || !archive::ParseId(words[1], id))
        return Usage(words[0] + " needs the number of an archived job");
    bool pdf = false;
    std::string pdfFile;
    if (words[0] == "show") {
        for (size_t i = 2; i < words.size(); ++i) {
            if (words[i] == "--pdf") {
                pdf = true;
            } else if (words[i] == "--file" && i + 1 < words.size() && !words[i + 1].empty()) {
                pdfFile = words[++i];
            } else {
                return Usage("show takes the job's number, --pdf and --file PATH");
            }
        }
        if (!pdfFile.empty() && !pdf) return Usage("--file goes with --pdf");
    }
    archive::Job job;
    std::string why;
    if (!store.Get(id, job, why)) {
        std::fprintf(stderr, "twprinterd: archived job %lld cannot be read: %s\n", id, why.c_str());
        return 1;
    }
    if (pdf) return ShowPdf(job, pdfFile);
    if (words[0] == "show") {
        std::fwrite(job.text.data(), 1, job.text.size(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    return Reprint(words, job, settings);
}

} // namespace session
