// The archive's folder: jobs written to their files and indexed, many in one
// transaction, and faults reported once until their cause is gone.
#include "archive/archive.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <utility>

#include "archive/archive_internal.h"

namespace archive {
namespace {

int Pid() {
    static const int pid = ::getpid();
    return pid;
}

} // namespace

// Milliseconds times a thousand, so that the ids of many writers do not meet
// (the file is made exclusively, a taken one moves on) and sort by time.
long long Archive::Impl::NewId() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    long long id =
        (static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000) * 1000 + Pid() % 1000;
    // The LUs of one process share the archive: two jobs in one millisecond must not
    // be given one name, so the last id handed out is the process's, not the LU's.
    static std::atomic<long long> last{0};
    long long seen = last.load();
    for (;;) {
        const long long next = id > seen ? id : seen + 1;
        if (last.compare_exchange_weak(seen, next)) return next;
    }
}

// The job's file under a new id; false (said once) when the folder cannot take it.
bool Archive::Impl::WriteFile(Job& job, long long& size) {
    std::string why;
    bool written = false;
    // The folders are made when a job cannot be written without them, not for
    // each job: a folder removed meanwhile is made again for the same job.
    const bool again = folderMade;
    for (int attempt = 0; attempt < (again ? 2 : 1) && !written; ++attempt) {
        if ((attempt > 0 || !folderMade) && !MakeFolders(dir)) {
            why = dir + ": " + std::strerror(errno);
            break;
        }
        job.id = NewId();
        std::string path = FileOf(dir, job.id);
        // Another process may have taken the name in the same millisecond: the next one.
        bool free = ::access(path.c_str(), F_OK) != 0;
        for (int i = 0; !free && i < 1000; ++i) {
            job.id = NewId();
            path = FileOf(dir, job.id);
            free = ::access(path.c_str(), F_OK) != 0;
        }
        written = free && WriteJobFile(path, job, why, &size);
    }
    folderMade = written;
    if (!written) {
        if (!fileFault)
            Note("The archive folder " + dir + " cannot be written (" + why +
                 "); jobs are printed but not archived until it can be.");
        fileFault = true;
        return false;
    }
    if (fileFault) Note("The archive folder " + dir + " is written again.");
    fileFault = false;
    return true;
}

bool Archive::Impl::IndexBatch(const std::vector<Written>& written) {
    if (written.empty()) return true;
    std::string why;
    int code = 0;
    auto later = [&] {
        for (const Written& w : written)
            unindexed.push_back(w.job.id);
    };
    if (!db && !OpenIndex(why)) {
        IndexFailed(why, 0);
        later();
        return false;
    }
    bool ok = Exec("BEGIN IMMEDIATE", why, &code);
    // Jobs written while the index could not be go in first.
    for (size_t i = 0; ok && i < unindexed.size(); ++i) {
        Job late;
        std::string bad;
        if (!ReadJobFile(FileOf(dir, unindexed[i]), late, bad)) continue;
        late.id = unindexed[i];
        struct stat lst {};
        ::stat(FileOf(dir, late.id).c_str(), &lst);
        ok = Insert(late, lst.st_size, IndexedWords(late.text), why, code);
    }
    for (size_t i = 0; ok && i < written.size(); ++i)
        ok = Insert(written[i].job, written[i].size, written[i].words, why, code);
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
    impl_->Close();
}

const std::string& Archive::Dir() const {
    return impl_->dir;
}

bool Archive::Open() {
    Impl& a = *impl_;
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
        if (!a.WriteFile(job, one[0].size)) return false;
    }
    one[0].words = IndexedWords(job.text);
    one[0].job = std::move(job);
    std::lock_guard<std::recursive_mutex> lock(a.mutex);
    return a.IndexBatch(one);
}

} // namespace archive
