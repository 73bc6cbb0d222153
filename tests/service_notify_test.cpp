// NOTIFYCOMMAND through a running pool: a kept job, an LU offline past
// NOTIFYAFTER and its return each run the command with the event in its
// environment; a command that fails is said once; one that hangs is killed.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "service/notifier.h"
#include "testutil.h"

namespace {

using testutil::Proc;
using testutil::ReadFile;
using testutil::WriteFile;

using testutil::Count;

// Waits for needle in the file at path, past its first from bytes.
bool Until(const std::string& path, const std::string& needle, size_t from = 0) {
    return testutil::Until([&] { return ReadFile(path).find(needle, from) != std::string::npos; },
                           30000);
}

TEST(NotifyCommand, KeptOfflineAndBackRunTheCommandWithTheEvent) {
    testutil::TempDir dir;
    ASSERT_EQ(::mkdir(dir.file("pool").c_str(), 0755), 0);
    const std::vector<std::string> both{"--timeout", "60000", "--clients", "2", "--concurrent"};
    auto host = std::make_unique<testutil::Host>(
        dir, "one",
        "negotiate tn3270e LUONE\nbind\nscs \"KEEP ME\" always\nexpect-response\neoj\nhold\n",
        both);
    const int port = host->port;
    ASSERT_NE(port, 0) << host->proc->text();
    // The command is run without a shell: its words are the program and its arguments.
    WriteFile(dir.file("note.sh"),
              "echo \"$LU|$EVENT|$JOB|$REASON|$1\" >>\"$(dirname \"$0\")/events\"\n");
    const std::string base = testutil::LuIni(
        port, "USESOCKET=1\nSOCKETPORT=127.0.0.1:" + std::to_string(testutil::FreePort()) +
                  "\nKEEPFAILED=1\nSOCKETTIMEOUT=1\nNOTIFYAFTER=2\n");
    WriteFile(dir.file("pool/ONE.ini"),
              base + "NOTIFYCOMMAND=/bin/sh " + dir.file("note.sh") + " 'two words'\n");
    WriteFile(dir.file("pool/TWO.ini"), base + "NOTIFYCOMMAND=/nonexistent/notify\n");
    Proc d({TWPRINTERD_PATH, "--pool", dir.file("pool")}, dir.path(),
           {"TWPRINTER_DIR=" + dir.path()});
    const std::string events = dir.file("events");
    ASSERT_TRUE(Until(events, "ONE|kept|")) << ReadFile(events) << d.text();
    const std::string kept = ReadFile(events);
    EXPECT_HAS(kept, "|" + dir.file("pool/ONE/failed/"));
    // No shell: the quotes are not its, the words are split at blanks.
    EXPECT_HAS(kept, "could not be delivered|'two\n");
    // The host goes: offline once past NOTIFYAFTER, then online when it is back.
    host.reset();
    // A slow first connection may have been an offline and online of its own: only what
    // comes after the host went counts.
    const size_t mark = ReadFile(events).size();
    ASSERT_TRUE(Until(events, "ONE|offline||offline for", mark)) << ReadFile(events);
    // Both LUs at once, held longer than the test runs: a host that went away again would be
    // a second offline.
    testutil::Host again(dir, "two", "negotiate tn3270e LUONE\nbind\nhold\n", both, port);
    ASSERT_EQ(again.port, port) << again.proc->text();
    ASSERT_TRUE(Until(events, "ONE|online||online again", mark)) << ReadFile(events);
    EXPECT_EQ(Count(ReadFile(events).substr(mark), "ONE|offline|"), 1u) << ReadFile(events);
    // TWO's command cannot run: said once, though it had three events. Its online event
    // comes within a look of the watcher (half a second) after ONE's; a second line
    // would follow it.
    ASSERT_SAYS(d, "NOTIFYCOMMAND /nonexistent/notify failed", 30000);
    d.WaitFor("never", 1500);
    EXPECT_EQ(Count(d.text(), "NOTIFYCOMMAND /nonexistent/notify failed"), 1u) << d.text();
    EXPECT_EQ(Count(ReadFile(events), "TWO|"), 0u);
}

TEST(NotifyCommand, ACommandIsBoundedInTimeAndItsEndSaid) {
    testutil::TempDir dir;
    const auto start = std::chrono::steady_clock::now();
    const std::string why = service::Notifier::Run("/bin/sleep 30", "LU", "kept", "", "", 300);
    const auto spent = std::chrono::steady_clock::now() - start;
    EXPECT_HAS(why, "timed out");
    EXPECT_LT(spent, std::chrono::seconds(5));
    EXPECT_EQ(service::Notifier::Run("/bin/false", "LU", "kept", "", ""), "exit code 1");
    EXPECT_NE(service::Notifier::Run("", "LU", "kept", "", ""), "");
    EXPECT_HAS(service::Notifier::Run("/no/such/program", "LU", "kept", "", ""),
               "cannot be started");
    WriteFile(dir.file("env.sh"), "[ \"$LU\" = P1 ] && [ \"$EVENT\" = offline ] && "
                                  "[ \"$JOB\" = j ] && [ \"$REASON\" = 'r s' ]\n");
    EXPECT_EQ(service::Notifier::Run("/bin/sh " + dir.file("env.sh"), "P1", "offline", "j", "r s"),
              "");
}

} // namespace
