// Messages, status table, error texts, memory wrappers, debug log and reporter.
#include "config/messages.h"
#include "config/options.h"
#include "config/report.h"
#include "config/utilities.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <netdb.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

TEST(Messages, TableTextsAndDetail) {
    EXPECT_STREQ(LoadMessage(47), "Attempting to connect...");
    EXPECT_STREQ(LoadMessage(63), "LU mismatch.\nTry LU");
    EXPECT_STREQ(LoadMessage(76), "Error writing to socket:");
    EXPECT_STREQ(LoadMessage(77), "Memory error.");
    EXPECT_STREQ(LoadMessage(87), "Nor connect name for associate name:");
    EXPECT_STREQ(LoadMessage(94), "Error from system function fputc.");
    EXPECT_STREQ(LoadMessage(95), "Must set  connection timeout. Set to 0 to disable.");
    EXPECT_STREQ(LoadMessage(96), "Delaying before reconnect.");
    EXPECT_STREQ(LoadMessage(6), "Tarnwick printer client is offline.");
    EXPECT_STREQ(LoadMessage(9999), "");
    // Every engine code has a text.
    for (int n : {47, 62, 63, 65, 68, 69, 70, 71, 72, 73, 75, 76, 77, 78, 79,
                  80, 81, 82, 83, 84, 85, 86, 87, 88, 89, 90, 91, 92, 93, 94})
        EXPECT_STRNE(LoadMessage(n), "") << n;

    SetErrorDetail("mvs1: Connection refused");
    EXPECT_EQ(TakeMessageText(93), "Unable to connect: mvs1: Connection refused");
    EXPECT_TRUE(gErrorDetail.empty());
    EXPECT_EQ(TakeMessageText(65), "Unable to connect to server");
}

TEST(Messages, StatusTableReplaceAndReport) {
    EXPECT_STREQ(StatusMessage(0), "");
    EXPECT_STREQ(StatusMessage(1), "Telnet error");
    EXPECT_STREQ(StatusMessage(4), "Unable to open print file \n");
    EXPECT_STREQ(StatusMessage(17), "Trying to Connect");
    EXPECT_STREQ(StatusMessage(18), "");
    EXPECT_STREQ(StatusMessage(-1), "");

    EXPECT_EQ(ReportStatus("Caller()", 12, 0), "Caller(): File printed");
    errno = ENOENT;
    EXPECT_EQ(ReportStatus("X", 16, 1), "X: No file specified No such file or directory");
    errno = EACCES;
    EXPECT_EQ(ReportStatus("X", 16, 2), "X: No file specified Permission denied");
    EXPECT_EQ(ReportStatus("X", 0, 0), ""); // blank class
    EXPECT_EQ(ReportStatus("X", 18, 0), "");

    SetMessage(2, "Host went away");
    EXPECT_STREQ(StatusMessage(2), "Host went away");
    SetMessage(18, "ignored");
    SetMessage(0, "ignored");
    EXPECT_STREQ(StatusMessage(0), "");
    SetMessage(2, "Connection closed by server");
}

TEST(Utilities, SystemAndSocketErrorTexts) {
    EXPECT_STREQ(FormatSystemError(nullptr, EACCES), "Permission denied");
    EXPECT_STREQ(FormatSystemError("mvs1", ECONNREFUSED), "mvs1: Connection refused");
    EXPECT_STREQ(FormatSystemError(nullptr, 1234), "1234 (0x4D2)");
    EXPECT_STREQ(FormatSystemError("p", 1234), "p: 1234 (0x4D2)");
    // A prefix so long that no text fits leaves the number form.
    std::string longPrefix(255, 'p');
    EXPECT_EQ(std::string(FormatSystemError(longPrefix.c_str(), EACCES)),
              longPrefix + ": 13 (0xD)");

    std::string name;
    EXPECT_EQ(WinsockErrorName(ECONNREFUSED, name), 10061);
    EXPECT_EQ(name, "WSAECONNREFUSED");
    EXPECT_EQ(WinsockErrorName(EINTR, name), 10004);
    EXPECT_EQ(name, "WSAEINTR");
    EXPECT_EQ(WinsockErrorName(EWOULDBLOCK, name), 10035);
    EXPECT_EQ(name, "WSAEWOULDBLOCK");
    EXPECT_EQ(WinsockErrorName(ETIMEDOUT, name), 10060);
    EXPECT_EQ(name, "WSAETIMEDOUT");
    EXPECT_EQ(WinsockErrorName(EHOSTUNREACH, name), 10065);
    EXPECT_EQ(name, "WSAEHOSTUNREACH");
    EXPECT_EQ(WinsockErrorName(ENOENT, name), ENOENT);
    EXPECT_EQ(name, "Unknown error");
    EXPECT_EQ(HostErrorName(HOST_NOT_FOUND, name), 11001);
    EXPECT_EQ(name, "WSAHOST_NOT_FOUND");
    EXPECT_EQ(HostErrorName(EAI_AGAIN, name), 11002);
    EXPECT_EQ(name, "WSATRY_AGAIN");
    EXPECT_EQ(HostErrorName(NO_DATA, name), 11004);
    EXPECT_EQ(name, "WSANO_DATA");
    HostErrorName(12345, name);
    EXPECT_EQ(name, "Unknown error");
}

