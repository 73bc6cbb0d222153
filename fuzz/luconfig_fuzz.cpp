// LU-name configuration file parser on arbitrary file bytes.
#include "config/luconfig.h"
#include "config/messages.h"
#include "config/options.h"
#include "fuzz_file.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path = FuzzFile(".cfg", data, size);
    gOptions = Options{};
    for (auto& s : gConnectTable)
        s.clear();
    for (auto& s : gAssociateTable)
        s.clear();
    gErrorDetail.clear();
    int rc = ParseLuConfig(path);
    if (rc != 0 && (rc < MSG_CFG_NO_NAME || rc > MSG_CFG_SYNTAX)) std::abort();
    for (const auto& s : gConnectTable)
        if (s.size() > 16) std::abort();
    for (const auto& s : gAssociateTable)
        if (s.size() > 16) std::abort();
    // A second parse of the same file reads it from its start and ends the same way
    // (tables hold the first parse's names, so only errors may differ in kind).
    for (auto& s : gConnectTable)
        s.clear();
    for (auto& s : gAssociateTable)
        s.clear();
    gOptions = Options{};
    if (ParseLuConfig(path) != rc) std::abort();
    gErrorDetail.clear();
    return 0;
}
