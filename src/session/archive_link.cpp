// A delivered job turned into an archive entry: its bytes kept as they were,
// its text as UTF-8 without the printer controls, for search.
#include "session/archive_link.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sstream>

#include "output/job_decode.h"

namespace session {

namespace {

const char* MediumName(config::Medium m) {
    switch (m) {
    case config::Medium::Port:
        return "port";
    case config::Medium::Socket:
        return "socket";
    case config::Medium::Command:
        return "command";
    case config::Medium::File:
        return "file";
    case config::Medium::Printer:
        break;
    }
    return "printer";
}

bool ReadAll(const std::string& path, std::string& out) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    char chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        out.append(chunk, n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

// The number in a job file's name (JOB12.txt: 12), -1 when it has none.
long JobNumber(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    long number = -1;
    for (char c : name) {
        if (c >= '0' && c <= '9')
            number = (number < 0 ? 0 : number * 10) + (c - '0');
        else if (number >= 0)
            break;
    }
    return number;
}

} // namespace

std::string HintsLine(const output::JobHints& h) {
    std::string line = "columns=" + std::to_string(h.maxPrintPosition) +
                       " lines=" + std::to_string(h.pageLength) + " controls=";
    for (size_t i = 0; i < h.transparent.size(); ++i) {
        if (i) line += ',';
        line += std::to_string(h.transparent[i].first);
        line += '-';
        line += std::to_string(h.transparent[i].second);
    }
    // The title last: it may hold blanks.
    return line + " title=" + h.title;
}

output::JobHints HintsFromLine(const std::string& line) {
    output::JobHints h;
    const size_t title = line.find(" title=");
    std::istringstream in(line.substr(0, title));
    std::string word;
    while (in >> word) {
        const size_t eq = word.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = word.substr(0, eq), value = word.substr(eq + 1);
        if (key == "columns") h.maxPrintPosition = std::atoi(value.c_str());
        if (key == "lines") h.pageLength = std::atoi(value.c_str());
        if (key != "controls") continue;
        std::istringstream ranges(value);
        std::string range;
        while (std::getline(ranges, range, ',')) {
            const size_t dash = range.find('-');
            if (dash == std::string::npos) continue;
            h.transparent.emplace_back(std::atol(range.c_str()),
                                       std::atol(range.c_str() + dash + 1));
        }
    }
    if (title != std::string::npos) h.title = line.substr(title + 7);
    return h;
}

bool ArchiveEntryOf(const output::DeliveredJob& done, const config::Settings& settings,
                    archive::Job& entry) {
    entry = archive::Job{};
    if (!ReadAll(done.path, entry.raw)) return false;
    entry.lu = done.hints.lu;
    entry.name = done.report.name;
    entry.number = JobNumber(done.report.name);
    entry.received = done.hints.received;
    entry.delivered = archive::Now();
    entry.pages = done.hints.pages;
    entry.bytes = static_cast<long long>(entry.raw.size());
    entry.medium = MediumName(settings.medium);
    entry.destination = done.report.where;
    entry.outcome = done.report.delivered ? "delivered" : "kept";
    entry.hints = HintsLine(done.hints);
    entry.pdf = done.pdf;
    // The text as people read it: printer controls left out, line ends as LF.
    const bool table = !settings.translate || settings.codePage.name.empty();
    output::JobDecoder decoder(table ? "" : settings.outputCharset);
    size_t control = 0;
    const std::string& raw = entry.raw;
    entry.text.reserve(raw.size());
    for (size_t i = 0; i < raw.size();) {
        while (control < done.hints.transparent.size() &&
               static_cast<size_t>(done.hints.transparent[control].second) <= i)
            ++control;
        if (control < done.hints.transparent.size() &&
            static_cast<size_t>(done.hints.transparent[control].first) <= i) {
            i = static_cast<size_t>(done.hints.transparent[control].second);
            continue;
        }
        // ASCII is itself in every charset the decoder takes: copied in runs,
        // up to the next printer control.
        const size_t until =
            control < done.hints.transparent.size()
                ? std::min(raw.size(), static_cast<size_t>(done.hints.transparent[control].first))
                : raw.size();
        size_t run = i;
        while (run < until && static_cast<unsigned char>(raw[run]) < 0x80 && raw[run] != '\r')
            ++run;
        if (run > i) {
            entry.text.append(raw, i, run - i);
            i = run;
            continue;
        }
        long n = 1;
        const char32_t c = decoder.Next(raw, i, n);
        i += static_cast<size_t>(n);
        if (c == '\r') continue;
        output::AppendUtf8(c, entry.text);
    }
    return true;
}

} // namespace session
