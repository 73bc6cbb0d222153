// Memory wrappers, owned-text replacement, error texts and the debug log.
#pragma once
#include <cstddef>
#include <cstdio>
#include <string>

// Writes "Fatal Error: %s:%s - %s\n" and "%s:%s - %s\n" to standard error, shows
// the first through gFatalErrorBox when a window installed one, and ends the
// process at once (exit status 3, no clean-up).
[[noreturn]] void FatalError(const char* module, const char* function, const char* text);
extern void (*gFatalErrorBox)(const char* text);
void* KesCalloc(size_t count, size_t size);
void* KesMalloc(size_t size);
void* KesRealloc(void* block, size_t size);
void KesFree(void* block);

// Owned texts are std::string here; ReplaceString keeps the name and the
// one-place-for-assignments rule.
void ReplaceString(std::string& old, const std::string& text);

// System text for an error code, "%d (0x%X)" when there is none; "prefix: text"
// with a prefix. Returned in a buffer of the calling thread, valid until its next call.
const char* FormatSystemError(const char* prefix, int code);

// Winsock-style name for a POSIX socket errno value ("WSAECONNREFUSED"),
// "Unknown error" otherwise. Returns the Winsock number for the errno (or the errno).
int WinsockErrorName(int err, std::string& out);
// The same for a host look-up failure (h_errno, or the EAI_* codes of getaddrinfo):
// "WSAHOST_NOT_FOUND", "WSATRY_AGAIN", "WSANO_RECOVERY", "WSANO_DATA".
int HostErrorName(int herr, std::string& out);

// The debug switch (-d), one for the process.
extern int gDebug;

// Debug log "TwPrinter.log" in the INI directory, shared by all sessions.
void DebugOpen();
void DebugClose();
bool DebugLogOpen();
void DebugPrint(const std::string& text);
// printf-style debug line to standard error when gDebug is set.
void Trace(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
