// Settings reader and writer on arbitrary file bytes, all in memory: the file
// functions around them only read and replace the whole text.
#include "config/ini_values.h"
#include "config/settings.h"
#include "fuzz_file.h"
#include "platform/profile.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Never made: only its folder matters, for relative file names.
    static const std::string path = FuzzScratchDir("twinifuzz") + "/input.ini";
    const std::string text(reinterpret_cast<const char*>(data), size);
    config::Settings s = config::DefaultSettings();
    int rc;
    // The file's text parsed in memory, as a read of path would give it.
    const config::IniValues ini = config::IniValues::Parse(path, text);
    {
        QuietStderr quiet; // an unknown CODEPAGE is named there
        rc = LoadSettings(ini, {}, false, s).code;
    }
    if (rc != 0) std::abort(); // without options nothing can fail
    if (s.luType != 1 && s.luType != 3) std::abort();
    // A relative print file name is made absolute in the settings file's folder.
    const size_t folder = path.rfind('/') + 1;
    if (s.host.size() > 260 || s.service.size() > 260 || s.fileName.size() > folder + 260)
        std::abort();
    if (s.socketTimeoutMs < 1000 || s.socketTimeoutMs > 3600000) std::abort();
    if (s.retryDelayMs < 0) std::abort();

    // Whatever was there, a written key reads back and other keys survive; the
    // profile reader and the settings' parse agree on what was there.
    std::string before = "<none>";
    for (const config::IniEntry& e : ini.entries())
        if (platform::SameIniName(e.key, "LUTYPE")) {
            before = e.value;
            break;
        }
    if (platform::IniTextGet(text, "CONFIGURATION", "LUTYPE", "<none>") != before) std::abort();
    const std::string written = platform::IniTextWith(text, "Configuration", "FuzzKey", "value 1");
    if (platform::IniTextGet(written, "CONFIGURATION", "FUZZKEY", "") != "value 1") std::abort();
    if (platform::IniTextGet(written, "CONFIGURATION", "LUTYPE", "<none>") != before) std::abort();
    return 0;
}
