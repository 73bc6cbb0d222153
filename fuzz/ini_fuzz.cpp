// Settings reader and writer on arbitrary file bytes.
#include "config/ini_values.h"
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
        // The file's text parsed in memory, as a read of path would give it.
        const std::string text(reinterpret_cast<const char*>(data), size);
        rc = LoadSettings(config::IniValues::Parse(path, text), {}, false, s).code;
    }
    if (rc != 0) std::abort(); // without options nothing can fail
    if (s.luType != 1 && s.luType != 3) std::abort();
    // A relative print file name is made absolute in the settings file's folder.
    const size_t folder = path.rfind('/') + 1;
    if (s.host.size() > 260 || s.service.size() > 260 || s.fileName.size() > folder + 260)
        std::abort();
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
