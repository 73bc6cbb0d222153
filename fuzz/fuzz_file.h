// Shared by the fuzz targets: the input bytes as a real file.
#pragma once
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

inline std::string FuzzFile(const char* suffix, const uint8_t* data, size_t size) {
    static std::string dir = [] {
        char tmpl[] = "/tmp/twfuzz.XXXXXX";
        const char* d = mkdtemp(tmpl);
        return std::string(d ? d : "/tmp");
    }();
    std::string path = dir + "/input" + suffix;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f) {
        if (size) std::fwrite(data, 1, size, f);
        std::fclose(f);
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
