// Command-line options, their write-back into the settings file and precedence.
#include "config/ini.h"
#include "config/luconfig.h"
#include "config/messages.h"
#include "config/options.h"
#include "config/translate.h"
#include "config/utilities.h"
#include "platform/profile.h"
#include "platform/sysinfo.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

std::string Find(const std::string& line, const char* option, bool* found = nullptr) {
    std::string v = "junk";
    bool f = FindOption(line, v, option);
    if (found) *found = f;
    return f ? v : "<absent>";
}

struct Config : ::testing::Test {
    testutil::TempDir dir;
    void SetUp() override {
        setenv("TWPRINTER_DIR", dir.path().c_str(), 1);
        SetIniPathFromProgram("twprinterd");
        Reset();
    }
    void TearDown() override {
        Reset();
        unsetenv("TWPRINTER_DIR");
    }
    static void Reset() {
        ReleaseOptions();
        gSessionFileInForce = 0;
        gUse3270E = 0;
        gDebug = 0;
        gTranslate = 1;
        gHostName.clear();
        std::memcpy(gEbcdicToAscii, kBuiltinEbcdicToAscii, 256);
        for (auto& s : gConnectTable)
            s.clear();
        for (auto& s : gAssociateTable)
            s.clear();
        DebugClose();
    }
    void Ini(const char* key, const std::string& value) {
        platform::ProfileWriteString("CONFIGURATION", key, value, gIniPath);
    }
    std::string Ini(const char* key) { return IniGet(key, "<missing>"); }
    int Run(const std::string& commandLine, std::string* err = nullptr) {
        platform::SetCommandLine(commandLine);
        testing::internal::CaptureStderr();
        int rc = Configure();
        std::string e = testing::internal::GetCapturedStderr();
        if (err) *err = e;
        return rc;
    }
    std::string Cfg(const std::string& text) {
        std::string path = dir.file("lu.cfg");
        testutil::WriteFile(path, text);
        return path;
    }
};

} // namespace

TEST(FindOption, SubstringSemantics) {
    bool found = false;
    EXPECT_EQ(Find("twprinterd -s 2323 -l 1", "-s"), "2323");
    EXPECT_EQ(Find("twprinterd -s", "-s", &found), "");
    EXPECT_TRUE(found);
    EXPECT_EQ(Find("twprinterd -sHOST", "-s"), "OST"); // the next character is always skipped
    EXPECT_EQ(Find("twprinterd -sH", "-s", &found), "");
    EXPECT_TRUE(found);
    EXPECT_EQ(Find("twprinterd -s    host   -l 1", "-s"), "host");
    EXPECT_EQ(Find("twprinterd -s a -s b", "-s"), "a"); // the first one counts
    EXPECT_EQ(Find("twprinterd -l 1", "-s"), "<absent>");
    EXPECT_EQ(Find("twprinterd -S", "-s"), "<absent>"); // case matters
    EXPECT_EQ(Find("/opt/my-dir/twprinterd", "-d", &found), "r/twprinterd");
    EXPECT_TRUE(found);                              // a path with -d turns debug on
    EXPECT_EQ(Find("twprinterd -cfg x", "-c"), "g"); // inside a longer word
    EXPECT_EQ(Find("twprinterd -btam", "-b"), "am");
    EXPECT_EQ(Find("twprinterd -x\tfile", "-x"), "file"); // a tab is skipped as the one character
    EXPECT_EQ(Find("twprinterd -f " + std::string(400, 'n'), "-f"), std::string(255, 'n'));
    EXPECT_EQ(Find("", "-s"), "<absent>");
}

