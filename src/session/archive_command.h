// twprinterd --archive: find, show and print again the jobs of the print archive.
#pragma once
#include <string>
#include <vector>

#include "config/settings.h"

namespace session {

// words: what follows --archive. 0 done (find: something found), 1 nothing
// found or the job could not be had, 2 a bad command line.
int ArchiveCommand(const std::vector<std::string>& words, const config::Settings& settings);

} // namespace session
