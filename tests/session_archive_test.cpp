// The print archive through twprinterd against the host simulator: jobs
// archived as they are delivered, found, shown, printed again, expired, the
// index rebuilt, and printing that goes on while the archive cannot be written.
#include <gtest/gtest.h>
#include <unistd.h>

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "testutil.h"

using testutil::Count;
using testutil::Proc;

namespace {

struct Daemon {
    testutil::TempDir dir;
    std::unique_ptr<Proc> host, daemon;

    // script: the host's; ini: keys before the base ones.
    Daemon(const std::string& script, const std::string& ini) {
        testutil::Host sim(dir, "host", script, {"--timeout", "5000"});
        host = std::move(sim.proc);
        testutil::WriteFile(dir.file("twprinter.ini"), testutil::LuIni(sim.port, ini));
        Start({});
    }
    void Start(const std::vector<std::string>& env) {
        std::vector<std::string> all{"TWPRINTER_DIR=" + dir.path()};
        all.insert(all.end(), env.begin(), env.end());
        daemon = std::make_unique<Proc>(std::vector<std::string>{TWPRINTERD_PATH}, dir.path(), all);
    }
    // twprinterd --archive WORDS: its exit code, its output in out.
    int Archive(const std::vector<std::string>& words, std::string& out,
                const std::vector<std::string>& env = {}) {
        std::vector<std::string> argv{TWPRINTERD_PATH, "--archive"};
        argv.insert(argv.end(), words.begin(), words.end());
        std::vector<std::string> all{"TWPRINTER_DIR=" + dir.path()};
        all.insert(all.end(), env.begin(), env.end());
        Proc p(argv, dir.path(), all);
        const int rc = p.Wait(20000);
        out = p.text();
        return rc;
    }
    long Archived(const std::string& folder = "archive") {
        return testutil::ArchivedJobs(dir.file(folder));
    }
};

std::string Today(int offsetDays = 0) {
    time_t t = time(nullptr) + offsetDays * 86400L;
    tm local{};
    localtime_r(&t, &local);
    char out[16];
    std::strftime(out, sizeof out, "%Y-%m-%d", &local);
    return out;
}

} // namespace

