// The archive's folder: jobs written to their segments and indexed, many in one
// transaction, and faults reported once until their cause is gone.
#include "archive/archive.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include "archive/archive_internal.h"

namespace archive {
bool Archive::Impl::IndexBatch(const std::vector<Written>& written) {
    if (written.empty()) return true;
    std::string why;
    int code = 0;
    auto later = [&] {
        for (const Written& w : written)
            unindexed.emplace_back(w.job.id, w.place);
    };
    if (!db && !OpenIndex(why)) {
        IndexFailed(why, 0);
        later();
        return false;
    }
    bool ok = Exec("BEGIN IMMEDIATE", why, &code);
    // Jobs written while the index could not be go in first.
    for (size_t i = 0; ok && i < unindexed.size(); ++i) {
        const auto& [id, place] = unindexed[i];
        Job late;
        std::string packed, bad;
        if (!ReadRecord(dir, id, place, packed, bad) || !UnpackJob(packed, late)) continue;
        late.id = id;
        ok = Insert(late, place, IndexedWords(late.text), why, code);
    }
    for (size_t i = 0; ok && i < written.size(); ++i)
        ok = Insert(written[i].job, written[i].place, written[i].words, why, code);
    ok = ok && Exec("COMMIT", why, &code);
    if (!ok) {
        std::string ignored;
        if (db) Exec("ROLLBACK", ignored);
        later();
        IndexFailed(why, code);
        return false;
    }
    if (indexFault) Note("The archive index " + indexPath + " is written again.");
    indexFault = false;
    unindexed.clear();
    if (Now() - lastPrune >= 3600) Prune();
    return true;
}

Archive::Archive(std::string dir, long days, long maxMb,
                 std::function<void(const std::string&)> note)
    : impl_(std::make_unique<Impl>()) {
    impl_->dir = std::move(dir);
    while (impl_->dir.size() > 1 && impl_->dir.back() == '/')
        impl_->dir.pop_back();
    impl_->indexPath = impl_->dir + "/index.db";
    impl_->days = days;
    impl_->maxMb = maxMb;
    impl_->note = std::move(note);
}

Archive::~Archive() {
    impl_->StopWriter();
    impl_->CloseSegment();
    impl_->Close();
}

const std::string& Archive::Dir() const {
    return impl_->dir;
}

bool Archive::Open() {
    return impl_->OpenArchive();
}

bool Archive::Impl::OpenArchive() {
    Impl& a = *this;
    std::lock_guard<std::recursive_mutex> lock(a.mutex);
    std::string why;
    if (!MakeFolders(a.dir)) {
        why = "the folder " + a.dir + " cannot be made: " + std::strerror(errno);
    } else if (a.OpenIndex(why)) {
        return true;
    }
    if (!a.indexFault)
        a.Note("The archive in " + a.dir + " cannot be opened (" + why +
               "); jobs are printed and archived once it can be.");
    a.indexFault = true;
    return false;
}

void Archive::ReadOnly() {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->reader = true;
}

bool Archive::Add(Job job) {
    Impl& a = *impl_;
    std::vector<Impl::Written> one(1);
    {
        std::lock_guard<std::mutex> lock(a.fileMutex);
        if (!a.WriteJob(job, one[0].place)) return false;
    }
    one[0].words = IndexedWords(job.text);
    one[0].job = std::move(job);
    std::lock_guard<std::recursive_mutex> lock(a.mutex);
    return a.IndexBatch(one);
}

} // namespace archive