TEST_F(Config, OptionsAreWrittenBackToTheIniFile) {
    std::string err;
    ASSERT_EQ(Run("/usr/bin/twprinterd -n 2 -a 12 -s 2323 -h mvs1 -f /tmp/job -l 2 -E -C PRT1"), 0);
    EXPECT_EQ(Ini("SESSIONID"), "2");
    EXPECT_EQ(Ini("LUADDRESS"), "12");
    EXPECT_EQ(Ini("SERVERNAME"), "2323");
    EXPECT_EQ(Ini("HOSTNAME"), "mvs1");
    EXPECT_EQ(Ini("FILENAME"), "/tmp/job");
    EXPECT_EQ(Ini("LUTYPE"), "2"); // stored as given
    EXPECT_EQ(Ini("3270E"), "1");
    EXPECT_EQ(Ini("CONNECTNAME"), "PRT1");
    EXPECT_EQ(gOptions.luNumber.value_or(""), "2");
    EXPECT_EQ(gOptions.luAddress.value_or(""), "12");
    EXPECT_EQ(gOptions.serverName.value_or(""), "2323");
    EXPECT_EQ(gHostName, "mvs1");
    EXPECT_EQ(gOptions.fileName.value_or(""), "/tmp/job");
    EXPECT_EQ(gOptions.luType.value_or(0), 3); // 2 means 3
    EXPECT_EQ(gUse3270E, 1);
    EXPECT_EQ(gOptions.connectName.value_or(""), "PRT1");
    EXPECT_EQ(gOptions.printerCmds.value_or(""), "lpr");
    EXPECT_EQ(gOptions.printerOptions.value_or("x"), "");
    EXPECT_EQ(gOptions.linesPerPage.value_or(-1), 0);
    EXPECT_EQ(gOptions.standardOutput.value_or(-1), 0);
    EXPECT_EQ(gOptions.fixedFile, 0);
    EXPECT_EQ(gOptions.debug, 0);

    // The stored options are the next start's settings.
    ReleaseOptions();
    gHostName.clear();
    ASSERT_EQ(Run("twprinterd"), 0);
    EXPECT_EQ(gHostName, "mvs1");
    EXPECT_EQ(gOptions.serverName.value_or(""), "2323");
    EXPECT_EQ(gOptions.luType.value_or(0), 3);
    EXPECT_EQ(gOptions.luNumber.value_or(""), "2");
    EXPECT_EQ(gOptions.connectName.value_or(""), "PRT1");

    // Switch options touch no key.
    ReleaseOptions();
    std::string before = testutil::ReadFile(gIniPath);
    ASSERT_EQ(Run("twprinterd -D -S -T -btam"), 0);
    EXPECT_EQ(testutil::ReadFile(gIniPath), before);
    EXPECT_EQ(gOptions.fixedFile, 1);
    EXPECT_EQ(gOptions.standardOutput.value_or(0), 1);
    EXPECT_EQ(gTranslate, 0);
    EXPECT_EQ(gOptions.btam, 1);
    EXPECT_EQ(gOptions.formFeed, 0);
    ReleaseOptions();
    ASSERT_EQ(Run("twprinterd -btam -FF"), 0);
    EXPECT_EQ(gOptions.btam, 0);
    EXPECT_EQ(gOptions.formFeed, 1);
}