TEST(Archive, JobsAreArchivedFoundShownReprintedRebuiltAndExpired) {
    // The first job ends in printer controls (TRN "QUUX"): kept, but no text of it.
    Daemon d("negotiate tn3270e PRT9\nbind\nscs C6C9D9E2E340D9C5D7D6D9E3350451555558 always\n"
             "expect-response\neoj\n"
             "scs \"LINE ONE\\nMIDDLE WORD KUMQUAT HERE\\nLAST LINE\" always\nexpect-response\n"
             "eoj\nscs \"THIRD REPORT\" always\nexpect-response\neoj\nhold\n",
             "ARCHIVEDAYS=2\n");
    ASSERT_EQ(testutil::DeliveredJobs(d.dir.file("JOB"), 3, 10000).size(), 3u) << d.daemon->text();
    testutil::Until([&] { return d.Archived() >= 3; }, 5000);
    ASSERT_EQ(d.Archived(), 3) << d.daemon->text();
    EXPECT_EQ(d.daemon->Stop(SIGTERM), 0) << d.daemon->text();
    EXPECT_EQ(Count(d.daemon->text(), "archive"), 0u) << d.daemon->text();

    // A word from the middle of the middle job finds it alone, with its line and metadata.
    std::string out;
    ASSERT_EQ(d.Archive({"find", "kumquat"}, out), 0) << out;
    EXPECT_EQ(Count(out, "\n"), 2u) << out;
    const std::string id = out.substr(0, out.find(' '));
    EXPECT_HAS(out, "  " + Today() + " ");
    EXPECT_HAS(out, "  LU PRT9  " + d.dir.file("JOB1.txt") + "  1 page  delivered to file " +
                        d.dir.file("JOB1f.txt") + "\n    MIDDLE WORD KUMQUAT HERE\n");
    // Two words must both be there; a word of another job, or a quote, finds nothing.
    EXPECT_EQ(d.Archive({"find", "kumquat", "third"}, out), 1) << out;
    EXPECT_EQ(out, "");
    EXPECT_EQ(d.Archive({"find", "\"kum*", "OR"}, out), 1) << out;
    // Newest first; the LU and the dates narrow it.
    ASSERT_EQ(d.Archive({"find", "report"}, out), 0) << out;
    EXPECT_LT(out.find("THIRD REPORT"), out.find("FIRST REPORT")) << out;
    EXPECT_EQ(d.Archive({"find", "report", "--lu", "prt9", "--since", Today()}, out), 0) << out;
    EXPECT_EQ(Count(out, "REPORT\n"), 2u) << out;
    EXPECT_EQ(d.Archive({"find", "quux"}, out), 1) << out;
    EXPECT_EQ(d.Archive({"find", "report", "--lu", "PRT1"}, out), 1) << out;
    EXPECT_EQ(d.Archive({"find", "report", "--until", Today(-1)}, out), 1) << out;
    EXPECT_EQ(d.Archive({"find", "report", "--since", Today(1)}, out), 1) << out;
    EXPECT_EQ(d.Archive({"find", "report", "--since", "yesterday"}, out), 2) << out;
    EXPECT_HAS(out, "--since yesterday is no date");

    // The text, and a reprint byte for byte what the first delivery wrote.
    ASSERT_EQ(d.Archive({"show", id}, out), 0) << out;
    EXPECT_EQ(out, "LINE ONE\nMIDDLE WORD KUMQUAT HERE\nLAST LINE");
    ASSERT_EQ(d.Archive({"reprint", id, "--file", d.dir.file("again.txt")}, out), 0) << out;
    EXPECT_EQ(testutil::ReadFile(d.dir.file("again.txt")),
              testutil::ReadFile(d.dir.file("JOB1f.txt")));
    EXPECT_HAS(out, "delivered to file " + d.dir.file("again.txt"));
    EXPECT_EQ(d.Archive({"show", "12345"}, out), 1) << out;
    // A job copied as text was never drawn: no PDF, and that said.
    EXPECT_EQ(d.Archive({"show", id, "--pdf"}, out), 1) << out;
    EXPECT_HAS(out, "was not drawn");
    EXPECT_EQ(d.Archive({"show", id, "--file", d.dir.file("x.pdf")}, out), 2) << out;
    EXPECT_EQ(d.Archive({"reprint", id, "--tray", "2"}, out), 2) << out;

    // The index deleted, then damaged: made again from the files, every job found.
    ASSERT_EQ(::unlink(d.dir.file("archive/index.db").c_str()), 0);
    ASSERT_EQ(d.Archive({"find", "report"}, out), 0) << out;
    EXPECT_HAS(out, "was made from 3 archived jobs");
    EXPECT_EQ(Count(out, "REPORT\n"), 2u) << out;
    testutil::WriteFile(d.dir.file("archive/index.db"), std::string(8192, 'x'));
    ASSERT_EQ(d.Archive({"find", "kumquat"}, out), 0) << out;
    EXPECT_HAS(out, "was damaged");
    EXPECT_HAS(out, id + "  ");
    EXPECT_EQ(testutil::ReadFile(d.dir.file("archive/index.db.damaged")), std::string(8192, 'x'));

    // Three days later a start removes the jobs of two days, in one line.
    d.Start({"TWPRINTER_ARCHIVE_NOW=" + std::to_string(time(nullptr) + 3 * 86400L)});
    EXPECT_SAYS(*d.daemon, "3 jobs older than 2 days removed.");
    EXPECT_EQ(d.daemon->Stop(SIGTERM), 0) << d.daemon->text();
    EXPECT_EQ(Count(d.daemon->text(), "removed"), 1u) << d.daemon->text();
    EXPECT_EQ(d.Archived(), 0);
    for (const std::string& f : testutil::ListDir(d.dir.file("archive")))
        EXPECT_LACKS(f, ".tws");
    EXPECT_EQ(d.Archive({"find", "report"}, out), 1) << out;
}

