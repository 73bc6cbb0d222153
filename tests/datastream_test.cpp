// The interpreter and writer against real print files, expected bytes worked out by hand.
#include <gtest/gtest.h>

#include "config/options.h"
#include "datastream/datastream.h"
#include "datastream/printbuffer.h"
#include "datastream/screen.h"
#include "session/session.h"
#include "testutil.h"

namespace {

struct Job {
    testutil::TempDir dir;
    Session sp;
    Job(int lutype) {
        Lutype = lutype;
        gPrintToPort = 0;
        gPrintToFile = 1;
        gPrintAfterNLines = 0;
        gLinesPerPage = 0;
        glinesize = gleftmargin = 0;
        gOptions = Options{};
        fileCounter = 0;
        gOptions.fileName = dir.file("J");
        sp.altRows = 27;
        sp.altCols = 132;
        sp.altSize = 3564;
        sp.owner = 2;
        sp.screen = ScreenNew(&sp);
        PrScreenInit(&sp);
    }
    int16_t Send(const std::string& hex) {
        std::string b = testutil::Unhex(hex);
        return TelDeliverRecord(&sp, reinterpret_cast<const uint8_t*>(b.data()),
                                static_cast<int16_t>(b.size()));
    }
    ~Job() {
        if (prfile) PrScreenRemote(&sp);
    }
    std::string End() {
        std::string name = prfileName;
        PrScreenRemote(&sp);
        std::string out = name.substr(0, name.size() - 4) + "f.txt";
        return testutil::ReadFile(out);
    }
};

TEST(DataStream, ScsControlsFormatTheJob) {
    Job j(1);
    // SHF: max 80, left margin 3 (two spaces), tabs at 10; "AB" NL HT "C" LF, 0x02 dropped.
    EXPECT_EQ(j.Send("2BC1 05 50 03 00 0A C1C2 15 05 C3 25 02 C4"), 0);
    // The tab pads from column 0 to 10; its first space brings the margin in front.
    EXPECT_EQ(j.End(), "  AB\r\n" + std::string(12, ' ') + "C\r\n" + std::string(15, ' ') + "D");
}

TEST(DataStream, PageLengthForcesFormFeedsAndLongLinesBreak) {
    Job j(1);
    gLinesPerPage = 2;
    EXPECT_EQ(j.Send("C1 15 C2 15 C3"), 0);
    EXPECT_EQ(j.End(), "A\r\nB\r\fC");
    Job k(1);
    std::string hex;
    for (int i = 0; i < 133; ++i)
        hex += "C1";
    EXPECT_EQ(k.Send(hex), 0);
    EXPECT_EQ(k.End(), std::string(132, 'A') + "\r\nA");
}

TEST(DataStream, Lu3OrdersAndErrors) {
    Job j(3);
    // Write, WCC 80 columns; SBA to 0; "AB"; RA to address 5 with 'C'.
    EXPECT_EQ(j.Send("F1 F0 11 4040 C1C2 3C 40C5 C3"), 0);
    EXPECT_EQ(j.End(), "ABCCC");
    Job k(3);
    // SBA to 3564 is invalid: its address bytes start at offset 1.
    EXPECT_EQ(k.Send("F1 C3 11 F76C C1"), -1);
    EXPECT_EQ(k.Send("40 C1"), 63);
    EXPECT_EQ(inProgress, 0);
    // An order cut short by the end of the record is an error, never a read past it.
    EXPECT_LT(k.Send("F1 C3 3C 40"), 0);
}

TEST(DataStream, JobFilesAreNumberedAndSkipTakenNames) {
    Job j(1);
    testutil::WriteFile(j.dir.file("J0.txt"), "old");
    EXPECT_EQ(j.Send("C1"), 0);
    EXPECT_EQ(prfileName, j.dir.file("J1.txt"));
    EXPECT_EQ(j.End(), "A");
    EXPECT_FALSE(testutil::ReadFile(j.dir.file("J1f.txt")).empty());
    EXPECT_EQ(j.Send("C2"), 0);
    EXPECT_EQ(prfileName, j.dir.file("J2.txt"));
    EXPECT_EQ(j.End(), "B");
}

} // namespace
