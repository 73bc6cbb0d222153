// The open job file: its name (numbered, fixed, standard output, NUL or the
// screen file) and its stream.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "config/result.h"
#include "datastream/job_output.h"

namespace config {
struct Settings;
}

namespace datastream {

class JobSink;

struct JobFile {
    FILE* file = nullptr;
    std::string name;
    int32_t counter = 0;     // next number tried for a numbered name
    std::string screenName;  // "screen.<pid>": the job file of FILENAME 0...
    std::string firstName;   // the screen name, once a job has been opened
    bool openFailed = false; // the last Open could not make the file (fault says why)
    // Why the job's file or port last took no more: handed to the record's result.
    config::Result fault;
    JobSink* sink = nullptr; // jobs go there instead of into files

    // Everything written to the job goes through here, then to file.
    JobOutput out;
    // A job file's stream, without a buffer of its own: null when it cannot be opened.
    static FILE* OpenStream(const char* path, const char* mode);

    // Opens the next job file unless one is open; file stays null when it cannot be made.
    void Open(const config::Settings& settings);
    bool IsStdout() const;
    // Gives the stream back (closes the file): false when that failed.
    bool Close();
    bool IsNul() const;
    static bool IsNulPrefix(const std::string& prefix);
};

} // namespace datastream
