// The archive on real files and a real SQLite index: a locked index that
// catches up once free, the size limit, a damaged job file left out of a
// rebuild, a folder made again under a writer, a reader that makes nothing.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "testutil.h"

namespace {

archive::Job Entry(const std::string& text, long long delivered = archive::Now()) {
    archive::Job job;
    job.lu = "PRT1";
    job.name = "/spool/JOB1.txt";
    job.number = 1;
    job.received = delivered;
    job.delivered = delivered;
    job.pages = 1;
    job.medium = "file";
    job.destination = "file /spool/JOB1f.txt";
    job.outcome = "delivered";
    job.text = text;
    job.raw = text;
    job.bytes = static_cast<long long>(text.size());
    return job;
}

std::vector<archive::Hit> Find(archive::Archive& a, const std::string& word) {
    archive::Query q;
    q.words = {word};
    std::vector<archive::Hit> hits;
    std::string why;
    EXPECT_TRUE(a.Find(q, hits, why)) << why;
    return hits;
}

size_t Count(const std::vector<std::string>& lines, const std::string& needle) {
    size_t n = 0;
    for (const std::string& l : lines)
        n += l.find(needle) != std::string::npos;
    return n;
}

} // namespace

TEST(ArchiveStore, LockedIndexCatchesUpSizeLimitAndDamagedFiles) {
    testutil::TempDir dir;
    const std::string folder = dir.file("a/b");
    std::vector<std::string> notes;
    auto note = [&](const std::string& line) { notes.push_back(line); };
    {
        archive::Archive a(folder, 30, 0, note);
        ASSERT_TRUE(a.Open());
        ASSERT_TRUE(a.Add(Entry("ONE apple\nsecond LINE of one")));
        // Another writer holds the index: jobs are kept on disk, the fault said once.
        sqlite3* other = nullptr;
        ASSERT_EQ(sqlite3_open((folder + "/index.db").c_str(), &other), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
        EXPECT_FALSE(a.Add(Entry("TWO apple")));
        EXPECT_FALSE(a.Add(Entry("THREE apple")));
        EXPECT_EQ(Count(notes, "cannot be written"), 1u);
        sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(other);
        ASSERT_TRUE(a.Add(Entry("FOUR apple")));
        EXPECT_EQ(Count(notes, "is written again"), 1u);
        std::vector<archive::Hit> hits = Find(a, "apple");
        ASSERT_EQ(hits.size(), 4u);
        EXPECT_EQ(hits[3].context, "ONE apple");
        EXPECT_EQ(Find(a, "second")[0].context, "second LINE of one");
        archive::Job back;
        std::string why;
        ASSERT_TRUE(a.Get(hits[1].job.id, back, why)) << why;
        EXPECT_EQ(back.text, "THREE apple");
        EXPECT_EQ(back.destination, "file /spool/JOB1f.txt");
    }

    // Past the size limit the oldest go, in one line; the newest stays.
    const std::string big = dir.file("big");
    notes.clear();
    {
        archive::Archive a(big, 0, 1, note);
        ASSERT_TRUE(a.Open());
        std::mt19937 random(7);
        for (int i = 0; i < 3; ++i) {
            archive::Job job = Entry("PART" + std::to_string(i) + " pear");
            job.raw.resize(700 * 1024);
            for (char& c : job.raw)
                c = static_cast<char>(random());
            ASSERT_TRUE(a.Add(job));
        }
        a.Prune();
        ASSERT_EQ(Count(notes, "2 oldest jobs removed to keep it under 1 MB"), 1u)
            << (notes.empty() ? "" : notes.back());
        std::vector<archive::Hit> hits = Find(a, "pear");
        ASSERT_EQ(hits.size(), 1u);
        EXPECT_EQ(hits[0].context, "PART2 pear");
        size_t files = 0;
        for (const std::string& f : testutil::ListDir(big))
            files += f.find(".twa") != std::string::npos;
        EXPECT_EQ(files, 1u);
        a.Prune();
        EXPECT_EQ(Count(notes, "removed"), 1u);
    }

    // A rebuild takes every good file and names the damaged one.
    testutil::WriteFile(folder + "/123.twa", "TWA1 not compressed");
    testutil::WriteFile(folder + "/notes.txt", "not a job");
    ASSERT_EQ(::unlink((folder + "/index.db").c_str()), 0);
    notes.clear();
    archive::Archive again(folder, 30, 0, note);
    ASSERT_TRUE(again.Open());
    EXPECT_EQ(Find(again, "apple").size(), 4u);
    EXPECT_EQ(Count(notes, folder + "/123.twa is damaged; it is left out of the index."), 1u);
    EXPECT_EQ(Count(notes, "was made from 4 archived jobs"), 1u);

    // The folder removed under a running archive is made again for the next job, no
    // fault said. A reader makes no index where there is none, and sees the one a
    // writer made since.
    ASSERT_TRUE(again.Add(Entry("FOUR and a half")));
    notes.clear();
    ASSERT_EQ(std::system(("rm -rf '" + folder + "'").c_str()), 0);
    ASSERT_TRUE(again.Add(Entry("FIVE plum")));
    EXPECT_TRUE(notes.empty()) << notes.front();
    archive::Archive reader(folder, 30, 0, note);
    reader.ReadOnly();
    EXPECT_TRUE(Find(reader, "plum").empty());
    EXPECT_NE(::access((folder + "/index.db").c_str(), F_OK), 0);
    archive::Archive writer(folder, 30, 0, note);
    ASSERT_TRUE(writer.Open());
    ASSERT_EQ(Find(reader, "plum").size(), 1u);
    EXPECT_EQ(Find(reader, "plum")[0].context, "FIVE plum");
}

TEST(ArchiveStore, WordsOfSeveralPartsMatchOnlyWhereTheyStandTogether) {
    testutil::TempDir dir;
    archive::Archive a(dir.file("a"), 30, 0, [](const std::string&) {});
    ASSERT_TRUE(a.Open());
    const long long t = archive::Now();
    ASSERT_TRUE(a.Add(Entry("INVOICE\nACME and CORP apart\nbilled to ACME-CORP", t - 50)));
    ASSERT_TRUE(a.Add(Entry("ACME alone\nCORP on its own line", t - 40)));
    ASSERT_TRUE(a.Add(Entry("XACME-CORP and ACME-CORPS are other words", t - 30)));
    ASSERT_TRUE(a.Add(Entry("to: acme -- corp, today", t - 20)));
    ASSERT_TRUE(a.Add(Entry("ACME CORP INVOICE", t - 10)));

    std::vector<archive::Hit> hits = Find(a, "ACME-CORP");
    ASSERT_EQ(hits.size(), 3u);
    EXPECT_EQ(hits[0].context, "ACME CORP INVOICE");
    EXPECT_EQ(hits[1].context, "to: acme -- corp, today");
    EXPECT_EQ(hits[2].context, "billed to ACME-CORP");
    // One word alone is found wherever it stands.
    EXPECT_EQ(Find(a, "ACME").size(), 5u);

    // The limit counts confirmed jobs, newest first, and every word must hold.
    archive::Query q;
    q.words = {"acme-corp", "invoice"};
    q.limit = 1;
    std::string why;
    ASSERT_TRUE(a.Find(q, hits, why)) << why;
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].context, "ACME CORP INVOICE");
    q.limit = 5;
    q.until = t - 15;
    ASSERT_TRUE(a.Find(q, hits, why)) << why;
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].context, "billed to ACME-CORP");
    q.words = {"corp-acme"};
    ASSERT_TRUE(a.Find(q, hits, why)) << why;
    EXPECT_TRUE(hits.empty());
}
