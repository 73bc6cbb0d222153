// The LUs of a board in the Prometheus text format, and whether they are ready.
#pragma once
#include <string>
#include <vector>

#include "session/lu_board.h"

// One series per LU (label lu) and the process's own figures.
std::string RenderMetrics(const std::vector<LuEntry>& lus);
// "" when every LU with valid settings is online or has been offline for no
// longer than its RETRYINTERVAL; else one line per LU that is not, with why.
std::string NotReady(const std::vector<LuEntry>& lus, int64_t now);
// Jobs waiting in a failed folder.
long KeptJobCount(const std::string& failedDir);
