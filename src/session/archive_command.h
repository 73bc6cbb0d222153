// twprinterd --archive: find, show and print again the jobs of the print archive.
#pragma once
#include <string>
#include <vector>

#include "archive/archive.h"
#include "config/report.h"
#include "config/settings.h"

namespace session {

// words: what follows --archive. 0 done (find: something found), 1 nothing
// found or the job could not be had, 2 a bad command line.
int ArchiveCommand(const std::vector<std::string>& words, const config::Settings& settings);

// Seconds since 1970 of a local "YYYY-MM-DD[ HH:MM[:SS]]" (or with a T); the
// end of the day for a date alone when end is set. -1 when it is no date.
long long ParseArchiveDate(const std::string& text, bool end);

// An archived job delivered again through the medium of settings, to copyTo
// instead when given; lines go to reporter, which is asked nothing (an
// existing copy is replaced: someone asked for this print). "" when it was
// delivered, else why not.
std::string ReprintArchived(const archive::Job& job, config::Settings settings,
                            const std::string& copyTo, config::Reporter& reporter);

} // namespace session
