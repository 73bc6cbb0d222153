// LU-name configuration file parser on arbitrary file bytes.
#include "config/lu_names.h"
#include "config/messages.h"
#include "fuzz_file.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path = FuzzFile(".cfg", data, size);
    config::LuFileValues first;
    const int rc = ParseLuConfig(path, first).code;
    if (rc != 0 && (rc < config::MSG_CFG_NO_NAME || rc > config::MSG_CFG_SYNTAX)) std::abort();
    for (const auto& [lu, s] : first.names.connect)
        if (s.size() > 16) std::abort();
    for (const auto& [lu, s] : first.names.associate)
        if (s.size() > 16) std::abort();
    // A second parse reads the file from its start and ends the same way.
    config::LuFileValues second;
    if (ParseLuConfig(path, second).code != rc) std::abort();
    if (second.names.connect != first.names.connect || second.channels != first.channels)
        std::abort();
    return 0;
}
