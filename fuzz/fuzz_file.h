// Shared by the fuzz targets: the input bytes as a real file, one per target,
// rewritten in place on a memory file system when there is one (the settings
// writer syncs every write, which costs a disk a few milliseconds).
#pragma once
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// The scratch directories made so far, removed with what they hold when the
// target exits: every run made new ones, and memory is where they are.
inline std::vector<std::string>& FuzzScratchDirs() {
    static std::vector<std::string> dirs;
    return dirs;
}

inline void FuzzRemoveScratchDirs() {
    for (const std::string& dir : FuzzScratchDirs())
        nftw(
            dir.c_str(),
            [](const char* path, const struct stat*, int, FTW*) { return remove(path); }, 8,
            FTW_DEPTH | FTW_PHYS);
}

// A fresh directory for the target's files, in memory when /dev/shm is there.
inline std::string FuzzScratchDir(const char* name) {
    for (const char* base : {"/dev/shm", "/tmp"}) {
        std::string tmpl = std::string(base) + "/" + name + ".XXXXXX";
        if (const char* d = mkdtemp(tmpl.data())) {
            if (FuzzScratchDirs().empty()) std::atexit(FuzzRemoveScratchDirs);
            FuzzScratchDirs().push_back(d);
            return d;
        }
    }
    return "/tmp";
}

inline std::string FuzzFile(const char* suffix, const uint8_t* data, size_t size) {
    static const std::string dir = FuzzScratchDir("twfuzz");
    std::string path = dir + "/input" + suffix;
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
        while (size > 0) {
            ssize_t n = write(fd, data, size);
            if (n <= 0) break;
            data += n;
            size -= static_cast<size_t>(n);
        }
        close(fd);
    }
    return path;
}

// Keeps the targets' own diagnostics off the fuzzer's output.
class QuietStderr {
  public:
    QuietStderr() {
        std::fflush(stderr);
        saved_ = dup(2);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        close(null);
    }
    ~QuietStderr() {
        std::fflush(stderr);
        dup2(saved_, 2);
        close(saved_);
    }

  private:
    int saved_;
};
