// Shared by the fuzz targets that run the engine: a silent reporter and a
// scratch spool (in memory when it can be) whose job files are removed after
// every input.
#pragma once
#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/report.h"
#include "fuzz_file.h"

class QuietReport : public Reporter {
  public:
    void ShowOnlineState(bool) override {}
    void ShowStatusMessage(int, const std::string&) override {}
    void ShowMessageBox(const std::string&) override {}
    bool AskYesNo(const std::string&) override { return true; }
    void StatusLine(const std::string&) override {}
};

inline Reporter& FuzzQuietReporter() {
    static QuietReport quiet;
    return quiet;
}

// Makes the spool; jobs of standard-output mode land in stdout.bin there,
// emptied per input by the target.
inline std::string FuzzSpoolSetup(const char* name) {
    std::string dir = FuzzScratchDir(name);
    if (!std::freopen((dir + "/stdout.bin").c_str(), "w+b", stdout)) std::abort();
    return dir;
}

inline void FuzzSpoolClear(const std::string& dir) {
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] == 'J') unlink((dir + "/" + e->d_name).c_str());
        closedir(d);
    }
}
