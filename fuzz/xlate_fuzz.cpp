// Translation file loader on arbitrary file bytes.
#include "config/translate.h"
#include "fuzz_file.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path = FuzzFile(".xlt", data, size);
    config::EbcdicTable table = config::kBuiltinEbcdicToAscii;
    int rc;
    {
        QuietStderr quiet;
        rc = config::PrtXlateInit(path, table);
    }
    if (rc != 0 && rc != 1) std::abort();
    // Success needs all six records: 12 + 520 + 4 * 264 bytes at least.
    if (rc == 0 && size < 12 + 520 + 4 * 264) std::abort();
    // Before the translation record is complete the table cannot change.
    if (size < 12 + 520 + 3 * 264 && table != config::kBuiltinEbcdicToAscii) std::abort();
    return 0;
}
