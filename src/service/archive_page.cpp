// The archive's pages and JSON, and the thread that prints archived jobs again.
#include "service/archive_page.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <tuple>

#include "archive/archive.h"
#include "config/report.h"
#include "config/utilities.h"
#include "service/page_text.h"
#include "session/archive_command.h"

namespace service {

namespace {

constexpr const char* kText = "text/plain; charset=utf-8";
constexpr const char* kHtml = "text/html; charset=utf-8";
constexpr const char* kJson = "application/json";
// Reprints wait here while one prints; more are refused rather than piled up.
constexpr size_t kReprintsWaiting = 8;
constexpr int kLimitMax = 1000;

// The archive of the board: the LUs of a pool share one.
std::string ArchiveDir(const std::vector<session::LuEntry>& lus) {
    for (const session::LuEntry& lu : lus)
        if (!lu.archiveDir.empty()) return lu.archiveDir;
    return "";
}

ArchiveAnswer Answer(unsigned status, std::string body, const char* type = kText) {
    ArchiveAnswer a;
    a.status = status;
    a.body = std::move(body);
    a.type = type;
    return a;
}

std::string Head(const std::string& title) {
    return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>" +
           Html(title) +
           " - twprinterd</title><style>"
           "body{font-family:sans-serif;margin:1.5em}table{border-collapse:collapse}"
           "th,td{padding:.3em .8em;border-bottom:1px solid #ccc;text-align:left;"
           "vertical-align:top}form{display:inline}.context{font-family:monospace}"
           "</style></head><body><p><a href=\"/\">All LUs</a></p>";
}

struct Search {
    archive::Query query;
    std::string q, lu, since, until, limit; // as given, for the form
};

// The search of args, or why it is none.
std::string ParseSearch(const QueryArgs& args, Search& s) {
    for (size_t i = 0; i < args.size(); ++i) {
        const auto& [key, value] = args[i];
        for (size_t j = 0; j < i; ++j)
            if (args[j].first == key) return key + "= is given twice";
        if (key == "q")
            s.q = value;
        else if (key == "lu")
            s.lu = value;
        else if (key == "since")
            s.since = value;
        else if (key == "until")
            s.until = value;
        else if (key == "limit")
            s.limit = value;
        else
            return "unknown parameter " + key + "= (q, lu, since, until and limit are known)";
    }
    for (size_t at = 0; at < s.q.size();) {
        const size_t start = s.q.find_first_not_of(" \t\r\n", at);
        if (start == std::string::npos) break;
        size_t end = s.q.find_first_of(" \t\r\n", start);
        if (end == std::string::npos) end = s.q.size();
        s.query.words.push_back(s.q.substr(start, end - start));
        at = end;
    }
    if (s.query.words.empty()) return "q= needs a word to look for";
    s.query.lu = s.lu;
    // A form sends its empty fields: empty is the same as absent.
    for (auto [text, field, end] : {std::tuple{&s.since, &s.query.since, false},
                                    std::tuple{&s.until, &s.query.until, true}}) {
        if (text->empty()) continue;
        *field = session::ParseArchiveDate(*text, end);
        if (*field < 0)
            return std::string(end ? "until=" : "since=") + *text +
                   " is no date (YYYY-MM-DD or YYYY-MM-DD HH:MM[:SS], local time)";
    }
    if (s.query.since && s.query.until && s.query.until <= s.query.since)
        return "until= is not after since=";
    if (!s.limit.empty()) {
        long long n = 0;
        if (!archive::ParseId(s.limit, n) || n > kLimitMax)
            return "limit=" + s.limit + " is no number from 1 to " + std::to_string(kLimitMax);
        s.query.limit = static_cast<int>(n);
    }
    return "";
}

std::string JobJson(const archive::Job& j, bool pdf) {
    const std::string id = std::to_string(j.id);
    return "{\"id\":" + id + ",\"lu\":" + Json(j.lu) + ",\"name\":" + Json(j.name) +
           ",\"number\":" + std::to_string(j.number) +
           ",\"received\":" + std::to_string(j.received) +
           ",\"delivered\":" + std::to_string(j.delivered) +
           ",\"pages\":" + std::to_string(j.pages) + ",\"bytes\":" + std::to_string(j.bytes) +
           ",\"medium\":" + Json(j.medium) + ",\"destination\":" + Json(j.destination) +
           ",\"outcome\":" + Json(j.outcome) + ",\"text\":" + Json("/archive/" + id) +
           ",\"pdf\":" + (pdf ? Json("/archive/" + id + ".pdf") : std::string("null"));
}

std::string SearchForm(const Search& s) {
    auto field = [](const char* name, const std::string& value, const char* hint) {
        return std::string("<input name=\"") + name + "\" value=\"" + Html(value) +
               "\" placeholder=\"" + hint + "\"> ";
    };
    return "<form method=\"get\" action=\"/archive\">" + field("q", s.q, "words") +
           field("lu", s.lu, "LU") + field("since", s.since, "since YYYY-MM-DD") +
           field("until", s.until, "until YYYY-MM-DD") +
           "<button type=\"submit\">Search the archive</button></form>\n";
}

std::string ResultsPage(const Search& s, const std::vector<archive::Hit>& hits, bool posting) {
    std::string out = Head("Archive") + "<h1>Archive</h1>\n" + SearchForm(s) + "<p>" +
                      std::to_string(hits.size()) + " job" + (hits.size() == 1 ? "" : "s") +
                      " found, newest first</p>\n";
    if (!posting && !hits.empty()) out += "<p>Printing again needs a STATUSTOKEN.</p>\n";
    if (hits.empty()) return out + "</body></html>\n";
    out += "<table><tr><th>Job</th><th>Delivered</th><th>LU</th><th>Name</th><th>Pages</th>"
           "<th>Outcome</th><th>Context</th><th></th></tr>\n";
    for (const archive::Hit& h : hits) {
        const archive::Job& j = h.job;
        const std::string self = "/archive/" + std::to_string(j.id);
        out += "<tr><td><a href=\"" + self + "\">" + std::to_string(j.id) + "</a></td><td>" +
               Html(LocalTime(j.delivered)) + "</td><td>" + Html(j.lu) + "</td><td>" +
               Html(j.name) + "</td><td>" + std::to_string(j.pages) + "</td><td>" +
               Html(j.outcome) + " to " + Html(j.destination) + "</td><td class=\"context\">" +
               Html(h.context) + "</td><td><a href=\"" + self + "\">text</a>";
        if (h.pdf) out += " <a href=\"" + self + ".pdf\" download>PDF</a>";
        if (posting) {
            // Appended in two steps: GCC 12 at -O2 sees a bogus overflow in " " + string&&.
            out += ' ';
            out += PostButton(self + "/reprint", "Print again");
        }
        out += "</td></tr>\n";
    }
    return out + "</table></body></html>\n";
}

// A print asked for and the settings of the LU it goes through.
struct ReprintAsked {
    archive::Job job;
    std::string lu;
    std::shared_ptr<const config::Settings> settings;
};

} // namespace

struct ArchivePages::Impl {
    explicit Impl(const session::LuBoard& b) : board(b) {}
    const session::LuBoard& board;

