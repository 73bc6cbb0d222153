// The archive on real files and a real SQLite index: a locked index that
// catches up once free, the size limit, damaged and torn segments left out of
// a rebuild, retention within a segment, a folder made again under a writer, a
// reader that makes nothing.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
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

std::vector<std::string> Segments(const std::string& folder) {
    std::vector<std::string> segments;
    for (const std::string& f : testutil::ListDir(folder))
        if (f.size() > 4 && f.compare(f.size() - 4, 4, ".tws") == 0) segments.push_back(f);
    return segments;
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
        EXPECT_EQ(Segments(big).size(), 1u);
        a.Prune();
        EXPECT_EQ(Count(notes, "removed"), 1u);
    }

    // A rebuild takes every good segment and names the damaged one.
    testutil::WriteFile(folder + "/123.tws", "TWS1 not a job at all");
    testutil::WriteFile(folder + "/notes.txt", "not a job");
    ASSERT_EQ(::unlink((folder + "/index.db").c_str()), 0);
    notes.clear();
    archive::Archive again(folder, 30, 0, note);
    ASSERT_TRUE(again.Open());
    EXPECT_EQ(Find(again, "apple").size(), 4u);
    EXPECT_EQ(Count(notes, folder + "/123.tws is damaged from byte 0 to 21"), 1u);
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

TEST(ArchiveStore, SegmentsSurviveTornTailsAndGoWithTheirLastJob) {
    testutil::TempDir dir;
    const std::string folder = dir.file("a");
    std::vector<std::string> notes;
    auto note = [&](const std::string& line) { notes.push_back(line); };
    const long long now = archive::Now();
    std::string binary;
    for (int i = 0; i < 3000; ++i)
        binary += static_cast<char>(i * 7);
    std::vector<long long> ids;
    {
        archive::Archive a(folder, 2, 0, note);
        ASSERT_TRUE(a.Open());
        archive::Job fresh = Entry("NEW fig", now);
        fresh.raw = binary;
        fresh.pdf = "%PDF-1.4 " + binary;
        ASSERT_TRUE(a.Add(fresh));
        for (int i = 0; i < 3; ++i) {
            archive::Job job = Entry("OLD" + std::to_string(i) + " fig", now - 3 * 86400);
            job.raw = binary + std::to_string(i);
            ASSERT_TRUE(a.Add(job));
        }
        // The old jobs go, the segment stays for the new one, read back byte for byte.
        a.Prune();
        EXPECT_EQ(Count(notes, "3 jobs older than 2 days removed"), 1u);
        ASSERT_EQ(Segments(folder).size(), 1u);
        std::vector<archive::Hit> hits = Find(a, "fig");
        ASSERT_EQ(hits.size(), 1u);
        EXPECT_TRUE(hits[0].pdf);
        EXPECT_TRUE(Find(a, "old0").empty());
        archive::Job back;
        std::string why;
        ASSERT_TRUE(a.Get(hits[0].job.id, back, why)) << why;
        EXPECT_EQ(back.raw, binary);
        EXPECT_EQ(back.pdf, fresh.pdf);
        EXPECT_FALSE(a.Get(hits[0].job.id + 1, back, why));
        ids.push_back(hits[0].job.id);
    }
    // A later writer appends to a segment of its own.
    {
        archive::Archive a(folder, 2, 0, note);
        ASSERT_TRUE(a.Open());
        for (const std::string word : {"second", "third"}) {
            ASSERT_TRUE(a.Add(Entry(word + " fig", now + 1)));
            const std::vector<archive::Hit> hits = Find(a, word);
            ASSERT_EQ(hits.size(), 1u);
            ids.push_back(hits[0].job.id);
        }
    }
    std::vector<std::string> segments = Segments(folder);
    ASSERT_EQ(segments.size(), 2u);
    std::sort(segments.begin(), segments.end());
    const std::string second = folder + "/" + segments[1];
    const std::string whole = testutil::ReadFile(second);

    // A crash cut the last write short, and a byte of the first job rotted: the
    // rebuild names both and keeps every sound job, with the ids they had.
    std::string torn = whole;
    torn[30] = static_cast<char>(torn[30] ^ 0x55);
    torn += whole.substr(0, 40);
    testutil::WriteFile(second, torn);
    ASSERT_EQ(::unlink((folder + "/index.db").c_str()), 0);
    notes.clear();
    {
        archive::Archive a(folder, 2, 0, note);
        ASSERT_TRUE(a.Open());
        EXPECT_EQ(Count(notes, "was made from 2 archived jobs"), 1u);
        EXPECT_EQ(Count(notes, second + " is damaged from byte 0 to "), 1u);
        EXPECT_EQ(Count(notes, second + " is damaged from byte " + std::to_string(whole.size()) +
                                   " to " + std::to_string(torn.size())),
                  1u);
        std::vector<archive::Hit> hits = Find(a, "fig");
        ASSERT_EQ(hits.size(), 2u);
        EXPECT_EQ(hits[0].job.id, ids[2]);
        EXPECT_EQ(hits[1].job.id, ids[0]);
        archive::Job back;
        std::string why;
        ASSERT_TRUE(a.Get(ids[0], back, why)) << why;
        EXPECT_EQ(back.raw, binary);
        // The torn segment is never written again.
        ASSERT_TRUE(a.Add(Entry("FOURTH fig", now + 2)));
        EXPECT_EQ(testutil::ReadFile(second), torn);
        EXPECT_EQ(Segments(folder).size(), 3u);

        // Days later every job has expired: each segment goes with its last job, the
        // one this archive writes to at its next run (a job may be on its way to it).
        notes.clear();
        ::setenv("TWPRINTER_ARCHIVE_NOW", std::to_string(now + 5 * 86400).c_str(), 1);
        a.Prune();
        EXPECT_EQ(Count(notes, "3 jobs older than 2 days removed"), 1u);
        EXPECT_EQ(Segments(folder).size(), 1u);
        a.Prune();
        EXPECT_TRUE(Segments(folder).empty());
        ::unsetenv("TWPRINTER_ARCHIVE_NOW");
        EXPECT_TRUE(Find(a, "fig").empty());
        ASSERT_TRUE(a.Add(Entry("FIFTH fig")));
        EXPECT_EQ(Find(a, "fig").size(), 1u);
    }
}
