// Retention: jobs past their days go, then the oldest segments while the
// archive is past its size, in one transaction and one line of the log; a
// segment's file goes with its last job.
#include <unistd.h>

#include <set>

#include "archive/archive_internal.h"

namespace archive {

void Archive::Prune() {
    impl_->Prune();
}

void Archive::Impl::Prune() {
    Impl& a = *this;
    std::lock_guard<std::recursive_mutex> lock(a.mutex);
    a.lastPrune = Now();
    std::string why;
    if (!a.db && !a.OpenIndex(why)) return;
    int code = 0;
    if (!a.Exec("BEGIN IMMEDIATE", why, &code)) return;
    long expired = 0, oversize = 0;
    std::vector<long long> touched; // segments some of whose jobs went
    auto remove = [&](Stmt& jobs) {
        std::vector<std::pair<long long, Place>> gone;
        while (jobs && sqlite3_step(jobs.s) == SQLITE_ROW)
            gone.emplace_back(jobs.ColInt(0),
                              Place{jobs.ColInt(1), jobs.ColInt(2), jobs.ColInt(3)});
        for (const auto& [id, place] : gone) {
            a.Remove(id, place);
            if (touched.empty() || touched.back() != place.segment)
                touched.push_back(place.segment);
        }
        return static_cast<long>(gone.size());
    };
    if (a.days > 0) {
        Stmt old(a.db, "SELECT id, segment, offset, length FROM jobs WHERE delivered < ?"
                       " ORDER BY segment");
        old.Int(1, Now() - a.days * 86400LL);
        expired = remove(old);
    }
    if (a.maxMb > 0) {
        // Whole segments, oldest first: a segment's disk is freed only with its last job.
        Stmt total(a.db, "SELECT coalesce(sum(length),0) FROM jobs");
        long long size = total && sqlite3_step(total.s) == SQLITE_ROW ? total.ColInt(0) : 0;
        const long long limit = a.maxMb * 1024LL * 1024;
        std::vector<long long> oldest;
        if (size > limit) {
            Stmt segments(a.db, "SELECT segment, sum(length) FROM jobs GROUP BY segment"
                                " ORDER BY min(delivered), segment");
            while (size > limit && segments && sqlite3_step(segments.s) == SQLITE_ROW) {
                oldest.push_back(segments.ColInt(0));
                size -= segments.ColInt(1);
            }
        }
        for (long long segment : oldest) {
            Stmt jobs(a.db, "SELECT id, segment, offset, length FROM jobs WHERE segment=?");
            jobs.Int(1, segment);
            oversize += remove(jobs);
        }
    }
    if (!a.Exec("COMMIT", why, &code)) {
        std::string ignored;
        a.Exec("ROLLBACK", ignored);
        return;
    }
    // A segment with no job left goes. The one being written may hold jobs on
    // their way to the index: it is closed, and goes at the next run.
    touched.insert(touched.end(), a.retired.begin(), a.retired.end());
    a.retired.clear();
    std::set<long long> held; // segments with jobs left, in one pass over the rows
    Stmt left(a.db, "SELECT DISTINCT segment FROM jobs");
    int rc = SQLITE_DONE;
    while (!touched.empty() && left && (rc = sqlite3_step(left.s)) == SQLITE_ROW)
        held.insert(left.ColInt(0));
    if (!left || rc != SQLITE_DONE) touched.clear();
    for (long long segment : touched) {
        if (held.count(segment)) continue;
        std::lock_guard<std::mutex> files(a.fileMutex);
        if (segment == a.segment) {
            a.CloseSegment();
            a.retired.push_back(segment);
        } else {
            ::unlink(SegmentPath(a.dir, segment).c_str());
        }
    }
    if (expired + oversize == 0) return;
    std::string line = "Archive " + a.dir + ":";
    if (expired)
        line += " " + std::to_string(expired) + " jobs older than " + std::to_string(a.days) +
                " days removed";
    if (expired && oversize) line += ",";
    if (oversize)
        line += " " + std::to_string(oversize) + " oldest jobs removed to keep it under " +
                std::to_string(a.maxMb) + " MB";
    a.Note(line + ".");
}

} // namespace archive
