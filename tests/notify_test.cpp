// The service manager's notify protocol, received on a real datagram socket.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "session/notify.h"
#include "testutil.h"

namespace {

using testutil::NotifySocket;

TEST(Notify, MessagesReachThePathAndAbstractSocketsAndNothingElse) {
    testutil::TempDir dir;
    for (std::string path : {dir.file("notify"), "@twnotify" + std::to_string(getpid())}) {
        SCOPED_TRACE(path);
        NotifySocket sock(path);
        setenv("NOTIFY_SOCKET", path.c_str(), 1);
        session::NotifyReady();
        session::NotifyStatus("Unable to connect: refused\nDelaying before reconnect.");
        session::NotifyWatchdog();
        session::NotifyStopping();
        EXPECT_EQ(sock.Receive(),
                  (std::vector<std::string>{
                      "READY=1", "STATUS=Unable to connect: refused Delaying before reconnect.",
                      "WATCHDOG=1", "STOPPING=1"}));
    }
    unsetenv("NOTIFY_SOCKET");
}

TEST(Notify, WatchdogIntervalOnlyForTheNamedProcess) {
    unsetenv("WATCHDOG_PID");
    setenv("WATCHDOG_USEC", "60000000", 1);
    EXPECT_EQ(session::NotifyWatchdogUsec(), 60000000u);
    setenv("WATCHDOG_PID", std::to_string(getpid()).c_str(), 1);
    EXPECT_EQ(session::NotifyWatchdogUsec(), 60000000u);
    setenv("WATCHDOG_PID", std::to_string(getpid() + 1).c_str(), 1);
    EXPECT_EQ(session::NotifyWatchdogUsec(), 0u);
    unsetenv("WATCHDOG_PID");
    unsetenv("WATCHDOG_USEC");
    EXPECT_EQ(session::NotifyWatchdogUsec(), 0u);
}

// twprinterd under a pretend service manager: ready once running, each status
// line as STATUS, watchdog pings at half the interval, STOPPING on SIGTERM.
TEST(Notify, DaemonReportsReadinessStatusWatchdogAndStop) {
    testutil::TempDir dir;
    // Port 1 on loopback refuses: the client keeps retrying with status lines.
    testutil::WriteFile(dir.file("twprinter.ini"),
                        "[CONFIGURATION]\nHOSTNAME=127.0.0.1\nSERVERNAME=1\nLUTYPE=1\n"
                        "CONNECTTIMEOUT=0\n");
    NotifySocket sock(dir.file("notify"));
    testutil::Proc daemon({"/bin/sh", "-c", "export WATCHDOG_PID=$$; exec \"$0\"", TWPRINTERD_PATH},
                          dir.path(),
                          {"TWPRINTER_DIR=" + dir.path(), "NOTIFY_SOCKET=" + dir.file("notify"),
                           "WATCHDOG_USEC=400000"});
    std::vector<std::string> got;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    while (std::chrono::steady_clock::now() < end)
        for (auto& m : sock.Receive(100))
            got.push_back(m);
    // SIGTERM in the wait between connection attempts stops at once with 0.
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(daemon.Stop(SIGTERM), 0) << daemon.text();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
    for (auto& m : sock.Receive(300))
        got.push_back(m);
    std::string all;
    int ready = 0, connecting = 0, refused = 0, pings = 0, stopping = 0, afterStop = 0;
    for (const auto& m : got) {
        all += m + "|";
        ready += m == "READY=1";
        connecting += m.rfind("STATUS=Attempting to connect...", 0) == 0;
        refused += m.rfind("STATUS=Unable to connect:", 0) == 0;
        pings += m == "WATCHDOG=1";
        // Nothing but status lines after the stop notice.
        afterStop += stopping && m.rfind("STATUS=", 0) != 0;
        stopping += m == "STOPPING=1";
    }
    EXPECT_EQ(ready, 1) << all;
    EXPECT_GE(connecting, 1) << all;
    EXPECT_GE(refused, 1) << all;
    // 1.5 s at a 400 ms interval: a ping every 200 ms, give or take scheduling.
    EXPECT_GE(pings, 4) << all;
    EXPECT_LE(pings, 9) << all;
    EXPECT_EQ(stopping, 1) << all;
    EXPECT_EQ(afterStop, 0) << all;
}

} // namespace
