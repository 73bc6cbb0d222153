// A pool of printer LUs in one process: one session per NAME.ini of a
// folder, each with its own spool folder NAME/ there, its own thread and its
// own delivery thread, so that one LU's trouble never reaches the others.
#pragma once
#include <string>

namespace session {

class LuBoard;

// Runs the pool of dir until SIGTERM or SIGINT arrives on signalFd (a
// signalfd that also takes SIGUSR1 for a summary line per LU and SIGHUP to
// read the folder again). 0 after a stop, 1 when dir cannot be used. The LUs
// are shown on board when one is given.
int RunPool(const std::string& dir, int signalFd, LuBoard* board = nullptr);

} // namespace session
