// What a pool folder and its LU files must be before anything runs on them:
// one process per folder, and each NAME.ini a settings file.
#pragma once
#include <string>

namespace session {

// The folder's lock for this process: a descriptor held until the process
// ends (the lock goes with it, whatever ends it), or -1 with why in reason
// (another twprinterd holds it, or the lock file cannot be made).
int LockPoolFolder(const std::string& dir, std::string& reason);

// Whether the contents of a pool file can be an LU's settings: text with a
// [CONFIGURATION] section. "" when they can, else what is wrong with them.
std::string PoolFileProblem(const std::string& content);

} // namespace session
