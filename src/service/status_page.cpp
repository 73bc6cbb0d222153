#include "service/status_page.h"

#include <cstdio>
#include <ctime>

#include "service/metrics.h"

namespace {

const char* const kStates[] = {"offline", "connecting", "online"};

std::string Html(const std::string& v) {
    std::string out;
    for (char c : v) {
        switch (c) {
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '&':
            out += "&amp;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string Json(const std::string& v) {
    std::string out = "\"";
    for (unsigned char c : v) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char b[8];
            std::snprintf(b, sizeof b, "\\u%04x", c);
            out += b;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string Time(int64_t t) {
    if (t == 0) return "-";
    const time_t tt = static_cast<time_t>(t);
    tm local{};
    localtime_r(&tt, &local);
    char b[32];
    std::strftime(b, sizeof b, "%Y-%m-%d %H:%M:%S", &local);
    return b;
}

std::string State(const LuEntry& lu) {
    if (!lu.stopped.empty()) return "stopped";
    return lu.counters ? kStates[lu.counters->state.load() % 3] : "offline";
}

} // namespace

std::string RenderStatusPage(const std::vector<LuEntry>& lus, int64_t now) {
    std::string out =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
        "<meta http-equiv=\"refresh\" content=\"10\"><title>twprinterd</title><style>"
        "body{font-family:sans-serif;margin:1.5em}table{border-collapse:collapse}"
        "th,td{padding:.3em .8em;border-bottom:1px solid #ccc;text-align:left}"
        ".online{color:#080}.connecting{color:#a60}.offline,.stopped{color:#c00}"
        "</style></head><body><h1>twprinterd</h1>\n<p>" +
        std::to_string(lus.size()) + " LUs at " + Html(Time(now)) +
        "</p>\n<table><tr><th>LU</th><th>State</th><th>Host</th><th>Received</th>"
        "<th>Delivered</th><th>Failed</th><th>Kept now</th><th>Last job</th><th>Note</th></tr>\n";
    for (const LuEntry& lu : lus) {
        const LuCounters* c = lu.counters.get();
        const std::string state = State(lu);
        out += "<tr><td>" + Html(lu.name) + "</td><td class=\"" + state + "\">" + state +
               "</td><td>" + Html(lu.host) + "</td><td>" +
               std::to_string(c ? c->jobsReceived.load() : 0) + "</td><td>" +
               std::to_string(c ? c->jobsDelivered.load() : 0) + "</td><td>" +
               std::to_string(c ? c->jobsFailed.load() : 0) + "</td><td>" +
               std::to_string(KeptJobCount(lu.failedDir)) + "</td><td>" +
               Html(Time(c ? c->lastJobTime.load() : 0)) + "</td><td>" +
               Html(lu.valid ? lu.stopped : "settings not valid: " + lu.stopped) + "</td></tr>\n";
    }
    return out + "</table></body></html>\n";
}

std::string RenderStatusJson(const std::vector<LuEntry>& lus) {
    std::string out = "{\"lus\":[";
    bool first = true;
    for (const LuEntry& lu : lus) {
        const LuCounters* c = lu.counters.get();
        auto n = [&](const std::atomic<uint64_t> LuCounters::*f) {
            return std::to_string(c ? (c->*f).load() : 0);
        };
        out += std::string(first ? "" : ",") + "{\"name\":" + Json(lu.name) +
               ",\"state\":" + Json(State(lu)) + ",\"host\":" + Json(lu.host) +
               ",\"valid\":" + (lu.valid ? "true" : "false") + ",\"stopped\":" + Json(lu.stopped) +
               ",\"jobsReceived\":" + n(&LuCounters::jobsReceived) +
               ",\"jobsDelivered\":" + n(&LuCounters::jobsDelivered) +
               ",\"jobsFailed\":" + n(&LuCounters::jobsFailed) +
               ",\"jobsKept\":" + n(&LuCounters::jobsKept) +
               ",\"jobsWaiting\":" + std::to_string(KeptJobCount(lu.failedDir)) +
               ",\"records\":" + n(&LuCounters::records) + ",\"bytes\":" + n(&LuCounters::bytes) +
               ",\"lastJobTime\":" + std::to_string(c ? c->lastJobTime.load() : 0) + "}";
        first = false;
    }
    return out + "]}\n";
}
