// Shared by the fuzz targets that run the engine: a silent window report and a
// scratch spool whose job files are removed after every input.
#pragma once
#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/report.h"

class QuietReport : public UiReport {
  public:
    void ShowOnlineState(bool) override {}
    void ShowStatusMessage(int, const std::string&) override {}
    void ShowMessageBox(const std::string&) override {}
    bool AskYesNo(const std::string&) override { return true; }
    void StatusLine(const std::string&) override {}
};

// Silences the engine and makes the spool; jobs of standard-output mode land
// in stdout.bin there, emptied per input by the target.
inline std::string FuzzSpoolSetup(const char* name) {
    static QuietReport quiet;
    SetUiReport(&quiet);
    std::string tmpl = std::string("/tmp/") + name + ".XXXXXX";
    const char* d = mkdtemp(tmpl.data());
    std::string dir = d ? d : "/tmp";
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
