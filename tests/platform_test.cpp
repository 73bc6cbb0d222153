// Profile files, system facilities and the stop event.
#include "platform/event.h"
#include "platform/profile.h"
#include "platform/sysinfo.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <poll.h>
#include <sys/stat.h>

#include <thread>

using platform::ProfileGetString;
using platform::ProfileWriteString;
using testutil::ReadFile;
using testutil::TempDir;
using testutil::WriteFile;

TEST(Profile, ReadsWithDefaultsAndIgnoresCase) {
    TempDir dir;
    std::string ini = dir.file("a.ini");
    EXPECT_EQ(ProfileGetString("CONFIGURATION", "HOSTNAME", "dflt", ini), "dflt"); // no file
    WriteFile(ini, "; leading comment\n"
                   "[Other]\nHOSTNAME=wrong\n"
                   "[configuration]\n"
                   "  hostName =  mvs1  \n"
                   "# hash comment\n"
                   "QUOTED=\"a b\"\n"
                   "EMPTY=\n"
                   "CRLF=value\r\n"
                   "noequals\n"
                   "[Third]\nLUTYPE=1\n");
    EXPECT_EQ(ProfileGetString("CONFIGURATION", "HOSTNAME", "", ini), "mvs1");
    EXPECT_EQ(ProfileGetString("Configuration", "hostname", "", ini), "mvs1");
    EXPECT_EQ(ProfileGetString("OTHER", "hostname", "", ini), "wrong");
    EXPECT_EQ(ProfileGetString("CONFIGURATION", "QUOTED", "", ini), "a b");
    EXPECT_EQ(ProfileGetString("CONFIGURATION", "EMPTY", "dflt", ini), "");
    EXPECT_EQ(ProfileGetString("CONFIGURATION", "CRLF", "", ini), "value");
    EXPECT_EQ(ProfileGetString("CONFIGURATION", "LUTYPE", "3", ini), "3"); // other section only
    EXPECT_EQ(ProfileGetString("CONFIGURATION", "noequals", "d", ini), "d");
    EXPECT_EQ(ProfileGetString("MISSING", "HOSTNAME", "d", ini), "d");
}

