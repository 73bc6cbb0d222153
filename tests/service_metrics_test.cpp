// The metrics of a board whose LUs come and go between scrapes: each LU's count
// of jobs waiting in its failed folder stays its own, and a new session's LU is
// counted afresh.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "service/metrics.h"
#include "session/lu_board.h"
#include "testutil.h"

namespace {

long Waiting(const std::string& text, const std::string& lu) {
    const std::string series = "\ntwprinter_jobs_waiting{lu=\"" + lu + "\"} ";
    const size_t at = text.find(series);
    return at == std::string::npos ? -1 : std::atol(text.c_str() + at + series.size());
}

TEST(Metrics, FolderCountsFollowTheirLuWhenTheBoardChanges) {
    testutil::TempDir dir;
    session::LuBoard board;
    auto entry = [&](const std::string& name, int kept) {
        session::LuEntry e;
        e.name = name;
        e.failedDir = dir.file(name);
        ::mkdir(e.failedDir.c_str(), 0700);
        for (int k = 0; k < kept; ++k)
            testutil::WriteFile(e.failedDir + "/JOB" + std::to_string(k) + ".txt", "x");
        e.counters = std::make_shared<session::LuCounters>();
        return e;
    };
    session::LuEntry a = entry("A", 2), c = entry("C", 0);
    board.Set(a);
    board.Set(c);
    service::MetricsWriter writer(board);
    std::string text = writer.Render(0);
    EXPECT_EQ(Waiting(text, "A"), 2);
    EXPECT_EQ(Waiting(text, "C"), 0);

    // An LU comes between the two: every count is still its own LU's.
    session::LuEntry b = entry("B", 1);
    board.Set(b);
    text = writer.Render(100);
    EXPECT_EQ(Waiting(text, "A"), 2) << text;
    EXPECT_EQ(Waiting(text, "B"), 1) << text;
    EXPECT_EQ(Waiting(text, "C"), 0) << text;

    // C's session starts again after a job was kept in its folder: counted again at once.
    testutil::WriteFile(c.failedDir + "/JOB9.txt", "x");
    c.counters = std::make_shared<session::LuCounters>();
    board.Set(c);
    text = writer.Render(200);
    EXPECT_EQ(Waiting(text, "C"), 1) << text;
    // The first goes: the others keep theirs.
    board.Remove("A");
    text = writer.Render(300);
    EXPECT_EQ(Waiting(text, "A"), -1) << text;
    EXPECT_EQ(Waiting(text, "B"), 1) << text;
    EXPECT_EQ(Waiting(text, "C"), 1) << text;
    // The same session given another folder with jobs in it: that one is counted.
    b.failedDir = entry("B2", 3).failedDir;
    board.Set(b);
    text = writer.Render(400);
    EXPECT_EQ(Waiting(text, "B"), 3) << text;
}

} // namespace
