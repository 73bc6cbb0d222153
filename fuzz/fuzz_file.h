// Shared by the fuzz targets: the input bytes as a real file, one per target,
// rewritten in place on a memory file system when there is one (the settings
// writer syncs every write, which costs a disk a few milliseconds).
#pragma once
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// A fresh directory for the target's files, in memory when /dev/shm is there.
inline std::string FuzzScratchDir(const char* name) {
    for (const char* base : {"/dev/shm", "/tmp"}) {
        std::string tmpl = std::string(base) + "/" + name + ".XXXXXX";
        if (const char* d = mkdtemp(tmpl.data())) return d;
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