TEST(Utilities, MemoryAndOwnedTexts) {
    std::string s;
    ReplaceString(s, "first");
    EXPECT_EQ(s, "first");
    ReplaceString(s, s); // self-assignment keeps the text
    EXPECT_EQ(s, "first");
    ReplaceString(s, "");
    EXPECT_EQ(s, "");

    auto* p = static_cast<uint8_t*>(KesCalloc(4, 4));
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(p[i], 0);
    p = static_cast<uint8_t*>(KesRealloc(p, 64));
    p[63] = 1;
    KesFree(p);
    KesFree(nullptr);
    KesFree(KesMalloc(0)); // never a null block
}

TEST(UtilitiesDeathTest, FailingAllocationEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(KesMalloc(SIZE_MAX / 2), "Fatal Error: Memory:KesMalloc - malloc failed");
    EXPECT_DEATH(KesCalloc(SIZE_MAX / 8, 8), "Memory:KesCalloc - calloc failed");
    EXPECT_DEATH(KesRealloc(nullptr, SIZE_MAX / 2), "Memory:KesRealloc - realloc failed");
    // A window shows the notice through its hook, then the process still ends.
    gFatalErrorBox = [](const char* text) { std::fprintf(stderr, "BOX<%s>", text); };
    EXPECT_EXIT(FatalError("Mod", "Fn", "gone"), testing::ExitedWithCode(3),
                "BOX<Fatal Error: Mod:Fn - gone\n>");
    gFatalErrorBox = nullptr;
}

namespace {
struct Recorder : UiReport {
    std::vector<std::string> lines;
    void ShowOnlineState(bool online) override { lines.push_back(online ? "on" : "off"); }
    void ShowStatusMessage(int code, const std::string& text) override {
        lines.push_back(std::to_string(code) + "|" + text);
    }
    void ShowMessageBox(const std::string& text) override { lines.push_back("box|" + text); }
    bool AskYesNo(const std::string&) override { return true; }
    void StatusLine(const std::string& text) override { lines.push_back("line|" + text); }
};
} // namespace

TEST(Utilities, DebugLogTraceAndStatusReports) {
    testutil::TempDir dir;
    setenv("TWPRINTER_DIR", dir.path().c_str(), 1);
    gDebug = 0;
    testing::internal::CaptureStderr();
    Trace("hidden %d\n", 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    DebugPrint("dropped"); // no log open
    DebugOpen();
    ASSERT_NE(gDebugLog, nullptr);
    EXPECT_EQ(testutil::ReadFile(dir.file("TwPrinter.log")), "Version = 1.5.1");
    DebugPrint("%s %d literal");

    Recorder rec;
    SetUiReport(&rec);
    gDebug = 1;
    testing::internal::CaptureStderr();
    Trace("shown %d\n", 2);
    SetErrorDetail("WSAECONNREFUSED");
    ShowStatusMessage(70);
    ShowStatusMessage(47);
    ShowOnlineState(true);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "shown 2\n");
    gDebug = 0;
    DebugClose();
    EXPECT_EQ(gDebugLog, nullptr);
    EXPECT_EQ(testutil::ReadFile(dir.file("TwPrinter.log")),
              "Version = 1.5.1%s %d literalSocket error: WSAECONNREFUSED\nDelaying before "
              "reconnect.\nAttempting to connect...\n");
    ASSERT_EQ(rec.lines.size(), 3u);
    EXPECT_EQ(rec.lines[0], "70|Socket error: WSAECONNREFUSED\nDelaying before reconnect.");
    EXPECT_EQ(rec.lines[1], "47|Attempting to connect...");
    EXPECT_EQ(rec.lines[2], "on");
    EXPECT_TRUE(gErrorDetail.empty());

    // The default reporter writes one stamped line per report.
    SetUiReport(nullptr);
    testing::internal::CaptureStderr();
    Ui().StatusLine("two\nlines");
    EXPECT_FALSE(Ui().AskYesNo("Output file x already exists. Overwrite?"));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(" two lines\n"), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 2);
    unsetenv("TWPRINTER_DIR");
}

// Under AddressSanitizer an impossible allocation must fail like the real
// allocator does, so that the wrappers' fatal path is what the test sees.
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1";
}