TEST(Archive, PrintingGoesOnWhileTheArchiveFolderCannotBeWritten) {
    Daemon d("negotiate tn3270e PRT9\nbind\nscs \"BEFORE\" always\nexpect-response\neoj\n"
             "sleep 1500\nscs \"DURING\" always\nexpect-response\neoj\nsleep 1500\n"
             "scs \"DURING TOO\" always\nexpect-response\neoj\nsleep 1500\n"
             "scs \"AFTER\" always\nexpect-response\neoj\nhold\n",
             "ARCHIVEDAYS=1\nARCHIVEDIR=" + std::string("store\n"));
    ASSERT_EQ(testutil::DeliveredJobs(d.dir.file("JOB"), 1, 10000).size(), 1u);
    testutil::Until([&] { return d.Archived("store") >= 1; }, 2000);
    ASSERT_EQ(d.Archived("store"), 1) << d.daemon->text();
    // A file where the folder was: nothing can be made there, root or not.
    ASSERT_EQ(::rename(d.dir.file("store").c_str(), d.dir.file("away").c_str()), 0);
    testutil::WriteFile(d.dir.file("store"), "");
    EXPECT_EQ(testutil::DeliveredJobs(d.dir.file("JOB"), 3, 10000),
              (std::vector<std::string>{"BEFORE", "DURING", "DURING TOO"}))
        << d.daemon->text();
    EXPECT_SAYS(*d.daemon, "cannot be written");
    ASSERT_EQ(::unlink(d.dir.file("store").c_str()), 0);
    ASSERT_EQ(::rename(d.dir.file("away").c_str(), d.dir.file("store").c_str()), 0);
    EXPECT_EQ(testutil::DeliveredJobs(d.dir.file("JOB"), 4, 10000).size(), 4u);
    EXPECT_SAYS(*d.daemon, "The archive folder " + d.dir.file("store") + " is written again.");
    EXPECT_EQ(d.daemon->Stop(SIGTERM), 0) << d.daemon->text();
    EXPECT_EQ(Count(d.daemon->text(), "cannot be written"), 1u) << d.daemon->text();
    EXPECT_EQ(Count(d.daemon->text(), " delivered to file "), 4u) << d.daemon->text();
    std::string out;
    EXPECT_EQ(d.Archive({"find", "after"}, out), 0) << out;
    EXPECT_EQ(d.Archive({"find", "before"}, out), 0) << out;
    EXPECT_EQ(d.Archive({"find", "during"}, out), 1) << out;
    EXPECT_EQ(d.Archived("store"), 2);
}

TEST(Archive, ADrawnJobKeepsItsPdf) {
    Daemon d("negotiate tn3270e PRT9\nbind\nscs \"DRAWN PAGE\" always\nexpect-response\neoj\n"
             "hold\n",
             "ARCHIVEDAYS=1\nFILEFORMAT=pdf\n");
    testutil::Until([&] { return d.Archived() >= 1; }, 10000);
    ASSERT_EQ(d.Archived(), 1) << d.daemon->text();
    EXPECT_EQ(d.daemon->Stop(SIGTERM), 0) << d.daemon->text();
    const std::string delivered = testutil::ReadFile(d.dir.file("JOB0f.pdf"));
    ASSERT_EQ(delivered.compare(0, 5, "%PDF-"), 0) << d.daemon->text();
    std::string out;
    ASSERT_EQ(d.Archive({"find", "drawn"}, out), 0) << out;
    const std::string id = out.substr(0, out.find(' '));
    // The PDF as it was delivered, to a file and to standard output; the text still there.
    ASSERT_EQ(d.Archive({"show", id, "--pdf", "--file", d.dir.file("again.pdf")}, out), 0) << out;
    EXPECT_EQ(testutil::ReadFile(d.dir.file("again.pdf")), delivered);
    ASSERT_EQ(d.Archive({"show", id, "--pdf"}, out), 0);
    EXPECT_EQ(out, delivered);
    ASSERT_EQ(d.Archive({"show", id}, out), 0) << out;
    EXPECT_EQ(out, "DRAWN PAGE");
    EXPECT_EQ(d.Archive({"show", id, "--pdf", "--file", d.dir.file("no/such/x.pdf")}, out), 1);
    EXPECT_HAS(out, "unable to write " + d.dir.file("no/such/x.pdf"));
}
