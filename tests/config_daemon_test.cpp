// twprinterd's handling of its settings file: what each command line leaves in
// the file (its bytes before and after), the lines it prints and its exit code.
#include "testutil.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <sstream>

namespace {

struct Row {
    const char* title;
    std::string ini;  // the file before; "" none
    std::string args; // split at blanks
    int rc;
    std::string lines; // each, '|' between, appears in the output
    std::string after; // the lines added to the file; "=" unchanged, "" no file
};

} // namespace

TEST(DaemonSettings, EachCommandLineWritesOnlyWhatPassed) {
    const int closed = testutil::FreePort();
    const std::string port = std::to_string(closed);
    const std::string base = "[CONFIGURATION]\nHOSTNAME=127.0.0.1\nSERVERNAME=" + port + "\n";
    const std::vector<Row> rows = {
        {"--check is a dry run, not even the default file", "", "--check -l 2", 1,
         "setting LUTYPE=2: expected 1 or 3|check failed", ""},
        {"--check with an unresolvable host writes nothing", base,
         "--check -h no-such-host.invalid -s 1", 1, "host no-such-host.invalid cannot be resolved",
         "="},
        {"a rejected LU type is not saved", base, "-l 2", 52, "LUTYPE=2: expected 1 or 3", "="},
        {"a print file folder that is missing is not saved", base, "-f /nonexistent/JOB", 97,
         "FILENAME=/nonexistent/JOB: expected a print file prefix", "="},
        {"a word option with one dash is unknown", base, "-check", 2,
         "unknown option -check|usage:", "="},
        {"connect and associate name together: one line", base, "-C PRT01 -A TERM01 -E", 10,
         "-C PRT01 and -A TERM01", "="},
        {"the conflict under --check too", base, "--check -C PRT01 -A TERM01", 10,
         "-C PRT01 and -A TERM01", "="},
        {"an unknown key fails --check with a hint", base + "HOSTNAM=x\nPRINTTOFLE=1\n", "--check",
         1,
         "unknown key HOSTNAM (did you mean HOSTNAME?)|"
         "unknown key PRINTTOFLE (did you mean PRINTTOFILE?)",
         "="},
        {"bad values in one format; a fallback fails --check",
         base + "PAPER=a7\nORIENTATION=sideways\nBACKGROUND=bluebar\nPAGELAYOUT=modern\n"
                "3270E=true\nCPI=11\n",
         "--check", 1,
         "PAPER=a7: expected letter, legal|ORIENTATION=sideways: expected auto|"
         "BACKGROUND=bluebar: expected greenbar|PAGELAYOUT=modern: expected classic|"
         "3270E=true: expected 0 or 1|CPI=11: expected auto, 10, 12",
         "="},
        {"a key twice names both lines", base + "LUTYPE=1\nLUTYPE=7\n", "--check", 1,
         "LUTYPE twice in [CONFIGURATION], lines 4 and 5; line 4 is used", "="},
        {"an accepted option is saved once the check passed", base,
         "-h 127.0.0.1 -s " + port + " -l 1", 65, "Unable to connect", "LUTYPE=1\n"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.title);
        testutil::TempDir dir;
        const std::string ini = dir.file("twprinter.ini");
        if (!r.ini.empty()) testutil::WriteFile(ini, r.ini + "CONNECTTIMEOUT=1\n");
        const std::string before = r.ini.empty() ? "" : testutil::ReadFile(ini);
        std::vector<std::string> argv = {TWPRINTERD_PATH};
        std::istringstream args(r.args);
        for (std::string a; args >> a;)
            argv.push_back(a);
        testutil::Proc p(argv, dir.path(), {"TWPRINTER_DIR=" + dir.path()});
        const int rc = p.Wait(20000);
        EXPECT_EQ(rc, r.rc) << p.text();
        std::istringstream lines(r.lines);
        for (std::string line; std::getline(lines, line, '|');)
            EXPECT_HAS(p.text(), line);
        struct stat st;
        if (r.after.empty()) {
            EXPECT_NE(::stat(ini.c_str(), &st), 0) << "the file was written";
        } else if (r.after == "=") {
            EXPECT_EQ(testutil::ReadFile(ini), before);
        } else {
            EXPECT_EQ(testutil::ReadFile(ini), before + r.after);
        }
    }
}

TEST(DaemonSettings, PoolCheckGivesOneBlockPerFile) {
    testutil::TempDir dir;
    const std::string port = std::to_string(testutil::FreePort());
    testutil::WriteFile(dir.file("a.ini"),
                        "[CONFIGURATION]\nHOSTNAME=127.0.0.1\nSERVERNAME=" + port + "\nCPI=11\n");
    testutil::WriteFile(dir.file("b.ini"), "[CONFIGURATION]\nHOSTNAME=127.0.0.1\n");
    testutil::Proc p({TWPRINTERD_PATH, "--pool", dir.path(), "--check"}, dir.path());
    EXPECT_EQ(p.Wait(20000), 1) << p.text();
    const std::string& t = p.text();
    const size_t a = t.find(dir.file("a.ini") + ":"), b = t.find(dir.file("b.ini") + ":");
    ASSERT_NE(a, std::string::npos) << t;
    ASSERT_NE(b, std::string::npos) << t;
    const size_t cpi = t.find("CPI=11: expected");
    EXPECT_TRUE(cpi > a && cpi < b) << t;
    // The spool folders are made at the LU's start, not by the check.
    EXPECT_LACKS(t, "FILENAME=");
    EXPECT_EQ(testutil::ListDir(dir.path()).size(), 2u);
}
