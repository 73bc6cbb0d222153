// Retention: jobs past their days go, then the oldest while the archive is
// past its size, in one transaction and one line of the log.
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
    if (a.days > 0) {
        Stmt old(a.db, "SELECT id FROM jobs WHERE delivered < ? ORDER BY delivered, id");
        old.Int(1, Now() - a.days * 86400LL);
        std::vector<long long> ids;
        while (old && sqlite3_step(old.s) == SQLITE_ROW)
            ids.push_back(old.ColInt(0));
        for (long long id : ids)
            a.Remove(id);
        expired = static_cast<long>(ids.size());
    }
    if (a.maxMb > 0) {
        Stmt total(a.db, "SELECT coalesce(sum(size),0) FROM jobs");
        long long size = total && sqlite3_step(total.s) == SQLITE_ROW ? total.ColInt(0) : 0;
        const long long limit = a.maxMb * 1024LL * 1024;
        if (size > limit) {
            Stmt oldest(a.db, "SELECT id, size FROM jobs ORDER BY delivered, id");
            std::vector<long long> ids;
            while (size > limit && oldest && sqlite3_step(oldest.s) == SQLITE_ROW) {
                ids.push_back(oldest.ColInt(0));
                size -= oldest.ColInt(1);
            }
            for (long long id : ids)
                a.Remove(id);
            oversize = static_cast<long>(ids.size());
        }
    }
    if (!a.Exec("COMMIT", why, &code)) {
        std::string ignored;
        a.Exec("ROLLBACK", ignored);
        return;
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
