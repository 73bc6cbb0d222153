// The LU-name configuration file: reader, directives and every message.
#include "config/luconfig.h"
#include "config/messages.h"
#include "config/options.h"
#include "config/utilities.h"
#include "datastream/datastream.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

struct LuConfig : ::testing::Test {
    testutil::TempDir dir;
    void SetUp() override { Reset(); }
    void TearDown() override { Reset(); }
    static void Reset() {
        gOptions = Options{};
        for (auto& s : gConnectTable)
            s.clear();
        for (auto& s : gAssociateTable)
            s.clear();
        gErrorDetail.clear();
        gPortName.clear();
        std::memset(gVformat, 0, sizeof gVformat);
        gChannelsFixed = 0;
        gDebug = 0;
    }
    std::string File(const std::string& text) {
        std::string path = dir.file("kesluprt.cfg");
        testutil::WriteFile(path, text);
        return path;
    }
    // Parses text; returns "code detail".
    std::string Parse(const std::string& text) {
        int rc = ParseLuConfig(File(text));
        std::string r = std::to_string(rc);
        if (!gErrorDetail.empty()) r += " " + gErrorDetail;
        gErrorDetail.clear();
        return r;
    }
};

} // namespace

TEST_F(LuConfig, ReaderStatesCommentsAndQuotes) {
    EXPECT_EQ(Parse("# comment only\n\n   \t\n"
                    "SERVERNAME = host # main server\n"
                    "lutype=1\n"
                    "FILENAME : \"C:\\print files\\job\"\n"
                    "PRINTEROPTIONS=\"-o a=b # c\" trailing words ignored\n"
                    "LUADDRESS=\"12\r\n"
                    "LUNUMBER\t:\t2# comment right after\n"),
              "0");
    EXPECT_EQ(*gOptions.serverName, "host");
    EXPECT_EQ(*gOptions.luType, 1);
    EXPECT_EQ(*gOptions.fileName, "C:\\print files\\job");
    EXPECT_EQ(*gOptions.printerOptions, "-o a=b # c");
    EXPECT_EQ(*gOptions.luAddress, "12"); // unterminated quote ends at the line end; CR dropped
    EXPECT_EQ(*gOptions.luNumber, "2");

    // A backslash at the line end keeps itself and the line feed.
    EXPECT_EQ(Parse("PRINTERCMD=\"lp\\\n"), "0");
    EXPECT_EQ(*gOptions.printerCmds, "lp\\\n");
    // An escaped quote does not end the value.
    EXPECT_EQ(Parse("PRINTERCMD=\"a\\\"b\" x\n"), "0");
    EXPECT_EQ(*gOptions.printerCmds, "a\\\"b");
    // No final line end.
    EXPECT_EQ(Parse("SERVERNAME=last"), "0");
    EXPECT_EQ(*gOptions.serverName, "last");
    EXPECT_EQ(Parse(""), "0");
}

TEST_F(LuConfig, SyntaxOpenAndReadErrors) {
    EXPECT_EQ(Parse("SERVERNAME host\n"), "90 1");
    EXPECT_EQ(Parse("# one\nSERVERNAME = ok\nSERVERNAME\n"), "90 3");
    EXPECT_EQ(Parse("SERVERNAME=\n"), "90 1");
    EXPECT_EQ(Parse("SERVERNAME= # nothing\n"), "90 1");
    EXPECT_EQ(Parse("NAME#x=1\n"), "90 1");
    EXPECT_EQ(Parse("\n\nA B = c\n"), "90 3");
    EXPECT_EQ(Parse("A=1\r\nB\r\n"), "90 2");
    // A line longer than one read continues as the next line.
    EXPECT_EQ(Parse("SERVERNAME=" + std::string(244, 'x') + "REST\n"), "90 2");
    EXPECT_EQ(Parse("SERVERNAME=" + std::string(244, 'x') + "# rest\n"), "0");
    EXPECT_EQ(gOptions.serverName->size(), 244u);

    EXPECT_EQ(ParseLuConfig(""), MSG_CFG_NO_NAME);
    EXPECT_EQ(ParseLuConfig(dir.file("missing.cfg")), MSG_CFG_OPEN);
    EXPECT_EQ(gErrorDetail, dir.file("missing.cfg"));
    gErrorDetail.clear();
    EXPECT_EQ(ParseLuConfig(dir.path()), MSG_CFG_READ); // a directory opens but cannot be read
    EXPECT_EQ(gErrorDetail, "32");
    EXPECT_STREQ(LoadMessage(90), "Syntax error in configuration file:");
}

