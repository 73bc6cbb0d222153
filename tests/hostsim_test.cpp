// The host simulator as a new user meets it: its usage, and the samples played as
// they stand through twprinterd.
#include <gtest/gtest.h>

#include <unistd.h>

#include <csignal>
#include <string>

#include "testutil.h"

using testutil::Proc;

TEST(Hostsim, UsageAndSamplesPlayAsTheyStand) {
    {
        Proc help({HOSTSIM_PATH, "--help"});
        EXPECT_EQ(help.Wait(5000), 0);
        // Every option and every script command is in the text.
        for (const char* word : {"--script",
                                 "--port",
                                 "--transcript",
                                 "--clients",
                                 "--concurrent",
                                 "--listen-after",
                                 "--timeout",
                                 "--load",
                                 "--size",
                                 "--lu",
                                 "--tls-cert",
                                 "--tls-key",
                                 "--tls-client-ca",
                                 "--tls-max",
                                 "--starttls",
                                 "negotiate tn3270e",
                                 "reject",
                                 "bind",
                                 "unbind",
                                 "eoj",
                                 "scs <data>",
                                 "data3270",
                                 "msg",
                                 "ext-on",
                                 "ext <hex>",
                                 "starttls-bad",
                                 "raw",
                                 "seq",
                                 "expect-response",
                                 "negative-ok",
                                 "expect <hex>",
                                 "quiet",
                                 "wait-bytes",
                                 "sleep",
                                 "print",
                                 "close | reset | hold",
                                 "@FILE"})
            EXPECT_NE(help.text().find(word), std::string::npos) << word;
        Proc shortHelp({HOSTSIM_PATH, "-h"});
        EXPECT_EQ(shortHelp.Wait(5000), 0);
        EXPECT_EQ(shortHelp.text(), help.text());
    }
    // No arguments, no script, an option without its value, an unknown option: usage, exit 2.
    for (const std::vector<std::string>& args : {std::vector<std::string>{HOSTSIM_PATH},
                                                 {HOSTSIM_PATH, "--port", "0"},
                                                 {HOSTSIM_PATH, "--script"},
                                                 {HOSTSIM_PATH, "--bogus"}}) {
        Proc p(args);
        EXPECT_EQ(p.Wait(5000), 2) << args.back() << ": " << p.text();
        EXPECT_NE(p.text().find("Usage: hostsim --script FILE"), std::string::npos) << p.text();
        EXPECT_EQ(p.text().find("PORT"), std::string::npos) << p.text();
    }

    // The sample script names its hex file beside it; the hex text is played as bytes,
    // and a raw file still plays byte for byte.
    testutil::TempDir dir;
    testutil::WriteFile(dir.file("raw.bin"), "\xC8\xC9\x15"); // "HI" NL in EBCDIC
    testutil::WriteFile(dir.file("two.script"),
                        "negotiate tn3270e PRT01\nbind\nscs @" SAMPLES_DIR
                        "/report.scs.hex always\nexpect-response\neoj\nscs @raw.bin always\n"
                        "expect-response\neoj\nsleep 300\nclose\n");
    for (const std::string& script :
         {std::string(SAMPLES_DIR "/report.script"), dir.file("two.script")}) {
        Proc host({HOSTSIM_PATH, "--port", "0", "--script", script, "--timeout", "5000"},
                  dir.path());
        ASSERT_TRUE(host.WaitFor("LISTENING", 5000)) << host.text();
        size_t at = host.text().find("PORT ") + 5;
        testutil::WriteFile(dir.file("twprinter.ini"),
                            "[CONFIGURATION]\nHOSTNAME=127.0.0.1\nSERVERNAME=" +
                                host.text().substr(at, host.text().find('\n', at) - at) +
                                "\n3270E=1\nPRINTTOFILE=1\nFILENAME=JOB\nCONNECTTIMEOUT=0\n");
        Proc daemon({TWPRINTERD_PATH}, dir.path(), {"TWPRINTER_DIR=" + dir.path()});
        bool two = script == dir.file("two.script");
        std::vector<std::string> jobs =
            testutil::DeliveredJobs(dir.file("JOB"), two ? 2 : 1, 10000);
        ASSERT_EQ(jobs.size(), two ? 2u : 1u) << daemon.text() << host.text();
        if (script == dir.file("form.script")) {
            // A small form, not a page of fill characters.
            EXPECT_EQ(jobs[0].find("ORDER FORM"), 0u) << jobs[0];
            EXPECT_NE(jobs[0].find("CUSTOMER: ACME TOOLS LTD"), std::string::npos) << jobs[0];
            EXPECT_NE(jobs[0].find("SIGNED:   __________"), std::string::npos) << jobs[0];
            EXPECT_LT(jobs[0].size(), 200u) << jobs[0];
        } else {
            EXPECT_EQ(jobs[0].find("MONTHLY REPORT"), 0u) << jobs[0];
            EXPECT_NE(jobs[0].find("LINE 30 OF THE DETAIL SECTION"), std::string::npos);
        }
        if (two) {
            EXPECT_EQ(jobs[1].substr(0, 2), "HI");
        }
        EXPECT_EQ(host.Wait(10000), 0) << host.text();
        EXPECT_EQ(daemon.Stop(SIGTERM), 0) << daemon.text();
        for (const std::string& name : testutil::ListDir(dir.path()))
            if (name.rfind("JOB", 0) == 0) {
                ::unlink(dir.file(name).c_str());
            }
    }
}
