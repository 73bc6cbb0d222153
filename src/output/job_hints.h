// What the host said about a job's paper, gathered by the data stream while
// the job was written and read by the page renderer.
#pragma once
#include <string>
#include <utility>
#include <vector>

namespace output {

struct JobHints {
    int maxPrintPosition = 0; // columns of the host's line; 0 unknown
    int pageLength = 0;       // lines of the host's page; 0 unknown
    // Byte ranges [first, last) of the job file that are printer controls for a
    // raw printer: never drawn.
    std::vector<std::pair<long, long>> transparent;
    // The file's charset (an iconv name); "" bytes as ISO 8859-1, the byte table's.
    std::string charset;
    // The job as people name it ("PRT01 job 12"): PDF title and CUPS job name; "" the heading.
    std::string title;
    // Who sent it and when, for a record of jobs (the archive).
    std::string lu;
    long pages = 0;
    long long received = 0; // seconds since 1970
};

} // namespace output