TEST_F(LuConfig, ConnectAndAssociateNames) {
    EXPECT_EQ(Parse("CONNECTLU01 = PRT1\nCONNECTLU255 = PRT2\nASSOCIATELU01 = PRT1\n"
                    "ASSOCIATELU200=PRT2\n"),
              "0");
    EXPECT_EQ(gConnectTable[1], "PRT1");
    EXPECT_EQ(gConnectTable[255], "PRT2");
    EXPECT_EQ(gAssociateTable[1], "PRT1");
    EXPECT_EQ(gAssociateTable[200], "PRT2");

    Reset();
    EXPECT_EQ(Parse("CONNECTLU1 = A\n"), "79 10");
    EXPECT_EQ(Parse("CONNECTLU1234 = A\n"), "79 13");
    EXPECT_EQ(Parse("CONNECTLU300 = A\n"), "79 300"); // outside the tables
    EXPECT_EQ(Parse("CONNECTLU-1 = A\n"), "79 -1");
    EXPECT_EQ(Parse("CONNECTLU02 = ABCDEFGHIJKLMNOPQ\n"), "80");
    EXPECT_EQ(Parse("CONNECTLU02 = ABCDEFGHIJKLMNOP\n"), "0"); // 16 is fine
    Reset();
    EXPECT_EQ(Parse("CONNECTLU03 = A\nCONNECTLU03 = B\n"), "81 B 3");
    Reset();
    EXPECT_EQ(Parse("CONNECTLU03 = A\nCONNECTLU04 = A\n"), "82 A 3");
    EXPECT_EQ(gConnectTable[4], "A"); // stored before the check
    Reset();
    EXPECT_EQ(Parse("ASSOCIATELU1 = B\n"), "83 12");
    EXPECT_EQ(Parse("ASSOCIATELU999 = B\n"), "83 999");
    EXPECT_EQ(Parse("ASSOCIATELU01 = ABCDEFGHIJKLMNOPQ\n"), "84 ABCDEFGHIJKLMNOPQ");
    EXPECT_EQ(Parse("ASSOCIATELU01 = B\n"), "87 B"); // no connect name B yet
    Reset();
    EXPECT_EQ(Parse("CONNECTLU01=B\nASSOCIATELU01 = B\nASSOCIATELU01 = B\n"), "85 B 1");
    Reset();
    EXPECT_EQ(Parse("CONNECTLU01=B\nASSOCIATELU01 = B\nASSOCIATELU02 = B\n"), "86 B 1");
    // Name compared in upper case, number with blanks and sign.
    Reset();
    EXPECT_EQ(Parse("connectlu+7 = low\n"), "0");
    EXPECT_EQ(gConnectTable[7], "low");
}

TEST_F(LuConfig, OptionDirectives) {
    EXPECT_EQ(Parse("PU=05\nPRINTERCMDX=lp\nPRINTEROPTIONS=opts\nLINESPERPAGE=66abc\n"
                    "LUNUMBER=4\nLUADDRESS=17\nLUTYPE=x\nSTDOUT=Y\nPRINT2PORT=LPT1\n"
                    "FILENAME=JOB\nXLTFILE=my.xlt\nSERVERNAME=23\nUNKNOWN=1\n"),
              "0");
    EXPECT_EQ(*gOptions.printerCmds, "lp");
    EXPECT_EQ(*gOptions.printerOptions, "opts");
    EXPECT_EQ(*gOptions.linesPerPage, 66);
    EXPECT_EQ(*gOptions.luNumber, "4");
    EXPECT_EQ(*gOptions.luAddress, "17");
    EXPECT_EQ(*gOptions.luType, 0); // no digits
    EXPECT_EQ(*gOptions.standardOutput, 1);
    EXPECT_EQ(gPortName, "LPT1");
    EXPECT_EQ(*gOptions.fileName, "JOB");
    EXPECT_EQ(*gOptions.xltFile, "my.xlt");
    EXPECT_EQ(*gOptions.serverName, "23");
    EXPECT_EQ(Parse("STDOUT = y\n"), "0");
    EXPECT_EQ(*gOptions.standardOutput, 0);
    EXPECT_EQ(Parse("LINESPERPAGE=99999999999999999999\n"), "0"); // no overflow
    EXPECT_GT(*gOptions.linesPerPage, 0);

    // Status message replacement.
    EXPECT_EQ(Parse("PRINTMSG.2 = \"Host went away\"\nPRINTMSG.18=never\nPRINTMSG.0=never\n"
                    "PRINTMSG.3=\"\"\nPRINTMSGX=never\n"),
              "0");
    EXPECT_STREQ(StatusMessage(2), "Host went away");
    EXPECT_STREQ(StatusMessage(3), "Invalid print mode");
    EXPECT_STREQ(StatusMessage(0), "");
    SetMessage(2, "Connection closed by server");

    // Debug output names every directive.
    gDebug = 1;
    testing::internal::CaptureStderr();
    EXPECT_EQ(Parse("PU=12\nCONNECTLU05=P5\nASSOCIATELU06=P5\nBOGUS=1\n"), "0");
    std::string err = testing::internal::GetCapturedStderr();
    gDebug = 0;
    EXPECT_NE(err.find("var PU and parm = 12\nHELLO FROM PU 12\n"), std::string::npos) << err;
    EXPECT_NE(err.find("For 5 P5\n"), std::string::npos);
    EXPECT_NE(err.find("You Associated P5 6 with Connect 5\n"), std::string::npos);
    EXPECT_NE(err.find("ERROR IN var BOGUS\n"), std::string::npos);
}

