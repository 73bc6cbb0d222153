// The settings file: its name, the default file and the session keys.
#include "config/ini.h"
#include "config/options.h"
#include "platform/profile.h"
#include "platform/sysinfo.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace {

struct Ini : ::testing::Test {
    testutil::TempDir dir;
    void SetUp() override {
        setenv("TWPRINTER_DIR", dir.path().c_str(), 1);
        SetIniPathFromProgram("twprinterd");
        gOptions = Options{};
        gSessionFileInForce = 0;
        gUse3270E = 0;
        gHostName.clear();
    }
    void TearDown() override {
        gOptions = Options{};
        gSessionFileInForce = 0;
        gUse3270E = 0;
        unsetenv("TWPRINTER_DIR");
        unsetenv("CUPS_SERVER");
    }
};

} // namespace

TEST_F(Ini, DefaultFilePrinterIsTheFirstCupsDestination) {
    chmod(dir.path().c_str(), 0755); // the scheduler runs as another user
    testutil::Cupsd cups(dir.file("cups"));
    if (!cups.Start(false)) GTEST_SKIP() << "cupsd cannot run here";
    // A scheduler without queues: still no entry.
    WriteDefaultIni(gIniPath);
    EXPECT_EQ(IniGet("PRINTER", "none"), "none");
    ASSERT_TRUE(cups.AddQueue("zeta"));
    ASSERT_TRUE(cups.AddQueue("alpha"));
    std::remove(gIniPath.c_str());
    EnsureDefaultIni();
    EXPECT_EQ(IniGet("PRINTER", ""), "alpha");
    EXPECT_NE(testutil::ReadFile(gIniPath).find("\nPrinter=alpha\nHOSTNAME=\n"), std::string::npos);
}

TEST_F(Ini, FileNameIsSharedByBothPrograms) {
    SetIniPathFromProgram("twprinter");
    EXPECT_EQ(gIniPath, dir.file("twprinter.ini"));
    SetIniPathFromProgram("/usr/bin/twprinterd");
    EXPECT_EQ(gIniPath, dir.file("twprinter.ini"));
    SetIniPathFromProgram("myprinter");
    EXPECT_EQ(gIniPath, dir.file("myprinter.ini"));
    SetIniPathFromProgram("");
    EXPECT_EQ(gIniPath, dir.file("twprinter.ini"));
}

TEST_F(Ini, DefaultFileWithoutCupsServer) {
    // No scheduler: no Printer entry, and the first start does not wait for one.
    setenv("CUPS_SERVER", ("127.0.0.1:" + std::to_string(testutil::FreePort())).c_str(), 1);
    auto t0 = std::chrono::steady_clock::now();
    EnsureDefaultIni();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
    std::string cwd = platform::CurrentDirectory();
    EXPECT_EQ(testutil::ReadFile(gIniPath), "[CONFIGURATION]\n"
                                            "EXEDIR=" +
                                                cwd +
                                                "\n"
                                                "CONFIGFILE=" +
                                                cwd +
                                                "/KESLUPRT.CFG\n"
                                                "HOSTNAME=\n"
                                                "LUADDRESS=-1\n"
                                                "LUTYPE=3\n"
                                                "FILENAME=ROROR\n"
                                                "AUTOSTART=0\n"
                                                "SERVERNAME=kesservd\n"
                                                "SESSIONID=-1\n"
                                                "CONNECTNAME=\n"
                                                "ASSOCIATENAME=\n"
                                                "3270E=0\n"
                                                "CONNECTTIMEOUT=15\n"
                                                "STARTVISIBLE=1\n"
                                                "PRINTTOFILE=0\n");
    // An existing file is left alone.
    IniSet("HOSTNAME", "mvs1");
    EnsureDefaultIni();
    EXPECT_EQ(IniGet("HOSTNAME", ""), "mvs1");
    EXPECT_EQ(IniGet("hostname", ""), "mvs1");
}

TEST_F(Ini, DefaultFileDoesNotHangOnAMuteScheduler) {
    // A server that accepts and never answers.
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    socklen_t len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    listen(s, 4);
    setenv("CUPS_SERVER", ("127.0.0.1:" + std::to_string(ntohs(a.sin_port))).c_str(), 1);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(WriteDefaultIni(gIniPath), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(20));
    close(s);
    EXPECT_EQ(IniGet("PRINTER", "none"), "none");
    EXPECT_EQ(IniGet("LUTYPE", ""), "3");
}

TEST_F(Ini, ReadIniFileSessionKeys) {
    std::string addr, file, session;
    int luType = 0;
    // Missing file: every default, the computer's name as host.
    ReadIniFile(gIniPath, addr, luType, file, session);
    EXPECT_EQ(gHostName, platform::ComputerName().substr(0, 15));
    EXPECT_EQ(addr, "-1");
    EXPECT_EQ(gOptions.luAddress.value_or("unset"), "-1");
    EXPECT_EQ(luType, 3);
    EXPECT_EQ(file, "ROROR");
    EXPECT_EQ(gOptions.serverName.value_or(""), "kesservd");
    EXPECT_EQ(session, "-1");
    EXPECT_EQ(gUse3270E, 0);
    EXPECT_FALSE(gOptions.connectName);

    testutil::WriteFile(gIniPath, "[Configuration]\nhostname=mvs1\nLuAddress=12\nLUTYPE=2\n"
                                  "FILENAME=/tmp/job\nSERVERNAME=2323\nSESSIONID=b\n"
                                  "3270E=0\nCONNECTNAME=PRT1\n");
    gOptions = Options{};
    ReadIniFile(gIniPath, addr, luType, file, session);
    EXPECT_EQ(gHostName, "mvs1");
    EXPECT_EQ(addr, "12");
    EXPECT_EQ(luType, 3); // 2 reads as 3
    EXPECT_EQ(file, "/tmp/job");
    EXPECT_EQ(*gOptions.serverName, "2323");
    EXPECT_EQ(session, "b");
    EXPECT_FALSE(gOptions.connectName); // 3270E off: the stored name is not used

    platform::ProfileWriteString("CONFIGURATION", "3270E", "1", gIniPath);
    platform::ProfileWriteString("CONFIGURATION", "LUTYPE", "1", gIniPath);
    ReadIniFile(gIniPath, addr, luType, file, session);
    EXPECT_EQ(luType, 1);
    EXPECT_EQ(gUse3270E, 1);
    EXPECT_EQ(gOptions.connectName.value_or(""), "PRT1");
    EXPECT_FALSE(gOptions.associateName); // empty key leaves it unset

    // A session file in force protects what the window supplied.
    gOptions = Options{};
    gSessionFileInForce = 1;
    gHostName = "fromwindow";
    gUse3270E = 0;
    ReadIniFile(gIniPath, addr, luType, file, session);
    EXPECT_EQ(gHostName, "fromwindow");
    EXPECT_FALSE(gOptions.luAddress);
    EXPECT_FALSE(gOptions.serverName);
    EXPECT_EQ(gUse3270E, 0);
    EXPECT_EQ(addr, "12"); // working values are still read

    // Overlong values are cut at 260 characters.
    gSessionFileInForce = 0;
    platform::ProfileWriteString("CONFIGURATION", "HOSTNAME", std::string(1000, 'h'), gIniPath);
    ReadIniFile(gIniPath, addr, luType, file, session);
    EXPECT_EQ(gHostName, std::string(260, 'h'));
    EXPECT_EQ(IniGet("HOSTNAME", "").size(), 260u);
}
