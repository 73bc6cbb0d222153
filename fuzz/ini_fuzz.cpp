// Settings reader and writer on arbitrary file bytes.
#include "config/settings.h"
#include "fuzz_file.h"
#include "platform/profile.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path = FuzzFile(".ini", data, size);
    config::Settings s = config::DefaultSettings();
    int rc;
    {
        QuietStderr quiet; // an unknown CODEPAGE is named there
        rc = LoadSettings(path, "", false, s).code;
    }
    if (rc != 0) std::abort(); // without options nothing can fail
    if (s.luType != 1 && s.luType != 3) std::abort();
    if (s.host.size() > 260 || s.service.size() > 260 || s.fileName.size() > 260) std::abort();
    if (s.socketTimeoutMs < 1000 || s.socketTimeoutMs > 3600000) std::abort();
    if (s.retryDelayMs < 0) std::abort();

    // Whatever was there, a written key reads back and other keys survive.
    std::string before = platform::ProfileGetString("CONFIGURATION", "LUTYPE", "<none>", path);
    if (!platform::ProfileWriteString("Configuration", "FuzzKey", "value 1", path)) return 0;
    if (platform::ProfileGetString("CONFIGURATION", "FUZZKEY", "", path) != "value 1") std::abort();
    if (platform::ProfileGetString("CONFIGURATION", "LUTYPE", "<none>", path) != before)
        std::abort();
    return 0;
}