TEST_F(LuConfig, ChannelsFillTheVerticalFormat) {
    gVformat[0] = 9;
    EXPECT_EQ(Parse("CHANNELS = 1 6 12   # three channels\n"), "0");
    EXPECT_EQ(gVformat[0], 9); // entries 0 to 2 untouched
    EXPECT_EQ(gVformat[3], 1);
    EXPECT_EQ(gVformat[4], 6);
    EXPECT_EQ(gVformat[5], 12);
    EXPECT_EQ(gVformat[6], 0);
    EXPECT_EQ(gChannelsFixed, 1);

    // Quoted: leading blanks skipped, double blanks and a trailing blank give 0,
    // a piece longer than 5 characters ends the list.
    std::memset(gVformat, 0xEE, sizeof gVformat);
    EXPECT_EQ(Parse("CHANNELS=\"  7  8 123456 9\"\n"), "0");
    EXPECT_EQ(gVformat[3], 7);
    EXPECT_EQ(gVformat[4], 0);
    EXPECT_EQ(gVformat[5], 8);
    EXPECT_EQ(gVformat[6], 0xEE);
    std::memset(gVformat, 0xEE, sizeof gVformat);
    EXPECT_EQ(Parse("CHANNELS=\"3 \"\n"), "0");
    EXPECT_EQ(gVformat[3], 3);
    EXPECT_EQ(gVformat[4], 0);
    EXPECT_EQ(gVformat[5], 0xEE);
    // At most 99 characters are read, and large numbers are cut to a byte.
    std::string many;
    for (int i = 0; i < 60; ++i)
        many += "1 ";
    std::memset(gVformat, 0xEE, sizeof gVformat);
    EXPECT_EQ(Parse("CHANNELS=\"" + many + "\"\nCHANNELS=300\n"), "0");
    EXPECT_EQ(gVformat[3], 300 & 0xFF);
    EXPECT_EQ(gVformat[3 + 49], 1);
    EXPECT_EQ(gVformat[3 + 50], 0xEE);
}

TEST_F(LuConfig, ReaderKeepsStateAndRestartsPerParse) {
    // The reader hands out one directive per call and closes at the end.
    std::string path = File("A=1\n\nB = \"two words\"\n");
    std::string name, value;
    ASSERT_EQ(ReadConfigLine(path, name, value), -1);
    EXPECT_EQ(name + "|" + value, "A|1");
    ASSERT_EQ(ReadConfigLine(path, name, value), -1);
    EXPECT_EQ(name + "|" + value, "B|two words");
    EXPECT_EQ(ReadConfigLine(path, name, value), 0);
    // A new parse reads the file from its start even after an error mid-file.
    path = File("CONNECTLU01=A\nCONNECTLU01=B\nSERVERNAME=after\n");
    EXPECT_EQ(ParseLuConfig(path), MSG_CFG_DUP_CONNECT_LU);
    gErrorDetail.clear();
    for (auto& s : gConnectTable)
        s.clear();
    EXPECT_EQ(ParseLuConfig(path), MSG_CFG_DUP_CONNECT_LU);
    EXPECT_EQ(gErrorDetail, "B 1");
    EXPECT_FALSE(gOptions.serverName);
}
