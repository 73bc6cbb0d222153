// The archive's writer: threads of its own take what the delivery threads
// queue, one compressing and writing the files, one indexing what is written
// in batches of one transaction each, so that printing never waits on the
// disk or the index. A stop archives what is queued first.
#include <chrono>

#include "archive/archive_internal.h"

namespace archive {
namespace {

// Enough for a burst of many LUs; past it a delivery waits for room a while.
constexpr size_t kQueueJobs = 2048;
constexpr size_t kBatchJobs = 256;
constexpr auto kFullWait = std::chrono::seconds(30);
constexpr long long kPruneSeconds = 3600;

} // namespace

bool Archive::Enqueue(Job job) {
    Impl& a = *impl_;
    std::unique_lock<std::mutex> lock(a.queueMutex);
    a.StartWriter();
    if (!a.queued.wait_for(lock, kFullWait, [&a] { return a.queue.size() < kQueueJobs; })) {
        // The job was delivered; only its copy in the archive is missing, and said so.
        if (!a.fullNoted)
            a.Note("The archive in " + a.dir + " cannot keep up; " + job.name +
                   " was printed but is not archived.");
        a.fullNoted = true;
        return false;
    }
    a.fullNoted = false;
    a.queue.push_back(std::move(job));
    a.queued.notify_all();
    return true;
}

void Archive::Impl::StartWriter() {
    if (filer.joinable()) return;
    filer = std::thread([this] { FilerLoop(); });
    indexer = std::thread([this] { IndexerLoop(); });
}

void Archive::OpenInBackground() {
    Impl& a = *impl_;
    std::lock_guard<std::mutex> lock(a.queueMutex);
    a.openFirst = true;
    a.StartWriter();
}

void Archive::Flush() {
    Impl& a = *impl_;
    std::unique_lock<std::mutex> lock(a.queueMutex);
    a.drained.wait(lock, [&a] { return a.queue.empty() && a.toIndex.empty() && a.busy == 0; });
}

void Archive::Impl::FilerLoop() {
    std::unique_lock<std::mutex> lock(queueMutex);
    // Before any job is written: a rebuild of the index must not meet them.
    if (openFirst) {
        lock.unlock();
        if (OpenArchive()) Prune();
        lock.lock();
    }
    for (;;) {
        queued.wait(lock, [this] { return stopping || !queue.empty(); });
        if (queue.empty()) break; // stopping, and every file written
        std::vector<Job> batch;
        while (!queue.empty() && batch.size() < kBatchJobs) {
            batch.push_back(std::move(queue.front()));
            queue.pop_front();
        }
        busy += batch.size();
        queued.notify_all(); // room for waiting deliveries
        lock.unlock();
        std::vector<Written> done;
        {
            std::lock_guard<std::mutex> files(fileMutex);
            for (Job& job : batch) {
                Written w;
                if (!WriteJob(job, w.place)) continue;
                // The index needs only the row and the words.
                w.words = IndexedWords(job.text);
                job.text.clear();
                job.raw.clear();
                job.pdf.clear();
                w.job = std::move(job);
                done.push_back(std::move(w));
            }
        }
        lock.lock();
        for (Written& w : done)
            toIndex.push_back(std::move(w));
        busy -= batch.size() - done.size();
        filed.notify_all();
        drained.notify_all();
    }
    filerDone = true;
    filed.notify_all();
}

void Archive::Impl::IndexerLoop() {
    std::unique_lock<std::mutex> lock(queueMutex);
    for (;;) {
        // A quiet archive expires too: its writer prunes once the hour is up
        // (a busy one prunes after an indexed batch, as Add does).
        if (!filed.wait_for(lock, std::chrono::seconds(kPruneSeconds),
                            [this] { return filerDone || !toIndex.empty(); })) {
            lock.unlock();
            {
                std::lock_guard<std::recursive_mutex> index(mutex);
                if (Now() - lastPrune >= kPruneSeconds) Prune();
            }
            lock.lock();
            continue;
        }
        if (toIndex.empty()) return; // the filer is done, and all of it indexed
        std::vector<Written> batch;
        while (!toIndex.empty() && batch.size() < kBatchJobs * 4) {
            batch.push_back(std::move(toIndex.front()));
            toIndex.pop_front();
        }
        lock.unlock();
        {
            std::lock_guard<std::recursive_mutex> index(mutex);
            IndexBatch(batch);
        }
        lock.lock();
        busy -= batch.size();
        drained.notify_all();
    }
}

void Archive::Impl::StopWriter() {
    {
        std::lock_guard<std::mutex> lock(queueMutex);
        stopping = true;
        queued.notify_all();
    }
    if (filer.joinable()) filer.join();
    if (indexer.joinable()) indexer.join();
}

} // namespace archive