    std::mutex readMutex; // requests come on the endpoint's thread; held while searching
    std::unique_ptr<archive::Archive> reader;

    std::mutex queueMutex;
    std::condition_variable wake;
    std::deque<ReprintAsked> queue;
    bool stopping = false;
    std::thread worker;

    archive::Archive& Reader(const std::string& dir) {
        if (!reader || reader->Dir() != dir) {
            reader = std::make_unique<archive::Archive>(
                dir, 0, 0, [](const std::string& line) { config::LogLines(line); });
            reader->ReadOnly();
        }
        return *reader;
    }
    void Work();
};

void ArchivePages::Impl::Work() {
    std::unique_lock<std::mutex> lock(queueMutex);
    for (;;) {
        wake.wait(lock, [&] { return stopping || !queue.empty(); });
        if (stopping) return;
        ReprintAsked r = std::move(queue.front());
        queue.pop_front();
        lock.unlock();
        const std::string id = std::to_string(r.job.id);
        config::LogLines("Archived job " + id + " (" + r.job.name + ") is printed again on LU " +
                         r.lu + ", as asked on the status page.");
        const std::string why =
            session::ReprintArchived(r.job, *r.settings, "", config::StderrReporter());
        if (!why.empty() && why != "not delivered")
            config::LogLines("Archived job " + id + " cannot be printed again: " + why);
        lock.lock();
    }
}

ArchivePages::ArchivePages(const session::LuBoard& board) : impl_(std::make_unique<Impl>(board)) {
    impl_->worker = std::thread([this] { impl_->Work(); });
}

ArchivePages::~ArchivePages() {
    {
        std::lock_guard<std::mutex> lock(impl_->queueMutex);
        impl_->stopping = true;
        if (!impl_->queue.empty())
            config::LogLines(std::to_string(impl_->queue.size()) +
                             " archived jobs asked to be printed again were not: the program "
                             "ends.");
    }
    impl_->wake.notify_all();
    impl_->worker.join();
}

bool ArchivePages::IsPage(const std::string& path) {
    for (const char* root : {"/archive", "/api/v1/archive"}) {
        const std::string r = root;
        if (path == r) return true;
        if (path.compare(0, r.size() + 1, r + "/") == 0 &&
            path.find('/', r.size() + 1) == std::string::npos)
            return true;
    }
    return false;
}

bool ArchivePages::IsReprint(const std::string& path, std::string& id, bool& api) {
    const std::string tail = "/reprint";
    if (path.size() <= tail.size() || path.compare(path.size() - tail.size(), tail.size(), tail))
        return false;
    const std::string rest = path.substr(0, path.size() - tail.size());
    for (const char* root : {"/archive/", "/api/v1/archive/"}) {
        const std::string r = root;
        if (rest.compare(0, r.size(), r) != 0) continue;
        id = rest.substr(r.size());
        api = r.size() > 9;
        return !id.empty() && id.find('/') == std::string::npos;
    }
    return false;
}

ArchiveAnswer ArchivePages::Get(const std::string& path, const QueryArgs& args, bool posting) {
    const std::string dir = ArchiveDir(impl_->board.Snapshot());
    if (dir.empty()) return Answer(404, "the archive is off (ARCHIVEDAYS=0)\n");
    const bool api = path.compare(0, 8, "/api/v1/") == 0;
    const std::string rest = path.substr(api ? 15 : 8); // past /archive
    std::lock_guard<std::mutex> lock(impl_->readMutex);
    archive::Archive& store = impl_->Reader(dir);
    if (rest.empty()) {
        Search s;
        // The page without a question: the form alone.
        if (!api && args.empty())
            return Answer(
                200, Head("Archive") + "<h1>Archive</h1>\n" + SearchForm(s) + "</body></html>\n",
                kHtml);
        const std::string bad = ParseSearch(args, s);
        if (!bad.empty()) return Answer(400, bad + "\n");
        std::vector<archive::Hit> hits;
        std::string why;
        if (!store.Find(s.query, hits, why))
            return Answer(503, "the archive cannot be searched now: " + why + "\n");
        if (!api) return Answer(200, ResultsPage(s, hits, posting), kHtml);
        std::string out = "{\"jobs\":[";
        for (size_t i = 0; i < hits.size(); ++i)
            out += std::string(i ? "," : "") + JobJson(hits[i].job, hits[i].pdf) +
                   ",\"context\":" + Json(hits[i].context) + "}";
        return Answer(200, out + "]}\n", kJson);
    }
    const bool pdf = !api && rest.size() > 5 && rest.compare(rest.size() - 4, 4, ".pdf") == 0;
    const std::string idText = rest.substr(1, rest.size() - 1 - (pdf ? 4 : 0));
    long long id = 0;
    if (!archive::ParseId(idText, id)) return Answer(404, "no archived job " + idText + "\n");
    if (!args.empty()) return Answer(400, "an archived job takes no parameters\n");
    archive::Job job;
    std::string why;
    if (!store.Get(id, job, why)) return Answer(404, "no archived job " + idText + "\n");
    if (api) return Answer(200, JobJson(job, !job.pdf.empty()) + "}\n", kJson);
    if (!pdf) return Answer(200, std::move(job.text));
    if (job.pdf.empty())
        return Answer(404, "archived job " + idText + " was not drawn: it has no PDF\n");
    ArchiveAnswer a = Answer(200, std::move(job.pdf), "application/pdf");
    a.download = "job-" + idText + ".pdf";
    return a;
}

ArchiveAnswer ArchivePages::Reprint(const std::string& idText, bool api) {
    const std::vector<session::LuEntry> lus = impl_->board.Snapshot();
    const std::string dir = ArchiveDir(lus);
    if (dir.empty()) return Answer(404, "the archive is off (ARCHIVEDAYS=0)\n");
    long long id = 0;
    archive::Job job;
    std::string why;
    bool found = archive::ParseId(idText, id);
    if (found) {
        std::lock_guard<std::mutex> lock(impl_->readMutex);
        found = impl_->Reader(dir).Get(id, job, why);
    }
    if (!found) return Answer(404, "no archived job " + idText + "\n");
    // The LU it came from, by the name it asks the host for or its own; a process
    // of one LU prints its own.
    const session::LuEntry* lu = nullptr;
    for (const session::LuEntry& e : lus) {
        const bool asked = e.settings && e.settings->connectName &&
                           config::Lower(*e.settings->connectName) == config::Lower(job.lu);
        if (asked || config::Lower(e.name) == config::Lower(job.lu)) lu = &e;
    }
    if (!lu && lus.size() == 1) lu = &lus[0];
    if (!lu)
        return Answer(409, "archived job " + idText + " came from LU " + job.lu +
                               ", which this process does not run\n");
    if (!lu->settings || !lu->valid)
        return Answer(409, "the LU " + lu->name + " has no settings to print with\n");
    {
        std::lock_guard<std::mutex> lock(impl_->queueMutex);
        if (impl_->queue.size() >= kReprintsWaiting)
            return Answer(503, std::to_string(kReprintsWaiting) +
                                   " reprints are waiting already; ask again later\n");
        impl_->queue.push_back({job, lu->name, lu->settings});
    }
    impl_->wake.notify_one();
    if (api)
        return Answer(202,
                      "{\"id\":" + std::to_string(id) + ",\"lu\":" + Json(lu->name) +
                          ",\"queued\":\"reprint\"}\n",
                      kJson);
    return Answer(202,
                  Head("Archive") + "<p>Archived job " + std::to_string(id) +
                      " is queued to be printed again on LU " + Html(lu->name) +
                      ".</p><p><a href=\"/archive/" + std::to_string(id) +
                      "\">Its text</a></p></body></html>\n",
                  kHtml);
}

std::string ArchiveSearchBox(const std::vector<session::LuEntry>& lus) {
    return ArchiveDir(lus).empty() ? "" : SearchForm(Search{});
}

} // namespace service
