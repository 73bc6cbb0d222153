// The record interpreter on arbitrary records, LU1 and LU3.
// Input: a flags byte, a page byte, then records, each a 2-byte big-endian
// length and its bytes (cut at the end of the input). Flags: 0x01 LU3, 0x02
// btam, 0x04 FF ends jobs, 0x08 the first record carries structured fields,
// 0x10 job files in a directory instead of standard output. Page byte: low
// nibble page length, high nibble lines per job.
// Each record lies in a buffer of its own size, so a read past it is caught;
// standard output receives the jobs, and its growth is bounded per input byte.
#include <dirent.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "config/options.h"
#include "config/report.h"
#include "config/translate.h"
#include "datastream/datastream.h"
#include "datastream/printbuffer.h"
#include "datastream/screen.h"
#include "fuzz_engine.h"
#include "session/session.h"
#include "session/telnet.h"
#include "session/transport.h"

namespace {

std::string gDir;

void Setup() {
    gDir = FuzzSpoolSetup("twdsfuzz");
}

void RemoveJobFiles() {
    FuzzSpoolClear(gDir);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = (Setup(), true);
    (void)ready;
    if (size < 2) return 0;
    const uint8_t flags = data[0], page = data[1];
    const bool toStdout = !(flags & 0x10);

    gOptions = Options{};
    gOptions.btam = flags & 0x02 ? 1 : 0;
    gOptions.formFeed = !gOptions.btam && (flags & 0x04) ? 1 : 0;
    gOptions.standardOutput = toStdout ? 1 : 0;
    gOptions.fileName = gDir + "/J";
    gPrintToPort = 0;
    gPrintToFile = 1;
    gTranslate = 1;
    gLinesPerPage = page & 0x0F;
    gPrintAfterNLines = page >> 4;
    glinesize = gleftmargin = chrsInLine = linesInPage = 0;
    gChannelsFixed = jobEnded = 0;
    Lutype = flags & 0x01 ? 3 : 1;
    std::fflush(stdout);
    if (ftruncate(fileno(stdout), 0) != 0) std::abort();
    std::rewind(stdout);

    auto sp = std::make_unique<Session>();
    sp->altRows = 27;
    sp->altCols = 132;
    sp->altSize = 27 * 132;
    sp->rows = 24;
    sp->cols = 80;
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) std::abort();
    TelAttach(sp.get(), fds[0], nullptr);
    sp->screen = ScreenNew(sp.get());
    PrScreenInit(sp.get());
    sp->sfMode = flags & 0x08;

    char sink[65536];
    size_t at = 2;
    while (at + 2 <= size) {
        size_t n = static_cast<size_t>(data[at] << 8 | data[at + 1]);
        at += 2;
        n = std::min(n, size - at);
        // One byte in front, as the TN3270E header is in front of a real record.
        std::vector<uint8_t> rec(data + at - 1, data + at + n);
        at += n;
        int16_t s;
        if (n <= INT16_MAX) {
            s = TelDeliverRecord(sp.get(), rec.data() + 1, static_cast<int16_t>(n));
        } else {
            s = dsoutproc(sp.get(), rec.data() + 1, static_cast<int32_t>(n));
            FinishRecord(sp.get());
        }
        if (inProgress != 0) std::abort();
        // Negative: an offset inside the record; positive: one of the writer's,
        // the reply builders' or the LU mismatch message numbers.
        if (s < -static_cast<int32_t>(n) - 3 ||
            (s > 0 && s != 63 && s != 72 && s != 73 && s != 75 && s != 77 && s != 94))
            std::abort();
        while (recv(fds[1], sink, sizeof sink, MSG_DONTWAIT) > 0) {
        }
    }
    PrScreenRemote(sp.get());
    TelClose(sp.get());
    close(fds[1]);
    if (toStdout) {
        std::fflush(stdout);
        long out = std::ftell(stdout);
        // RA over the whole buffer is the most one order can print: 3564
        // characters and their line ends for four bytes.
        if (out < 0 || static_cast<size_t>(out) > 4096 * size) std::abort();
    } else {
        RemoveJobFiles();
    }
    return 0;
}