TEST_F(Config, PrecedenceOfTheSources) {
    // Configuration file beats -s/-l/-f, which beat the INI file.
    Ini("SERVERNAME", "inisrv");
    Ini("LUTYPE", "1");
    Ini("FILENAME", "inifile");
    Ini("LUADDRESS", "-1");
    Ini("SESSIONID", "-1");
    std::string cfg = Cfg("SERVERNAME = cfgsrv\nLUTYPE=1\nFILENAME=cfgfile\nLUADDRESS=7\n"
                          "LUNUMBER=3\nLINESPERPAGE=60\nPRINTERCMD=lp\nPRINTEROPTIONS=-o x\n"
                          "STDOUT=Y\n");
    ASSERT_EQ(Run("twprinterd -s optsrv -l 3 -f optfile -c " + cfg), 0);
    EXPECT_EQ(*gOptions.serverName, "cfgsrv");
    EXPECT_EQ(*gOptions.luType, 1);
    EXPECT_EQ(*gOptions.fileName, "cfgfile");
    EXPECT_EQ(*gOptions.luAddress, "7"); // INI says -1: the file's value stays
    EXPECT_EQ(*gOptions.luNumber, "-1"); // INI SESSIONID beats LUNUMBER
    EXPECT_EQ(*gOptions.linesPerPage, 60);
    EXPECT_EQ(*gOptions.printerCmds, "lp");
    EXPECT_EQ(*gOptions.printerOptions, "-o");
    EXPECT_EQ(*gOptions.standardOutput, 1);
    EXPECT_EQ(Ini("CONFIGFILE"), cfg);
    EXPECT_EQ(gLuConfigPath, dir.file("kesluprt.cfg"));

    // Without the file, the options beat the INI file.
    ReleaseOptions();
    Ini("LUADDRESS", "5");
    ASSERT_EQ(Run("twprinterd -s optsrv -l 3 -f optfile"), 0);
    EXPECT_EQ(*gOptions.serverName, "optsrv");
    EXPECT_EQ(*gOptions.luType, 3);
    EXPECT_EQ(*gOptions.fileName, "optfile");
    EXPECT_EQ(*gOptions.luAddress, "5");

    // INI LUADDRESS beats the file; -a beats both.
    ReleaseOptions();
    Ini("LUADDRESS", "5");
    ASSERT_EQ(Run("twprinterd -c " + cfg), 0);
    EXPECT_EQ(*gOptions.luAddress, "5");
    ReleaseOptions();
    ASSERT_EQ(Run("twprinterd -a 9 -c " + cfg), 0);
    EXPECT_EQ(*gOptions.luAddress, "9");

    // -n 0 leaves the LU number to the file; -n -1 sets it.
    ReleaseOptions();
    ASSERT_EQ(Run("twprinterd -n 0 -c " + cfg), 0);
    EXPECT_EQ(*gOptions.luNumber, "3");
    ReleaseOptions();
    ASSERT_EQ(Run("twprinterd -n 0"), 0);
    EXPECT_FALSE(gOptions.luNumber);
    ReleaseOptions();
    ASSERT_EQ(Run("twprinterd -n -1"), 0);
    EXPECT_EQ(*gOptions.luNumber, "-1");

    // Fields set by an earlier cycle of the same run are not defaulted again.
    ASSERT_EQ(Run("twprinterd -l 1"), 0);
    EXPECT_EQ(*gOptions.luType, 3);

    // Host: -h, INI HOSTNAME, the computer's name.
    ReleaseOptions();
    Ini("HOSTNAME", "");
    ASSERT_EQ(Run("twprinterd"), 0);
    EXPECT_EQ(gHostName, platform::ComputerName().substr(0, 15));
}

TEST_F(Config, WindowSettingsInForceAreProtected) {
    Ini("SERVERNAME", "inisrv");
    gSessionFileInForce = 1;
    gHostName = "winhost";
    gOptions.serverName = "winsrv";
    gOptions.luAddress = "4";
    std::string cfg = Cfg("SERVERNAME=cfgsrv\n");
    ASSERT_EQ(Run("twprinterd -s optsrv -h opthost -a 8 -C X -c " + cfg), 0);
    EXPECT_EQ(*gOptions.serverName, "winsrv");
    EXPECT_EQ(gHostName, "winhost");
    EXPECT_EQ(*gOptions.luAddress, "4");
    EXPECT_FALSE(gOptions.connectName);
    EXPECT_FALSE(gOptions.fileName);
    EXPECT_EQ(Ini("SERVERNAME"), "inisrv");
    EXPECT_EQ(Ini("HOSTNAME"), "<missing>");
    EXPECT_EQ(Ini("CONFIGFILE"), "<missing>");
}

TEST_F(Config, ConfigurationFileErrorStopsProcessing) {
    std::string cfg = Cfg("SERVERNAME = cfgsrv\nSERVERNAME host\n");
    ASSERT_EQ(Run("twprinterd -d -c " + cfg + " -h later"), MSG_CFG_SYNTAX);
    EXPECT_EQ(gErrorDetail, "2");
    gErrorDetail.clear();
    EXPECT_EQ(*gOptions.serverName, "cfgsrv"); // earlier directives keep their values
    EXPECT_NE(gHostName, "later");             // later options are skipped
    EXPECT_FALSE(gOptions.printerCmds);        // and so are the defaults
    EXPECT_EQ(Ini("CONFIGFILE"), cfg);

    ReleaseOptions();
    EXPECT_EQ(Run("twprinterd -c " + dir.file("missing.cfg")), MSG_CFG_OPEN);
    EXPECT_EQ(gErrorDetail, dir.file("missing.cfg"));
    gErrorDetail.clear();

    // An empty -c value does not read any file.
    ReleaseOptions();
    EXPECT_EQ(Run("twprinterd -c"), 0);
}

