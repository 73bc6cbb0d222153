#include "service/status_page.h"

#include <cstdio>
#include <ctime>

#include "service/archive_page.h"
#include "service/metrics.h"
#include "service/page_text.h"

namespace service {

namespace {

const char* const kStates[] = {"offline", "connecting", "online"};

} // namespace

std::string LuState(const session::LuEntry& lu) {
    if (!lu.stopped.empty()) return "stopped";
    return lu.counters ? kStates[lu.counters->state.load() % 3] : "offline";
}

namespace {

// The newest job's time, pages, where it went and how.
std::string LastJob(const session::LuEntry& lu) {
    if (!lu.history) return "-";
    const std::vector<session::JobEntry> jobs = lu.history->Jobs();
    if (jobs.empty()) return "-";
    const session::JobEntry& j = jobs.front();
    std::string out =
        LocalTime(j.time) + ", " + std::to_string(j.pages) + " page" + (j.pages == 1 ? "" : "s");
    if (!j.where.empty()) out += ", " + j.where;
    return out + ", " + j.outcome;
}

} // namespace

std::string RenderStatusPage(const std::vector<session::LuEntry>& lus, int64_t now) {
    std::string out =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
        "<meta http-equiv=\"refresh\" content=\"10\"><title>twprinterd</title><style>"
        "body{font-family:sans-serif;margin:1.5em}table{border-collapse:collapse}"
        "th,td{padding:.3em .8em;border-bottom:1px solid #ccc;text-align:left}"
        // Long paths in the last two columns wrap so that the table fits the window.
        "td{white-space:nowrap}td:nth-child(n+9){white-space:normal;overflow-wrap:anywhere}"
        ".online{color:#080}.connecting{color:#a60}.offline,.stopped{color:#c00}"
        "</style></head><body><h1>twprinterd</h1>\n<p>" +
        std::to_string(lus.size()) + " LUs at " + Html(LocalTime(now)) + "</p>\n" +
        ArchiveSearchBox(lus) +
        "<table><tr><th>LU</th><th>State</th><th>Host</th><th>Today</th><th>Received</th>"
        "<th>Delivered</th><th>Failed</th><th>Kept now</th><th>Last job</th><th>Note</th></tr>\n";
    for (const session::LuEntry& lu : lus) {
        const session::LuCounters* c = lu.counters.get();
        const std::string state = LuState(lu);
        out += "<tr><td><a href=\"/lu/" + Html(UrlPart(lu.name)) + "\">" + Html(lu.name) +
               "</a></td><td class=\"" + state + "\">" + state + "</td><td>" + Html(lu.host) +
               "</td><td>" + std::to_string(lu.history ? lu.history->JobsToday(now) : 0) +
               "</td><td>" + std::to_string(c ? c->jobsReceived.load() : 0) + "</td><td>" +
               std::to_string(c ? c->jobsDelivered.load() : 0) + "</td><td>" +
               std::to_string(c ? c->jobsFailed.load() : 0) + "</td><td>" +
               std::to_string(KeptJobCount(lu.failedDir)) + "</td><td>" + Html(LastJob(lu)) +
               "</td><td>" + Html(lu.valid ? lu.stopped : "settings not valid: " + lu.stopped) +
               "</td></tr>\n";
    }
    return out + "</table></body></html>\n";
}

std::string RenderStatusJson(const std::vector<session::LuEntry>& lus) {
    std::string out = "{\"lus\":[";
    bool first = true;
    for (const session::LuEntry& lu : lus) {
        const session::LuCounters* c = lu.counters.get();
        auto n = [&](const std::atomic<uint64_t> session::LuCounters::*f) {
            return std::to_string(c ? (c->*f).load() : 0);
        };
        out += std::string(first ? "" : ",") + "{\"name\":" + Json(lu.name) +
               ",\"state\":" + Json(LuState(lu)) + ",\"host\":" + Json(lu.host) +
               ",\"valid\":" + (lu.valid ? "true" : "false") + ",\"stopped\":" + Json(lu.stopped) +
               ",\"jobsReceived\":" + n(&session::LuCounters::jobsReceived) +
               ",\"jobsDelivered\":" + n(&session::LuCounters::jobsDelivered) +
               ",\"jobsFailed\":" + n(&session::LuCounters::jobsFailed) +
               ",\"jobsKept\":" + n(&session::LuCounters::jobsKept) +
               ",\"jobsWaiting\":" + std::to_string(KeptJobCount(lu.failedDir)) +
               ",\"records\":" + n(&session::LuCounters::records) +
               ",\"bytes\":" + n(&session::LuCounters::bytes) +
               ",\"lastJobTime\":" + std::to_string(c ? c->lastJobTime.load() : 0) + "}";
        first = false;
    }
    return out + "]}\n";
}

} // namespace service
