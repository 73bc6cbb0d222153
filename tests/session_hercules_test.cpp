// A real mainframe prints through twprinterd: Hercules, the S/370 emulator, runs a
// small program from an IPL card deck that writes to its 3287 printer, and
// twprinterd, attached to that printer over Hercules' own TN3270 server, turns
// the prints into job files.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "testutil.h"

namespace {

using testutil::Proc;

const char* const kHercules = "/usr/bin/hercules";

// The program, read to 0x400 and run in BC mode with I/O interrupts off: it
// writes channel program 1 (Write, chained to Erase/Write) to the printer at 010,
// waits about six seconds, writes channel program 2 (Write) and stops in a
// disabled wait. A start that ends in unit check (no client attached yet, the
// printer not ready) is followed by a Sense, which ends the printer's contingent
// condition (without it the printer takes no further command), and is tried again
// at the next tick. The pause counts changes of STCK's high word (2^20
// microseconds each), so that a step of the clock counts once.
const char* const kProgram =
    "58300490"         // 0400 START  L    3,CAW1
    "45C0041C"         // 0404        BAL  12,PRINT
    "58A0048C"         // 0408        L    10,PAUSE
    "45E0044E"         // 040C        BAL  14,DELAY
    "58300494"         // 0410        L    3,CAW2
    "45C0041C"         // 0414        BAL  12,PRINT
    "82000470"         // 0418        LPSW WAIT
    "50300048"         // 041C PRINT  ST   3,X'48'         the CAW
    "9C000010"         // 0420 P1     SIO  X'010'
    "47800434"         // 0424        BC   8,P2            started
    "45B004F0"         // 0428 RETRY  BAL  11,SENSE        and R10 = ONE
    "45E0044E"         // 042C        BAL  14,DELAY
    "47F00420"         // 0430        B    P1
    "9D000010"         // 0434 P2     TIO  X'010'
    "47200434"         // 0438        BC   2,P2            busy
    "47800434"         // 043C        BC   8,P2            no status yet
    "47100428"         // 0440        BC   1,RETRY         not operational
    "91020044"         // 0444        TM   X'44',X'02'     CSW unit status: unit check?
    "47100428"         // 0448        BC   1,RETRY
    "07FC"             // 044C        BR   12
    "B2050478"         // 044E DELAY  STCK T0              R10 ticks of STCK's high word
    "B2050480"         // 0452 D1     STCK T1
    "D50304800478"     // 0456        CLC  T1(4),T0
    "47800452"         // 045C        BC   8,D1            no tick yet
    "D20704780480"     // 0460        MVC  T0(8),T1
    "46A00452"         // 0466        BCT  10,D1
    "07FE"             // 046A        BR   14
    "00000000"         // 046C        (to a doubleword)
    "0002000000000000" // 0470 WAIT   disabled wait PSW
    "0000000000000000" // 0478 T0
    "0000000000000000" // 0480 T1
    "00000001"         // 0488 ONE
    "00000006"         // 048C PAUSE
    "00000498"         // 0490 CAW1
    "000004A8"         // 0494 CAW2
    "010004B04000001B" // 0498 CCW1A  Write 27 bytes at 4B0, command chained
    "050004CB0000000D" // 04A0 CCW1B  Erase/Write 13 bytes at 4CB
    "010004D800000012" // 04A8 CCW2A  Write 18 bytes at 4D8
    // 04B0: WCC (start print) "HERCULES JOB ONE" NL "LINE TWO" NL
    "C8"
    "C8C5D9C3E4D3C5E240D1D6C240D6D5C5"
    "15"
    "D3C9D5C540E3E6D6"
    "15"
    // 04CB: WCC "AFTER ERASE" NL
    "C8"
    "C1C6E3C5D940C5D9C1E2C5"
    "15"
    // 04D8: WCC "HERCULES JOB TWO" NL
    "C8"
    "C8C5D9C3E4D3C5E240D1D6C240E3E6D6"
    "15"
    "000000000000"      // 04EA        (to 4F0)
    "58400520"          // 04F0 SENSE  L    4,CAWS
    "50400048"          // 04F4        ST   4,X'48'
    "9C000010"          // 04F8        SIO  X'010'
    "4770050C"          // 04FC        BC   7,S3            not started: nothing to wait for
    "9D000010"          // 0500 S2     TIO  X'010'
    "47200500"          // 0504        BC   2,S2            busy
    "47800500"          // 0508        BC   8,S2            no status yet
    "50300048"          // 050C S3     ST   3,X'48'         the print's CAW again
    "58A00488"          // 0510        L    10,ONE
    "07FB"              // 0514        BR   11
    "0000"              // 0516        (to a doubleword)
    "0400052820000001"  // 0518 CCWS   Sense 1 byte at 528, length check off
    "00000518"          // 0520 CAWS
    "00000000"          // 0524
    "0000000000000000"; // 0528       sense byte

// The deck of 80-byte EBCDIC cards. IPL reads 24 bytes of card 1: the PSW (BC mode,
// start at 0x400) and two CCWs, a read of card 2 to 0x380 and a TIC to it; card 2
// holds one read per program card, to 0x400, 0x450, ...
std::string Deck() {
    const std::string program = testutil::Unhex(kProgram);
    const size_t cards = (program.size() + 79) / 80;
    auto card = [](std::string bytes) {
        bytes.resize(80, '\0');
        return bytes;
    };
    std::string boot;
    for (size_t i = 0; i < cards; ++i) {
        char ccw[17];
        std::snprintf(ccw, sizeof ccw, "02%06zX%02X000050", 0x400 + 80 * i,
                      i + 1 < cards ? 0x60 : 0x20); // chained, length check off
        boot += testutil::Unhex(ccw);
    }
    std::string deck = card(testutil::Unhex("0000000000000400"
                                            "0200038060000050"
                                            "0800038000000000")) +
                       card(boot);
    for (size_t at = 0; at < program.size(); at += 80)
        deck += card(program.substr(at, 80));
    return deck;
}

// Hercules in daemon mode (it reads no commands then): the run-commands file IPLs
// from the reader at once, and the program waits for the printer's client.
TEST(Hercules, ChannelProgramsPrintByteForByte) {
    if (::access(kHercules, X_OK) != 0) GTEST_SKIP() << "hercules is not installed";
    testutil::TempDir dir;
    const int port = testutil::FreePort();
    testutil::WriteFile(dir.file("deck.bin"), Deck());
    testutil::WriteFile(dir.file("hercules.cnf"), "ARCHMODE S/370\nMAINSIZE 2\nNUMCPU 1\n"
                                                  "CNSLPORT 127.0.0.1:" +
                                                      std::to_string(port) + "\n000C 3505 " +
                                                      dir.file("deck.bin") +
                                                      " ebcdic\n0010 3287\n");
    testutil::WriteFile(dir.file("hercules.rc"), "ipl 000C\n");
    Proc hercules({kHercules, "-d", "-f", dir.file("hercules.cnf")}, dir.path(),
                  {"HERCULES_RC=" + dir.file("hercules.rc")});
    ASSERT_TRUE(hercules.WaitFor("Waiting for console connection", 20000)) << hercules.text();

    testutil::WriteFile(dir.file("twprinter.ini"),
                        "[CONFIGURATION]\nHOSTNAME=127.0.0.1\nSERVERNAME=" + std::to_string(port) +
                            "\nLUTYPE=3\n3270E=0\nFILENAME=JOB\nPRINTTOFILE=1\nEOJTIMEOUT=1\n"
                            "CONNECTTIMEOUT=0\nRETRYDELAY=1\n");
    Proc daemon({TWPRINTERD_PATH}, dir.path(), {"TWPRINTER_DIR=" + dir.path()});
    EXPECT_TRUE(hercules.WaitFor("connected to 3287 device 0:0010", 20000)) << hercules.text();
    // The program got to its end: every start was taken.
    EXPECT_TRUE(hercules.WaitFor("PSW=00020000 80000000", 30000)) << hercules.text();
    // The program pauses about six seconds between its channel programs, longer
    // than EOJTIMEOUT, so they are two jobs: the chained Write and Erase/Write,
    // then the Write. A loaded machine can shorten the emulated pause; the bytes
    // stay exact either way.
    EXPECT_TRUE(daemon.WaitFor("JOB0f.txt", 10000)) << daemon.text();
    const std::string one = "HERCULES JOB ONE\r\nLINE TWO\r\nAFTER ERASE\r\n";
    const std::string two = "HERCULES JOB TWO\r\n";
    std::vector<std::string> jobs = testutil::DeliveredJobs(dir.file("JOB"), 2, 5000);
    ASSERT_FALSE(jobs.empty()) << daemon.text() << hercules.text();
    if (jobs.size() == 2) {
        EXPECT_EQ(jobs[0], one) << daemon.text();
        EXPECT_EQ(jobs[1], two) << daemon.text();
    } else {
        EXPECT_EQ(jobs[0], one + two) << daemon.text() << hercules.text();
    }
    EXPECT_EQ(daemon.Stop(SIGTERM), 0) << daemon.text();
    // Stopped by its pid, and killed when it does not end in time.
    hercules.Signal(SIGTERM);
    hercules.Wait(15000);
    if (hercules.Alive()) hercules.Stop(SIGKILL);
}

} // namespace