TEST_F(Config, DebugEchoOfTheOptions) {
    std::string err;
    Ini("LUADDRESS", "-1");
    ASSERT_EQ(Run("/opt/tw-demo/twprinterd -s 2323 -f JOB -n 1", &err), 0);
    EXPECT_EQ(gOptions.debug, 1);
    EXPECT_EQ(gDebug, 1);
    // Debug mode starts with the option, so the INI reader was still quiet.
    EXPECT_EQ(err, "PRINTER VERSION 1.5.1\n"
                   "options\n"
                   "Printer options \n"
                   "Printer cmds lpr\n"
                   "File Name = JOB\n"
                   "Lutype = 3\n"
                   "Luaddress = -1\n"
                   "Lunumber = 1\n"
                   "Linesperpage = 0\n"
                   "StandardOutput = 0\n"
                   "Servername = 2323\n"
                   "FixedFile = 0\n"
                   "end of options\n");
    EXPECT_NE(gDebugLog, nullptr);
    Ini("HOSTNAME", "mvs1");
    ASSERT_EQ(Run("/opt/tw-demo/twprinterd", &err), 0);
    EXPECT_EQ(err.rfind("ReadIniFile(): host is: mvs1\nPRINTER VERSION 1.5.1\n", 0), 0u) << err;
    EXPECT_EQ(testutil::ReadFile(dir.file("TwPrinter.log")).rfind("Version = 1.5.1", 0), 0u);
}

TEST_F(Config, TranslationFileAndCodePage) {
    std::string err;
    std::string missing = dir.file("none.xlt");
    std::string notice =
        "\nUnable to open translations file " + missing + ", reason: No such file or directory\n";
    ASSERT_EQ(Run("twprinterd -x " + missing, &err), 0);
    EXPECT_EQ(err, notice);
    EXPECT_EQ(0, std::memcmp(gEbcdicToAscii, kBuiltinEbcdicToAscii, 256));
    // Reconnection cycles of one run do not load it again...
    ASSERT_EQ(Run("twprinterd -x " + missing, &err), 0);
    EXPECT_EQ(err, "");
    // ...the next run does.
    ReleaseOptions();
    ASSERT_EQ(Run("twprinterd -x " + missing, &err), 0);
    EXPECT_EQ(err, notice);

    // CODEPAGE gives the host code page.
    ReleaseOptions();
    Ini("CODEPAGE", "1047");
    ASSERT_EQ(Run("twprinterd", &err), 0);
    EXPECT_EQ(err, "");
    EXPECT_EQ(gEbcdicToAscii[0xAD], '[');

    // An unknown page is named and the table stays.
    ReleaseOptions();
    std::memcpy(gEbcdicToAscii, kBuiltinEbcdicToAscii, 256);
    Ini("CODEPAGE", "4711");
    ASSERT_EQ(Run("twprinterd", &err), 0);
    EXPECT_NE(err.find("4711"), std::string::npos);
    EXPECT_EQ(0, std::memcmp(gEbcdicToAscii, kBuiltinEbcdicToAscii, 256));

    // A -x file still wins over the code page.
    ReleaseOptions();
    Ini("CODEPAGE", "037");
    std::string xlt;
    auto rec = [&](const std::string& body) {
        return std::string{'\xF1', '\xAD', static_cast<char>(body.size() & 0xFF),
                           static_cast<char>(body.size() >> 8)} +
               body;
    };
    auto le = [](uint32_t v) {
        return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
    };
    xlt = rec(le(100) + le(1)) + rec(le(101) + std::string(512, 'x'));
    for (uint32_t k : {103u, 104u, 105u, 106u})
        xlt += rec(le(k) + std::string(256, 'Z'));
    testutil::WriteFile(dir.file("t.xlt"), xlt);
    ASSERT_EQ(Run("twprinterd -x " + dir.file("t.xlt"), &err), 0);
    EXPECT_EQ(err, "");
    EXPECT_EQ(gEbcdicToAscii[0xC1], 'Z');
}

