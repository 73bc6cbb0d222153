// Jobs from the host simulator over loopback through twprinterd to delivered
// files (or standard output), byte for byte, and the replies the host receives.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "testutil.h"

namespace {

using Clock = std::chrono::steady_clock;

// Runs argv in dir with stdout and stderr going to files there.
pid_t Spawn(const std::vector<std::string>& argv, const std::string& dir, const std::string& out,
            const std::string& err) {
    pid_t pid = fork();
    if (pid == 0) {
        int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (o < 0 || e < 0 || chdir(dir.c_str()) != 0) _exit(126);
        dup2(o, 1);
        dup2(e, 2);
        setenv("TWPRINTER_DIR", dir.c_str(), 1);
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    return pid;
}

// Waits up to ms for the process to end; kills it when it has not.
bool Reap(pid_t pid, int ms) {
    auto end = Clock::now() + std::chrono::milliseconds(ms);
    int st = 0;
    while (Clock::now() < end) {
        if (waitpid(pid, &st, WNOHANG) == pid) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &st, 0);
    return false;
}

struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string ini, script;
    std::map<std::string, std::string> files; // delivered file -> content
    std::string stdoutWant = "", stderrHas = "";
};

const char* kHead = "negotiate tn3270e\nbind\n";
const char* kTail = "sleep 300\nclose\n";
const std::string kQueryReply = "88 0017 8181 1F00009E007F00000100B4000100B40F180000 "
                                "0016 8186 0008 00F4F1F1F2F2F3F3F4F4F5F5F6F6F7F7 "
                                "000A 818C 000006000000 FFEF";

TEST(DataStreamEndToEnd, JobsReachTheirFilesAndRepliesTheHost) {
    const Case cases[] = {
        {"lu1 and lu3 jobs ended by PRINT-EOJ and UNBIND",
         {},
         "",
         std::string(kHead) +
             "scs C1C2C315 always\nexpect-response\neoj\n"
             "data3270 F5C3C4C515 always\nexpect-response\n"
             "data3270 F6 always\nexpect 604040C4C5FFEF\n"
             "data3270 F3000501FF02 always\nexpect " +
             kQueryReply + "\nunbind\nbind\nscs C6 always\nexpect-response\neoj\n" + kTail,
         {{"JOB0f.txt", "ABC\r\n"}, {"JOB1f.txt", "DE\r\n"}, {"JOB2f.txt", "F"}}},
        {"btam: EM ends the job in mid-record",
         {"-btam"},
         "",
         std::string(kHead) + "scs C119C215 always\nexpect-response\neoj\n" + kTail,
         {{"JOB0f.txt", "A"}, {"JOB1f.txt", "B\r\n"}}},
        {"FF ends the job",
         {"-FF"},
         "",
         std::string(kHead) + "scs 0CC10CC2 always\nexpect-response\neoj\n" + kTail,
         {{"JOB0f.txt", "A"}, {"JOB1f.txt", "B"}}},
        {"a job is delivered after two lines",
         {},
         "PRINTAFTERNLINES=2\nFILENAME=JOB\n",
         std::string(kHead) + "scs C115C215C315 always\nexpect-response\neoj\n" + kTail,
         {{"JOB0f.txt", "A\r\nB\r\n"}, {"JOB1f.txt", "C\r\n"}}},
        {"fixed file: the second job replaces the first copy",
         {"-D"},
         "FILENAME=OUT.txt\n",
         std::string(kHead) +
             "scs C1 always\nexpect-response\neoj\nscs C2 always\n"
             "expect-response\neoj\n" +
             kTail,
         {{"OUTf.txt", "B"}},
         "",
         "OUTf.txt already exists. Overwrite? Yes"},
        {"standard output holds every job",
         {"-S"},
         "",
         std::string(kHead) +
             "scs C115 always\nexpect-response\neoj\nscs C2 always\n"
             "expect-response\neoj\n" +
             kTail,
         {},
         "A\r\nB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testutil::TempDir dir;
        testutil::WriteFile(dir.file("script"), c.script);
        pid_t host = Spawn(
            {HOSTSIM_PATH, "--port", "0", "--script", dir.file("script"), "--timeout", "5000"},
            dir.path(), dir.file("host.out"), dir.file("host.err"));
        std::string port;
        for (int i = 0; i < 100 && port.empty(); ++i) {
            std::string t = testutil::ReadFile(dir.file("host.out"));
            size_t at = t.find("PORT ");
            if (at != std::string::npos && t.find('\n', at) != std::string::npos)
                port = t.substr(at + 5, t.find('\n', at) - at - 5);
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ASSERT_FALSE(port.empty()) << testutil::ReadFile(dir.file("host.err"));
        testutil::WriteFile(dir.file("twprinter.ini"),
                            "[CONFIGURATION]\nHOSTNAME=127.0.0.1\nSERVERNAME=" + port +
                                "\nLUTYPE=1\n3270E=1\nPRINT2PORT=0\nPRINTTOFILE=1\n"
                                "CONNECTTIMEOUT=5\n" +
                                (c.ini.empty() ? "FILENAME=JOB\n" : c.ini));
        std::vector<std::string> args{TWPRINTERD_PATH};
        args.insert(args.end(), c.args.begin(), c.args.end());
        pid_t daemon = Spawn(args, dir.path(), dir.file("d.out"), dir.file("d.err"));
        EXPECT_TRUE(Reap(host, 15000));
        // Delivery follows the end of the job; give it a moment before stopping.
        for (int i = 0; i < 100; ++i) {
            size_t have = 0;
            for (const auto& [f, want] : c.files)
                have += testutil::ReadFile(dir.file(f)) == want;
            if (have == c.files.size()) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        }
        kill(daemon, SIGTERM);
        EXPECT_TRUE(Reap(daemon, 10000));
        const std::string derr = testutil::ReadFile(dir.file("d.err"));
        EXPECT_NE(testutil::ReadFile(dir.file("host.out")).find("DONE 1 ok"), std::string::npos)
            << testutil::ReadFile(dir.file("host.out")) << derr;
        std::vector<std::string> jobs;
        for (const auto& f : testutil::ListDir(dir.path()))
            if (f.size() > 4 && f.substr(f.size() - 4) == ".txt") jobs.push_back(f);
        std::vector<std::string> wantNames;
        for (const auto& [f, want] : c.files) {
            wantNames.push_back(f);
            EXPECT_EQ(testutil::Hex(testutil::ReadFile(dir.file(f))), testutil::Hex(want))
                << f << "\n"
                << derr;
        }
        EXPECT_EQ(jobs, wantNames) << derr;
        EXPECT_EQ(testutil::Hex(testutil::ReadFile(dir.file("d.out"))),
                  testutil::Hex(c.stdoutWant));
        EXPECT_NE(derr.find(c.stderrHas), std::string::npos) << derr;
    }
}

} // namespace