TEST(Profile, WritesKeepOtherLinesAndReplaceAtomically) {
    TempDir dir;
    std::string ini = dir.file("b.ini");
    // Creates file and section.
    ASSERT_TRUE(ProfileWriteString("CONFIGURATION", "HOSTNAME", "h1", ini));
    EXPECT_EQ(ReadFile(ini), "[CONFIGURATION]\nHOSTNAME=h1\n");

    WriteFile(ini, "; keep me\n[configuration]\nHostName=old\n# and me\n\n[Other]\nX=1\n");
    ASSERT_TRUE(ProfileWriteString("CONFIGURATION", "HOSTNAME", "new", ini));
    ASSERT_TRUE(ProfileWriteString("CONFIGURATION", "LUTYPE", "1", ini));
    ASSERT_TRUE(ProfileWriteString("OTHER", "Y", "2", ini));
    ASSERT_TRUE(ProfileWriteString("Fresh", "K", "v", ini));
    EXPECT_EQ(ReadFile(ini), "; keep me\n[configuration]\nHOSTNAME=new\n# and me\nLUTYPE=1\n\n"
                             "[Other]\nX=1\nY=2\n\n[Fresh]\nK=v\n");
    EXPECT_EQ(ProfileGetString("CONFIGURATION", "lutype", "", ini), "1");

    // The file is replaced by rename: an open reader keeps the old contents and no
    // temporary file is left beside it.
    FILE* old = std::fopen(ini.c_str(), "rb");
    ASSERT_NE(old, nullptr);
    struct stat before, after;
    ASSERT_EQ(fstat(fileno(old), &before), 0);
    ASSERT_TRUE(ProfileWriteString("CONFIGURATION", "HOSTNAME", "third", ini));
    ASSERT_EQ(stat(ini.c_str(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino);
    std::fclose(old);
    EXPECT_EQ(testutil::ListDir(dir.path()), std::vector<std::string>{"b.ini"});

    // A value with line breaks cannot forge another key.
    ASSERT_TRUE(ProfileWriteString("CONFIGURATION", "HOSTNAME", "h\nLUTYPE=9\r", ini));
    EXPECT_EQ(ProfileGetString("CONFIGURATION", "LUTYPE", "", ini), "1");
    EXPECT_EQ(ProfileGetString("CONFIGURATION", "HOSTNAME", "", ini), "h LUTYPE=9");

    // The mode of an existing file is kept across the replacement.
    ASSERT_EQ(chmod(ini.c_str(), 0600), 0);
    ASSERT_TRUE(ProfileWriteString("CONFIGURATION", "HOSTNAME", "m", ini));
    ASSERT_EQ(stat(ini.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 0777, 0600u);

    // Two threads writing different keys at once lose neither.
    {
        std::thread a([&] {
            for (int i = 0; i < 50; ++i)
                ProfileWriteString("CONFIGURATION", "A" + std::to_string(i), "x", ini);
        });
        for (int i = 0; i < 50; ++i)
            ProfileWriteString("CONFIGURATION", "B" + std::to_string(i), "y", ini);
        a.join();
        for (int i = 0; i < 50; ++i) {
            EXPECT_EQ(ProfileGetString("CONFIGURATION", "A" + std::to_string(i), "", ini), "x");
            EXPECT_EQ(ProfileGetString("CONFIGURATION", "B" + std::to_string(i), "", ini), "y");
        }
    }
    EXPECT_EQ(testutil::ListDir(dir.path()), std::vector<std::string>{"b.ini"});

    // A directory that does not exist cannot take the file: failure, nothing created.
    EXPECT_FALSE(ProfileWriteString("CONFIGURATION", "K", "v", dir.file("nodir/x.ini")));
}

TEST(SysInfo, DirectoriesCommandLineAndErrors) {
    TempDir dir;
    std::string wanted = dir.file("deep/er");
    setenv("TWPRINTER_DIR", (wanted + "/").c_str(), 1);
    EXPECT_EQ(platform::WindowsDirectory(), wanted);
    EXPECT_TRUE(platform::FileExists(wanted));
    unsetenv("TWPRINTER_DIR");
    setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
    EXPECT_EQ(platform::WindowsDirectory(), dir.file("twprinter"));
    EXPECT_TRUE(platform::FileExists(dir.file("twprinter")));
    EXPECT_FALSE(platform::FileExists(dir.file("absent")));

    EXPECT_EQ(platform::JoinPath("/a", "b"), "/a/b");
    EXPECT_EQ(platform::JoinPath("/a/", "b"), "/a/b");
    EXPECT_EQ(platform::JoinPath("", "b"), "b");

    char a0[] = "/usr/bin/twprinterd", a1[] = "-s", a2[] = "23";
    char* argv[] = {a0, a1, a2};
    platform::SetCommandLine(3, argv);
    EXPECT_EQ(platform::CommandLine(), "/usr/bin/twprinterd -s 23");
    EXPECT_EQ(platform::ProgramName(), "twprinterd");

    EXPECT_FALSE(platform::ComputerName().empty());
    EXPECT_FALSE(platform::CurrentDirectory().empty());
    EXPECT_EQ(platform::SystemErrorText(ENOENT), "No such file or directory");
    uint64_t t0 = platform::TickCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_GE(platform::TickCount(), t0 + 5);
}

TEST(Event, ManualResetAndPollable) {
    platform::Event ev;
    ASSERT_GE(ev.fd(), 0);
    EXPECT_FALSE(ev.IsSet());
    EXPECT_FALSE(ev.Wait(10));
    ev.Set();
    ev.Set(); // twice is still one signal
    EXPECT_TRUE(ev.IsSet());
    EXPECT_TRUE(ev.Wait(0));
    EXPECT_TRUE(ev.IsSet()); // waiting does not consume it
    pollfd p{ev.fd(), POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 0), 1);
    ev.Reset();
    EXPECT_FALSE(ev.IsSet());
    ev.Reset(); // resetting a clear event is harmless
    EXPECT_FALSE(ev.IsSet());

    // Another thread's Set wakes a waiter.
    std::thread t([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ev.Set();
    });
    EXPECT_TRUE(ev.Wait(5000));
    t.join();
}