TEST_F(Config, ConflictingNamesEndTheProcessWithTen) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    Ini("3270E", "1");
    Ini("ASSOCIATENAME", "B");
    platform::SetCommandLine("twprinterd -d -C A");
    EXPECT_EXIT(Configure(), testing::ExitedWithCode(10),
                "CANNOT SPECIFY BOTH ASSOCIATE AND CONNECT\n");
    Ini("3270E", "0");
    platform::SetCommandLine("twprinterd -C A -A B");
    EXPECT_EXIT(Configure(), testing::ExitedWithCode(10), "^$"); // silent without debug
    // 3270E off: the stored associate name is not used, so -C alone is fine.
    platform::SetCommandLine("twprinterd -C A");
    testing::internal::CaptureStderr();
    EXPECT_EQ(Configure(), 0);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(*gOptions.connectName, "A");
}

TEST_F(Config, OutputSettingsAsTheWindowLoadsThem) {
    EXPECT_EQ(gPrintToPort, 1); // until loaded
    LoadOutputSettings();       // an empty file: the printer medium
    EXPECT_EQ(gPrintToPort + gPrintToFile + gUseSocket, 0);
    EXPECT_EQ(gHeadings, 0);
    EXPECT_EQ(gPrintAfterNLines, 0);

    Ini("PRINTTOFILE", "1");
    Ini("PRINT2PORT", "1");
    Ini("LPTCOMPORT", "LPT1");
    Ini("HEADINGS", "1");
    Ini("PRINTAFTERNLINES", "12x");
    Ini("PRINTAFTERNLINESCHK", "0");
    Ini("FILEFORMAT", "PDF");
    Ini("USECOMMAND", "1");
    Ini("KEEPFAILED", "yes");
    Ini("SOCKETPORT", "9100");
    LoadOutputSettings();
    EXPECT_EQ(gPrintToPort, 1); // port beats file
    EXPECT_EQ(gPrintToFile, 0);
    EXPECT_EQ(gPortName, "LPT1");
    EXPECT_EQ(gSocketPort, "9100");
    EXPECT_EQ(gHeadings, 1);
    EXPECT_EQ(gPrintAfterNLines, 12); // loaded whatever the check box says
    EXPECT_EQ(gPrintAfterNLinesChecked, 0);
    EXPECT_EQ(gFileFormat, "pdf");
    EXPECT_EQ(gUseCommand, 1);
    EXPECT_EQ(gKeepFailed, 0); // only "1" is on

    Ini("PRINT2PORT", "0");
    Ini("USESOCKET", "1");
    LoadOutputSettings();
    EXPECT_EQ(gUseSocket, 1); // socket beats file
    EXPECT_EQ(gPrintToFile + gPrintToPort, 0);
    Ini("USESOCKET", "true");
    LoadOutputSettings();
    EXPECT_EQ(gPrintToFile, 1);
    EXPECT_EQ(gUseSocket + gPrintToPort, 0);

    // The LU-name file path keeps only the directory of CONFIGFILE.
    Ini("CONFIGFILE", "/etc/tw/OTHER.CFG");
    EXPECT_EQ(LuConfigPathFromIni(), "/etc/tw/kesluprt.cfg");
    Ini("CONFIGFILE", "C:\\tw\\KESLUPRT.CFG");
    EXPECT_EQ(LuConfigPathFromIni(), "C:/tw/kesluprt.cfg");
    Ini("CONFIGFILE", "KESLUPRT.CFG");
    EXPECT_EQ(LuConfigPathFromIni(), "kesluprt.cfg");
}
