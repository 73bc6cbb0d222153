// Print job files: naming, opening and the end of a job.
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "config/messages.h"
#include "config/options.h"
#include "config/report.h"
#include "config/utilities.h"
#include "datastream/datastream.h"
#include "datastream/screen.h"
#include "output/printfile.h"
#include "platform/sysinfo.h"
#include "session/session.h"

FILE* prfile = nullptr;
std::string prfileName;
int32_t fileCounter = 0;
std::string gFileName;

namespace {
bool IsNul(const std::string& name) {
    return strcasecmp(name.c_str(), "NUL") == 0;
}
bool IsStdout() {
    return prfileName.rfind("stdout", 0) == 0;
}
} // namespace

void PrScreenInit(Session* sp) {
    if (!sp->prScreen) sp->prScreen = std::make_unique<ScreenNameRec>();
    sp->prScreen->name = "screen." + std::to_string(getpid());
    sp->prScreen->count = 0;
    if (!gChannelsFixed) std::memset(gVformat, 0, sizeof gVformat);
    std::memset(gHformat, 0, sizeof gHformat);
}

void OpenPrintFile(ScreenNameRec* rec) {
    if (prfile) {
        Trace("prfile not null\n");
        return;
    }
    if (gFileName.empty() && rec) {
        gFileName = rec->name;
        Trace("gFileName = %s\n", gFileName.c_str());
    }
    const std::string fileName = gOptions.fileName.value_or("");
    const int stdOut = gOptions.standardOutput.value_or(0);
    if (!fileName.empty() && fileName[0] == '0' && !stdOut) {
        prfileName = gFileName;
        Trace("Print to Standout using temp %s\n", prfileName.c_str());
    } else if (gOptions.fixedFile) {
        prfileName = fileName;
        Trace("fixed file being used !!!\n");
    } else {
        if (stdOut) {
            prfileName = "stdout";
        } else if (IsNul(fileName)) {
            prfileName = "NUL";
        } else {
            for (;;) {
                int n = fileCounter++;
                std::string cand = fileName + std::to_string(n) + ".txt";
                std::string comp = fileName + std::to_string(n) + "f.txt";
                if (!platform::FileExists(cand) && !platform::FileExists(comp)) {
                    prfileName = cand;
                    break;
                }
            }
        }
        Trace("variable file or standout being used %s!!!\n", prfileName.c_str());
    }
    if (stdOut) {
        prfile = stdout;
        return;
    }
    const std::string path = IsNul(prfileName) ? "/dev/null" : prfileName;
    prfile = std::fopen(path.c_str(), "wb");
    if (!prfile) Trace("PRFILE DID NOT OPEN\n");
}

void PrScreen(Session* sp) {
    if (sp && sp->prScreen) sp->prScreen->count = 0;
}

void KeepUnwrittenJob(Session* sp) {
    if (!IsStdout() && prfile) {
        std::fclose(prfile);
        prfile = nullptr;
    }
    if (sp->fileStarted && !IsStdout() && !IsNul(prfileName))
        Ui().StatusLine("Print file " + prfileName + " could not be written completely (" +
                        gErrorDetail + "); it is kept and was not printed.");
    chrsInLine = 0;
    sp->fileStarted = false;
    sp->bracket = 0;
}

void PrScreenRemote(Session* sp) {
    bool written = FlushOutput() == 0;
    if (!IsStdout()) {
        if (prfile) {
            Trace("We are closing prfile\n");
            if (std::fclose(prfile) != 0 && written) {
                SetErrorDetail(FormatSystemError(nullptr, errno));
                written = false;
            }
        }
        prfile = nullptr;
    }
    if (!written) {
        KeepUnwrittenJob(sp);
        std::memset(gHformat, 0, sizeof gHformat);
        if (!gChannelsFixed) std::memset(gVformat, 0, sizeof gVformat);
        return;
    }
    if (sp->fileStarted) {
        PrScreen(sp);
        gHeadingText = prfileName;
        PrintFile(prfileName);
    }
    chrsInLine = 0;
    sp->fileStarted = false;
    Trace("File started = FALSE PrScreenRemote\n");
    sp->bracket = 0;
    if (!IsStdout() && !prfileName.empty() && !IsNul(prfileName)) ::unlink(prfileName.c_str());
    std::memset(gHformat, 0, sizeof gHformat);
    if (!gChannelsFixed) std::memset(gVformat, 0, sizeof gVformat);
}
