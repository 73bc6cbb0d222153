// What twprinterd's log says, run against the host simulator: each thing once.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <memory>
#include <string>

#include "testutil.h"

using testutil::Proc;

namespace {

size_t Count(const std::string& text, const std::string& piece) {
    size_t n = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
        ++n;
    return n;
}

// A host that sends one job "HELLO" and closes. What the client sent must read as
// valid to an independent dissector.
struct OneJobHost {
    testutil::TempDir captures;
    std::unique_ptr<Proc> proc;
    std::string port;
    explicit OneJobHost(testutil::TempDir& dir) {
        testutil::WriteFile(dir.file("script"),
                            "negotiate tn3270e PRT01\nbind\nscs \"HELLO\" always\n"
                            "expect-response\neoj\nsleep 300\nclose\n");
        proc = std::make_unique<Proc>(
            std::vector<std::string>{HOSTSIM_PATH, "--port", "0", "--script", dir.file("script"),
                                     "--timeout", "5000", "--pcap", captures.path()});
        EXPECT_TRUE(proc->WaitFor("LISTENING", 5000)) << proc->text();
        size_t at = proc->text().find("PORT ") + 5;
        port = proc->text().substr(at, proc->text().find('\n', at) - at);
    }
    ~OneJobHost() {
        proc->Stop(SIGTERM);
        EXPECT_EQ(testutil::DissectorFlags(captures.path(), std::atoi(port.c_str())), "");
    }
};

} // namespace

TEST(DaemonLog, FailuresStandardOutputAndTheEndAreSaidOnce) {
    testutil::TempDir dir;
    const std::vector<std::string> env{"TWPRINTER_DIR=" + dir.path()};
    {
        // A printer nobody listens on: one line with job, medium, reason and kept path.
        OneJobHost host(dir);
        const std::string port = host.port;
        const std::string printer = "127.0.0.1:" + std::to_string(testutil::FreePort());
        testutil::WriteFile(dir.file("twprinter.ini"),
                            "[CONFIGURATION]\nHOSTNAME=127.0.0.1\nSERVERNAME=" + port +
                                "\n3270E=1\nUSESOCKET=1\nSOCKETPORT=" + printer +
                                "\nFILENAME=JOB\nCONNECTTIMEOUT=0\n");
        Proc d({TWPRINTERD_PATH}, dir.path(), env);
        ASSERT_TRUE(d.WaitFor("; kept as " + dir.file("failed/"))) << d.text();
        EXPECT_EQ(d.Stop(SIGTERM), 0);
        EXPECT_NE(d.text().find("twprinterd: Job " + dir.file("JOB0.txt") +
                                " failed on network printer " + printer +
                                ": Error writing to socket: Connection refused; kept as " +
                                dir.file("failed/")),
                  std::string::npos)
            << d.text();
        EXPECT_EQ(Count(d.text(), "Connection refused"), 1u) << d.text();
        EXPECT_EQ(Count(d.text(), "kept as"), 1u) << d.text();
        EXPECT_EQ(d.text().find(".;"), std::string::npos) << d.text();
    }
    {
        // -S: the job is on standard output, and no copy of it is asked about.
        OneJobHost host(dir);
        const std::string port = host.port;
        testutil::WriteFile(dir.file("twprinter.ini"),
                            "[CONFIGURATION]\nHOSTNAME=127.0.0.1\nSERVERNAME=" + port +
                                "\n3270E=1\nPRINTTOFILE=1\nKEEPFAILED=0\nFILENAME=OUT\n"
                                "CONNECTTIMEOUT=0\n");
        Proc d({TWPRINTERD_PATH, "-S"}, dir.path(), env);
        ASSERT_TRUE(d.WaitFor("Job stdout delivered to standard output\n")) << d.text();
        EXPECT_EQ(d.Stop(SIGTERM), 0);
        EXPECT_NE(d.text().find("HELLO"), std::string::npos) << d.text();
        EXPECT_EQ(d.text().find("Overwrite"), std::string::npos) << d.text();
        EXPECT_EQ(d.text().find("stdout delivered to file"), std::string::npos) << d.text();
        for (const std::string& name : testutil::ListDir(dir.path()))
            EXPECT_EQ(name.rfind("stdout", 0), std::string::npos) << name;
        // The job the first run kept went out at this start, its copy beside the print
        // files and not in failed/, where it would be taken for one more kept job.
        EXPECT_NE(d.text().find("Job " + dir.file("JOB0.txt") + " delivered to file " +
                                dir.file("JOB0f.txt") + "; it had been kept as " +
                                dir.file("failed/")),
                  std::string::npos)
            << d.text();
        EXPECT_TRUE(testutil::ListDir(dir.file("failed")).empty()) << d.text();
        EXPECT_NE(testutil::ReadFile(dir.file("JOB0f.txt")).find("HELLO"), std::string::npos);
    }
    {
        // A PDF is titled by its LU and job number, not by the spool path.
        OneJobHost host(dir);
        const std::string port = host.port;
        testutil::WriteFile(dir.file("twprinter.ini"),
                            "[CONFIGURATION]\nHOSTNAME=127.0.0.1\nSERVERNAME=" + port +
                                "\n3270E=1\nPRINTTOFILE=1\nFILEFORMAT=pdf\nFILENAME=PDF\n"
                                "CONNECTTIMEOUT=0\n");
        Proc d({TWPRINTERD_PATH}, dir.path(), env);
        ASSERT_TRUE(d.WaitFor("delivered to file " + dir.file("PDF0f.pdf"))) << d.text();
        EXPECT_EQ(d.Stop(SIGTERM), 0);
        const std::string info = testutil::Run({"/usr/bin/pdfinfo", dir.file("PDF0f.pdf")});
        EXPECT_NE(info.find("Title:           PRT01 job 0\n"), std::string::npos) << info;
    }
    {
        // A run that ends for want of a host says offline once, at its end.
        testutil::WriteFile(dir.file("twprinter.ini"),
                            "[CONFIGURATION]\nHOSTNAME=127.0.0.1\nSERVERNAME=" +
                                std::to_string(testutil::FreePort()) +
                                "\n3270E=1\nPRINTTOFILE=1\nFILENAME=JOB\nCONNECTTIMEOUT=1\n"
                                "RETRYINTERVAL=1\n");
        Proc d({TWPRINTERD_PATH}, dir.path(), env);
        EXPECT_EQ(d.Wait(15000), 65) << d.text();
        EXPECT_EQ(Count(d.text(), "is offline."), 1u) << d.text();
        const std::string last = "Tarnwick printer client is offline.\n";
        EXPECT_EQ(d.text().rfind(last), d.text().size() - last.size()) << d.text();
    }
}
