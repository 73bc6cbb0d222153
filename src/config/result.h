// The outcome of a step that can fail: the message number that the edges show
// (as text, exit code or protocol reason), the reason in words, and what it
// concerns, carried from where the failure happens to where it is shown.
#pragma once
#include <string>
#include <utility>

namespace config {

struct Result {
    int code = 0;        // 0 succeeded, else a message number
    std::string reason;  // the detail shown after the message's text; may be empty
    std::string subject; // what failed: "host:port", a path, a printer, a key

    Result() = default;
    Result(int c) : code(c) {} // NOLINT: a bare code is a result without a reason
    Result(int c, std::string r, std::string s = {})
        : code(c), reason(std::move(r)), subject(std::move(s)) {}

    bool ok() const { return code == 0; }
    // The message's text, then " " and the reason when there is one.
    std::string Text() const;
};

// A failure whose reason is the system's text for errno value err.
Result SystemFailure(int code, int err, std::string subject = {});

} // namespace config
