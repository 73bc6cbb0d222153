// The session's side of the print archive: a delivered job made an archive
// entry, and an archived job's delivery notes read back for a reprint.
#pragma once
#include <string>

#include "archive/archive.h"
#include "config/settings.h"
#include "output/delivery.h"

namespace session {

// The entry of a job as it was delivered; false when its print file cannot be read.
bool ArchiveEntryOf(const output::DeliveredJob& done, const config::Settings& settings,
                    archive::Job& entry);
// JobHints as one line and back.
std::string HintsLine(const output::JobHints& hints);
output::JobHints HintsFromLine(const std::string& line);

} // namespace session
