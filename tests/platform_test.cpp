// Profile files, system facilities and the stop event.
#include "config_cases.h"
#include "platform/event.h"
#include "platform/profile.h"
#include "platform/sysinfo.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cerrno>
#include <poll.h>
#include <sys/stat.h>

#include <thread>

using platform::ProfileGetString;
using platform::ProfileWriteString;

TEST(Profile, Cases) {
    testutil::TempDir dir;
    for (const Case& c : LoadCases("profile.txt")) {
        SCOPED_TRACE(c.title);
        std::string ini = dir.file(c.title + ".ini");
        if (!c.Get("file").empty()) testutil::WriteFile(ini, c.Get("file"));
        for (auto& [what, item] : c.items) {
            size_t slash = item.find('/'), eq = item.find('=');
            std::string section = item.substr(0, slash),
                        key = item.substr(slash + 1, eq - slash - 1);
            if (what == "get") {
                EXPECT_EQ(ProfileGetString(section, key, "<d>", ini), item.substr(eq + 1)) << item;
            } else if (what == "put") {
                EXPECT_TRUE(ProfileWriteString(section, key, item.substr(eq + 1), ini));
            } else if (what == "after") {
                EXPECT_EQ(testutil::ReadFile(ini), item);
            }
        }
    }
}

TEST(Profile, ReplacesAtomically) {
    testutil::TempDir dir;
    std::string ini = dir.file("b.ini");
    ASSERT_TRUE(ProfileWriteString("CONFIGURATION", "HOSTNAME", "h1", ini));
    // Replaced by rename: an open reader keeps the old file, the mode stays, no
    // temporary file is left.
    ASSERT_EQ(chmod(ini.c_str(), 0600), 0);
    FILE* old = std::fopen(ini.c_str(), "rb");
    struct stat before, after;
    ASSERT_EQ(fstat(fileno(old), &before), 0);
    ASSERT_TRUE(ProfileWriteString("CONFIGURATION", "HOSTNAME", "third", ini));
    ASSERT_EQ(stat(ini.c_str(), &after), 0);
    std::fclose(old);
    EXPECT_NE(before.st_ino, after.st_ino);
    EXPECT_EQ(after.st_mode & 0777, 0600u);

    // Two threads writing different keys at once lose neither.
    std::thread a([&] {
        for (int i = 0; i < 50; ++i)
            ProfileWriteString("CONFIGURATION", "A" + std::to_string(i), "x", ini);
    });
    for (int i = 0; i < 50; ++i)
        ProfileWriteString("CONFIGURATION", "B" + std::to_string(i), "y", ini);
    a.join();
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(ProfileGetString("CONFIGURATION", "A" + std::to_string(i), "", ini) +
                      ProfileGetString("CONFIGURATION", "B" + std::to_string(i), "", ini),
                  "xy");
    EXPECT_EQ(testutil::ListDir(dir.path()), std::vector<std::string>{"b.ini"});
    // A folder that does not exist cannot take the file.
    EXPECT_FALSE(ProfileWriteString("CONFIGURATION", "K", "v", dir.file("nodir/x.ini")));
}

TEST(SysInfo, DirectoriesCommandLineAndErrors) {
    testutil::TempDir dir;
    setenv("TWPRINTER_DIR", (dir.file("deep/er") + "/").c_str(), 1);
    EXPECT_EQ(platform::SettingsDirectory(), dir.file("deep/er")); // made, no final slash
    EXPECT_TRUE(platform::FileExists(dir.file("deep/er")));
    unsetenv("TWPRINTER_DIR");
    setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
    EXPECT_EQ(platform::SettingsDirectory(), dir.file("twprinter"));
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_FALSE(platform::FileExists(dir.file("absent")));
    EXPECT_EQ(platform::JoinPath("/a", "b") + platform::JoinPath("/a/", "b") +
                  platform::JoinPath("", "b"),
              "/a/b/a/bb");

    char a0[] = "/usr/bin/twprinterd", a1[] = "-s", a2[] = "23";
    char* argv[] = {a0, a1, a2};
    platform::SetCommandLine(3, argv);
    EXPECT_EQ(platform::CommandLine(), "/usr/bin/twprinterd -s 23");
    EXPECT_EQ(platform::ProgramName(), "twprinterd");
    EXPECT_EQ(platform::SystemErrorText(ENOENT), "No such file or directory");

    // Local time, not UTC, in the one form logs and pages show.
    const char* oldTz = getenv("TZ");
    const std::string savedTz = oldTz ? oldTz : "";
    setenv("TZ", "EST5", 1);
    tzset();
    EXPECT_EQ(platform::LocalTimeText(86400 + 3723), "1970-01-01 20:02:03");
    const std::string now = platform::LocalTimeNowMs();
    // "YYYY-MM-DD HH:MM:SS.mmm": digits everywhere but the separators.
    const std::string shape = "dddd-dd-dd dd:dd:dd.ddd";
    ASSERT_EQ(now.size(), shape.size()) << now;
    for (size_t i = 0; i < now.size(); ++i)
        EXPECT_TRUE(shape[i] == 'd' ? std::isdigit(static_cast<unsigned char>(now[i])) != 0
                                    : now[i] == shape[i])
            << now << " at " << i;
    if (oldTz)
        setenv("TZ", savedTz.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

TEST(Event, ManualResetAndPollable) {
    platform::Event ev;
    EXPECT_FALSE(ev.Wait(10));
    ev.Set();
    ev.Set(); // twice is still one signal
    EXPECT_TRUE(ev.Wait(0));
    EXPECT_TRUE(ev.IsSet()); // waiting does not consume it
    pollfd p{ev.fd(), POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 0), 1);
    ev.Reset();
    ev.Reset(); // resetting a clear event is harmless
    EXPECT_FALSE(ev.IsSet());
    std::thread t([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ev.Set();
    });
    EXPECT_TRUE(ev.Wait(5000)); // another thread's Set wakes a waiter
    t.join();
}
