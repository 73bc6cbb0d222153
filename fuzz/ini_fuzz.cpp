// Settings reader and writer on arbitrary file bytes.
#include "config/ini.h"
#include "config/options.h"
#include "fuzz_file.h"
#include "platform/profile.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path = FuzzFile(".ini", data, size);
    gOptions = Options{};
    std::string addr, file, session;
    int luType = 0;
    ReadIniFile(path, addr, luType, file, session);
    if (luType != 1 && luType != 3) std::abort();
    if (addr.size() > 260 || file.size() > 260 || session.size() > 260) std::abort();

    // Whatever was there, a written key reads back and other keys survive.
    std::string before = platform::ProfileGetString("CONFIGURATION", "LUTYPE", "<none>", path);
    if (!platform::ProfileWriteString("Configuration", "FuzzKey", "value 1", path)) return 0;
    if (platform::ProfileGetString("CONFIGURATION", "FUZZKEY", "", path) != "value 1") std::abort();
    if (platform::ProfileGetString("CONFIGURATION", "LUTYPE", "<none>", path) != before)
        std::abort();
    return 0;
}
