// Messages and results, status table, error texts, debug log, reporter.
#include "config/messages.h"
#include "config/report.h"
#include "config/result.h"
#include "config/utilities.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

TEST(Messages, TextsDetailAndStatusTable) {
    for (int n : {47, 62, 63, 65, 68, 69, 70, 71, 72, 73, 75, 76, 77, 78, 79, 80,
                  81, 82, 83, 84, 85, 86, 87, 88, 89, 90, 91, 92, 93, 94, 96}) // every engine code
                                                                               // has a text
        EXPECT_STRNE(config::LoadMessage(n), "") << n;

    // A result's text is its message, then its reason when it has one.
    const config::Result refused(93, "mvs1 port 23: Connection refused", "mvs1:23");
    EXPECT_EQ(refused.Text(), "Unable to connect: mvs1 port 23: Connection refused");
    EXPECT_FALSE(refused.ok());
    EXPECT_EQ(config::Result(65).Text(), "Unable to connect to server");
    EXPECT_TRUE(config::Result().ok());
    EXPECT_EQ(config::Result().Text(), "");

    EXPECT_EQ(config::StatusMessage(17) + config::StatusMessage(18) + config::StatusMessage(-1),
              "Trying to Connect");
    config::StatusTexts replaced;
    replaced[2] = "Host went away";
    EXPECT_EQ(config::StatusMessage(2, &replaced) + config::StatusMessage(1, &replaced),
              "Host went awayTelnet error");
    EXPECT_EQ(config::StatusMessage(2), "Connection closed by server");
}

TEST(Utilities, SystemAndSocketErrorTexts) {
    EXPECT_STREQ(config::FormatSystemError(nullptr, EACCES), "Permission denied");
    EXPECT_STREQ(config::FormatSystemError("p", 1234), "p: 1234 (0x4D2)");
    std::string longPrefix(255, 'p'); // no room for the text: the number
    EXPECT_EQ(std::string(config::FormatSystemError(longPrefix.c_str(), EACCES)),
              longPrefix + ": 13 (0xD)");
    // Each thread formats into its own buffer.
    const char* mine = config::FormatSystemError("mvs1", ECONNREFUSED);
    std::thread([] { config::FormatSystemError(nullptr, ENOENT); }).join();
    EXPECT_STREQ(mine, "mvs1: Connection refused");
}

namespace {
struct Recorder : config::Reporter {
    std::vector<std::string> lines;
    void ShowStatusMessage(int code, const std::string& text) override {
        lines.push_back(std::to_string(code) + "|" + text);
    }
    void ShowOnlineState(bool) override {}
    void ShowMessageBox(const std::string&) override {}
    bool AskYesNo(const std::string&) override { return true; }
    void StatusLine(const std::string&) override {}
};
} // namespace

TEST(Report, StatusTextsDebugLogAndStderr) {
    testutil::TempDir dir;
    setenv("TWPRINTER_DIR", dir.path().c_str(), 1);
    testing::internal::CaptureStderr();
    config::Trace("hidden %d\n", 1); // debug off
    config::DebugPrint("dropped");   // no log open
    config::DebugOpen();
    ASSERT_TRUE(config::DebugLogOpen());
    config::DebugPrint("%s literal ");
    EXPECT_EQ(config::ComposeStatus({70, "WSAECONNREFUSED"}),
              "Socket error: WSAECONNREFUSED\nDelaying before reconnect.");
    config::gDebug = 1; // in the log from now on
    config::Trace("shown %d\n", 2);
    Recorder rec;
    ReportStatus(rec, 47);
    ReportStatus(rec, 65);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "shown 2\n");
    config::gDebug = 0;
    config::DebugClose();
    EXPECT_FALSE(config::DebugLogOpen());
    EXPECT_EQ(testutil::ReadFile(dir.file("TwPrinter.log")),
              "Version = 1.5.1%s literal Attempting to connect...\n"
              "Unable to connect to server\nDelaying before reconnect.\n");
    EXPECT_EQ(rec.lines, (std::vector<std::string>{
                             "47|Attempting to connect...",
                             "65|Unable to connect to server\nDelaying before reconnect."}));

    // The standard-error reporter: one stamped line per report, no one to say Yes.
    testing::internal::CaptureStderr();
    config::StderrReporter().StatusLine("two\nlines");
    config::StderrReporter().ShowOnlineState(true);
    EXPECT_FALSE(config::StderrReporter().AskYesNo("Overwrite?"));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_HAS(err, " two lines\n");
    EXPECT_HAS(err, " Tarnwick printer client is online.\n");
    EXPECT_HAS(err, " Overwrite? No\n");
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 3);
    unsetenv("TWPRINTER_DIR");
}

// Under AddressSanitizer an impossible allocation must fail like the real
// allocator does, so that the wrappers' fatal path is what the test sees.
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1";
}
