// Process and system facilities the engine needs from the host OS.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Directory holding the INI files: $TWPRINTER_DIR, else $XDG_CONFIG_HOME/twprinter
// (~/.config/twprinter); created when missing.
std::string SettingsDirectory();
// Joins a directory and a file name with "/".
std::string JoinPath(const std::string& dir, const std::string& name);

std::string ComputerName();
std::string CurrentDirectory();

// The process command line as one string: program path and arguments joined by blanks.
void SetCommandLine(int argc, char** argv);
void SetCommandLine(const std::string& line);
const std::string& CommandLine();
// The words after the program path: argv's, or the blank-separated words of a line.
const std::vector<std::string>& CommandArgs();
// Base name of the program (argv[0] without directory).
const std::string& ProgramName();

// Milliseconds from an arbitrary fixed point, monotonic.
uint64_t MonotonicMs();

// Local time as "YYYY-MM-DD HH:MM:SS", the one form every log, status line and
// page shows; the second form adds milliseconds (".mmm") to the present time.
std::string LocalTimeText(int64_t unixSeconds);
std::string LocalTimeNowMs();

bool FileExists(const std::string& path);

// The system's text for an errno value ("No such file or directory").
std::string SystemErrorText(int err);

} // namespace platform
