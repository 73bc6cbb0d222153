// Text for the status pages and their JSON: escaped for HTML, JSON and a URL path.
#pragma once
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

#include "platform/sysinfo.h"

namespace service {

inline std::string Html(const std::string& v) {
    std::string out;
    out.reserve(v.size());
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

inline std::string Json(const std::string& v) {
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

// One segment of a URL path: everything but letters, digits and -._~ as %XX.
inline std::string UrlPart(const std::string& v) {
    std::string out;
    for (unsigned char c : v) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            char b[4];
            std::snprintf(b, sizeof b, "%%%02X", c);
            out += b;
        }
    }
    return out;
}

// A form that posts to action with the token typed in; label is HTML.
inline std::string PostButton(const std::string& action, const std::string& label) {
    return "<form method=\"post\" action=\"" + Html(action) +
           "\"><input type=\"password\" name=\"token\" placeholder=\"token\" "
           "autocomplete=\"off\"> <button type=\"submit\">" +
           label + "</button></form>";
}

inline std::string LocalTime(int64_t t) {
    if (t == 0) return "-";
    return platform::LocalTimeText(t);
}

} // namespace service
