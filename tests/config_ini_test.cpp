// The program's settings file: its name and the default file.
#include "config/ini.h"
#include "platform/sysinfo.h"
#include "testutil.h"

#include <cups/cups.h>
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

struct Ini : ::testing::Test {
    testutil::TempDir dir;
    void SetUp() override {
        setenv("TWPRINTER_DIR", dir.path().c_str(), 1);
        config::SetIniPathFromProgram("/usr/bin/twprinterd"); // twprinter and twprinterd share it
        EXPECT_EQ(config::gIniPath, dir.file("twprinter.ini"));
        EXPECT_EQ(config::IniPathForProgram("myprinter"), dir.file("myprinter.ini"));
        EXPECT_EQ(config::IniPathForProgram(""), dir.file("twprinter.ini"));
    }
    void TearDown() override {
        unsetenv("TWPRINTER_DIR");
        unsetenv("CUPS_SERVER");
        cupsSetServer(nullptr); // libcups keeps the server it was first told
    }
};

TEST_F(Ini, DefaultFileWithAMuteScheduler) {
    // A scheduler that accepts and never answers: no Printer entry, and no long wait.
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&a), len), 0);
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    listen(s, 4);
    setenv("CUPS_SERVER", ("127.0.0.1:" + std::to_string(ntohs(a.sin_port))).c_str(), 1);
    auto t0 = std::chrono::steady_clock::now();
    config::EnsureDefaultIni();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(20));
    close(s);
    std::string cwd = platform::CurrentDirectory();
    EXPECT_EQ(testutil::ReadFile(config::gIniPath),
              "[CONFIGURATION]\nEXEDIR=" + cwd + "\nCONFIGFILE=" + cwd +
                  "/KESLUPRT.CFG\nHOSTNAME=\nLUADDRESS=-1\nLUTYPE=3\nFILENAME=ROROR\n"
                  "AUTOSTART=0\nSERVERNAME=kesservd\nSESSIONID=-1\nCONNECTNAME=\n"
                  "ASSOCIATENAME=\n3270E=0\nCONNECTTIMEOUT=15\nSTARTVISIBLE=1\nPRINTTOFILE=0\n");
    // An existing file is left alone; keys compare without regard to case.
    config::IniSet("HOSTNAME", std::string(300, 'h'));
    config::EnsureDefaultIni();
    EXPECT_EQ(config::IniGet("hostname", ""), std::string(260, 'h'));
    EXPECT_EQ(config::IniRead(config::gIniPath, "LUTYPE", ""), "3");
}

TEST_F(Ini, DefaultFilePrinterIsTheFirstCupsDestination) {
    chmod(dir.path().c_str(), 0755); // the scheduler runs as another user
    testutil::Cupsd cups(dir.file("cups"));
    if (!cups.Start(false)) GTEST_SKIP() << "cupsd cannot run here";
    config::WriteDefaultIni(config::gIniPath); // no queues: no entry
    EXPECT_EQ(config::IniGet("PRINTER", "none"), "none");
    ASSERT_TRUE(cups.AddQueue("zeta"));
    ASSERT_TRUE(cups.AddQueue("alpha"));
    std::remove(config::gIniPath.c_str());
    config::EnsureDefaultIni();
    EXPECT_HAS(testutil::ReadFile(config::gIniPath), "\nPrinter=alpha\nHOSTNAME=\n");
}
