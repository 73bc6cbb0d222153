// The telnet and TN3270E receive state machine on arbitrary server bytes.
// Input: a flags byte, then the bytes the server sends. Flags: low nibble
// chunk size (1 << n bytes, n up to 12) so that sequences are cut anywhere;
// 0x10 TN3270E allowed, 0x20 option 0x37 allowed, 0x40 LU1 terminal type
// (else LU3), 0x80 job files in a directory instead of standard output.
// The session's socket is one end of a socketpair: the server's bytes are
// written to the other end, and everything the engine replies is drained
// after each chunk. Records go on to the data stream as in a real session.
#include <dirent.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

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
char gSink[1 << 16];

void Setup() {
    gDir = FuzzSpoolSetup("twtelfuzz");
}

void RemoveJobFiles() {
    FuzzSpoolClear(gDir);
}

// Replies never fill the socket: they are read away after every chunk.
void Drain(int fd) {
    while (recv(fd, gSink, sizeof gSink, MSG_DONTWAIT) > 0) {
    }
}

size_t Unread(int fd) {
    int n = 0;
    return ioctl(fd, FIONREAD, &n) == 0 && n > 0 ? static_cast<size_t>(n) : 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = (Setup(), true);
    (void)ready;
    if (size < 1) return 0;
    const uint8_t flags = data[0];
    const size_t chunk = size_t{1} << std::min(flags & 0x0F, 12);
    const bool toStdout = !(flags & 0x80);
    ++data;
    --size;

    gOptions = Options{};
    gOptions.standardOutput = toStdout ? 1 : 0;
    gOptions.fileName = gDir + "/J";
    gOptions.connectName = "PRT1";
    gPrintToPort = 0;
    gPrintToFile = 1;
    gTranslate = 1;
    gUse3270E = flags & 0x10 ? 1 : 0;
    gLinesPerPage = gPrintAfterNLines = 0;
    glinesize = gleftmargin = chrsInLine = linesInPage = 0;
    gChannelsFixed = jobEnded = 0;
    Lutype = flags & 0x40 ? 1 : 3;
    std::fflush(stdout);
    if (ftruncate(fileno(stdout), 0) != 0) std::abort();
    std::rewind(stdout);

    // The session as the client thread sets it up before connecting.
    Session s;
    s.host = "127.0.0.1";
    s.termModel = flags & 0x40 ? 11 : 0;
    s.termType = flags & 0x40 ? "IBM-LU1" : "IBM-LU3";
    s.tblRows = s.altRows = 27;
    s.tblCols = s.altCols = 132;
    s.tblSize = s.altSize = 27 * 132;
    s.rows = 24;
    s.cols = 80;
    s.size = 1920;
    s.extOption = s.extAllowed = flags & 0x20;
    s.prScreen = std::make_unique<ScreenNameRec>();
    s.screen = ScreenNew(&s);

    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) std::abort();
    // Room for a whole chunk's replies even before they are drained.
    int big = 1 << 20;
    setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
    setsockopt(fds[1], SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    if (TelAttach(&s, fds[0], MakeTcpTransport()) != 0) std::abort();
    PrScreenInit(&s);

    int rc = 0;
    for (size_t at = 0; at < size && rc == 0; at += chunk) {
        size_t n = std::min(chunk, size - at);
        if (send(fds[1], data + at, n, 0) != static_cast<ssize_t>(n)) std::abort();
        // TelProc may return with bytes left unread, as the main loop would
        // call it again when poll shows them.
        do {
            rc = TelProc(&s);
            Drain(fds[1]);
        } while (rc == 0 && Unread(fds[0]) > 0);
        if (inProgress != 0) std::abort();
        if (s.recBuf.size() > static_cast<size_t>(kMaxRecordBuffer) + 64) std::abort();
    }
    // The session ends here as after a server close: the open job is handed on.
    PrScreenRemote(&s);
    close(fds[1]);
    SessionFree(&s);
    if (toStdout) {
        std::fflush(stdout);
        long out = std::ftell(stdout);
        if (out < 0 || static_cast<size_t>(out) > 4096 * (size + 1)) std::abort();
    } else {
        RemoveJobFiles();
    }
    return 0;
}
