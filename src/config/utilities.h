// Error texts, the debug log and a text helper.
#pragma once
#include <cstddef>
#include <cstdio>
#include <string>

namespace config {

// System text for an error code, "%d (0x%X)" when there is none; "prefix: text"
// with a prefix. Returned in a buffer of the calling thread, valid until its next call.
const char* FormatSystemError(const char* prefix, int code);

// v in lower case, byte by byte (keys, choices, names compared without case).
std::string Lower(std::string v);

// The debug switch (-d), one for the process.
extern int gDebug;

// Debug log "TwPrinter.log" in the INI directory, shared by all sessions.
void DebugOpen();
void DebugClose();
bool DebugLogOpen();
void DebugPrint(const std::string& text);
// printf-style debug line to standard error when gDebug is set.
void Trace(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

} // namespace config
