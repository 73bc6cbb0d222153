// The page of one LU and its JSON: the last jobs, the last errors and the
// jobs kept in its failed folder.
#include <string>
#include <vector>

#include "output/media.h"
#include "service/page_text.h"
#include "service/status_page.h"

namespace service {

namespace {

std::string FileName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::vector<output::KeptJob> Kept(const session::LuEntry& lu) {
    return lu.failedDir.empty() ? std::vector<output::KeptJob>{} : output::KeptJobs(lu.failedDir);
}

} // namespace

std::string RenderLuPage(const session::LuEntry& lu, int64_t now, bool posting) {
    const std::string state = LuState(lu);
    const std::string self = "/lu/" + UrlPart(lu.name);
    std::string out = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                      "<meta http-equiv=\"refresh\" content=\"10\"><title>" +
                      Html(lu.name) +
                      " - twprinterd</title><style>"
                      "body{font-family:sans-serif;margin:1.5em}table{border-collapse:collapse}"
                      "th,td{padding:.3em .8em;border-bottom:1px solid #ccc;text-align:left}"
                      // Long paths wrap so that the tables fit the window; times do not.
                      "td{overflow-wrap:anywhere}td:first-child{white-space:nowrap}"
                      "form{display:inline}.online,.delivered{color:#080}.connecting{color:#a60}"
                      ".offline,.stopped,.failed,.kept{color:#c00}</style></head><body>"
                      "<p><a href=\"/\">All LUs</a></p><h1>" +
                      Html(lu.name) + "</h1>\n<p class=\"" + state + "\">" + state + "</p><p>" +
                      Html(lu.host) + " at " + Html(LocalTime(now)) +
                      (lu.stopped.empty() ? "" : "; " + Html(lu.stopped)) + "</p>\n";

    const std::vector<output::KeptJob> kept = Kept(lu);
    out += "<h2>Kept jobs (" + std::to_string(kept.size()) + ")</h2>\n";
    if (!posting && !kept.empty())
        out += "<p>Delivering again or deleting needs a STATUSTOKEN.</p>\n";
    if (!kept.empty()) {
        out += "<table><tr><th>Kept as</th><th>Job</th><th></th></tr>\n";
        for (const output::KeptJob& k : kept) {
            const std::string name = FileName(k.path);
            const std::string action = self + "/kept/" + UrlPart(name);
            out += "<tr><td>" + Html(name) + "</td><td>" + Html(k.originalName) + "</td><td>";
            if (posting)
                out += PostButton(action + "/deliver", "Deliver again") + " " +
                       PostButton(action + "/delete", "Delete");
            out += "</td></tr>\n";
        }
        out += "</table>\n";
    }

    const std::vector<session::JobEntry> jobs =
        lu.history ? lu.history->Jobs() : std::vector<session::JobEntry>{};
    out += "<h2>Last jobs</h2>\n<table><tr><th>Time</th><th>Job</th><th>Pages</th><th>Bytes</th>"
           "<th>Outcome</th><th>Where</th><th>Reason</th></tr>\n";
    for (const session::JobEntry& j : jobs)
        out += "<tr><td>" + Html(LocalTime(j.time)) + "</td><td>" + Html(j.name) + "</td><td>" +
               std::to_string(j.pages) + "</td><td>" + std::to_string(j.bytes) +
               "</td><td class=\"" + j.outcome + "\">" + j.outcome + "</td><td>" + Html(j.where) +
               "</td><td>" + Html(j.reason) + "</td></tr>\n";
    out += "</table>\n<h2>Last errors</h2>\n<table><tr><th>Time</th><th>Error</th></tr>\n";
    if (lu.history)
        for (const session::ErrorEntry& e : lu.history->Errors())
            out +=
                "<tr><td>" + Html(LocalTime(e.time)) + "</td><td>" + Html(e.text) + "</td></tr>\n";
    return out + "</table></body></html>\n";
}

std::string RenderLuJson(const session::LuEntry& lu) {
    std::string out = "{\"name\":" + Json(lu.name) + ",\"state\":" + Json(LuState(lu)) +
                      ",\"host\":" + Json(lu.host) + ",\"stopped\":" + Json(lu.stopped) +
                      ",\"kept\":[";
    bool first = true;
    for (const output::KeptJob& k : Kept(lu)) {
        out += std::string(first ? "" : ",") + "{\"file\":" + Json(FileName(k.path)) +
               ",\"path\":" + Json(k.path) + ",\"job\":" + Json(k.originalName) + "}";
        first = false;
    }
    out += "],\"jobs\":[";
    first = true;
    if (lu.history)
        for (const session::JobEntry& j : lu.history->Jobs()) {
            out += std::string(first ? "" : ",") + "{\"time\":" + std::to_string(j.time) +
                   ",\"name\":" + Json(j.name) + ",\"pages\":" + std::to_string(j.pages) +
                   ",\"bytes\":" + std::to_string(j.bytes) + ",\"outcome\":" + Json(j.outcome) +
                   ",\"where\":" + Json(j.where) + ",\"reason\":" + Json(j.reason) +
                   ",\"kept\":" + Json(j.kept) + "}";
            first = false;
        }
    out += "],\"errors\":[";
    first = true;
    if (lu.history)
        for (const session::ErrorEntry& e : lu.history->Errors()) {
            out += std::string(first ? "" : ",") + "{\"time\":" + std::to_string(e.time) +
                   ",\"text\":" + Json(e.text) + "}";
            first = false;
        }
    return out + "]}\n";
}

} // namespace service
