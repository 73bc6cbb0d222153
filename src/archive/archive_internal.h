// What the archive's files share inside the library: the state behind
// Archive, its SQLite helpers and the folder's names.
#pragma once
#include <sqlite3.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "archive/archive.h"

namespace archive {

// Jobs are kept in segments, files that many jobs are appended to (one file
// per job would cost the file system more than the rest of the archiving).
// A job's id is its segment's number times this plus its place in the segment.
constexpr long long kJobsPerSegment = 1000000;

// Where a job's record is: its segment, the offset and length of the record.
struct Place {
    long long segment = 0, offset = 0, length = 0;
};

std::string SegmentPath(const std::string& dir, long long segment);
// The number of a segment's file name, 0 when it is none.
long long SegmentOf(const std::string& name);
bool MakeFolders(const std::string& dir);
// The job (without its id) packed as a record holds it, and back; false when
// it cannot be packed or the bytes are no job.
bool PackJob(const Job& job, std::string& packed);
bool UnpackJob(const std::string& packed, Job& job);
// The packed job of the record at place, checked against its id; false with why.
bool ReadRecord(const std::string& dir, long long id, const Place& place, std::string& packed,
                std::string& why);
// Every sound record of a segment file, in order, handed to each; every run of
// damaged bytes (a write cut short by a crash) to damaged. False when the file
// cannot be read.
bool ScanSegment(const std::string& path,
                 const std::function<void(long long id, const Place&, const std::string&)>& each,
                 const std::function<void(long long from, long long to)>& damaged);
bool Damaged(int rc);
// A to Z in lower case, every other byte as it is: as the index folds words,
// and many times faster than a call to tolower per byte of a search's texts.
inline char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
std::string LowerAscii(std::string text);
// Each word of text once, in lower case, as the index is given it.
std::string IndexedWords(const std::string& text);
// The line of text holding the first of words (without case), its blanks trimmed.
std::string ContextLine(const std::string& text, const std::vector<std::string>& words);
// The text of the packed job from its start to past the first line holding
// one of words (lower case), all of it when none does: the context of a hit
// without inflating the rest; pdf (when given) says whether it has one. False
// when it is unreadable.
bool JobTextUntil(const std::string& packed, const std::vector<std::string>& words,
                  std::string& text, bool* pdf = nullptr);

// A prepared statement that finalizes itself.
struct Stmt {
    sqlite3_stmt* s = nullptr;
    Stmt(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &s, nullptr); }
    ~Stmt() { sqlite3_finalize(s); }
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;
    explicit operator bool() const { return s != nullptr; }
    void Text(int i, const std::string& v) {
        sqlite3_bind_text(s, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    }
    void Int(int i, long long v) { sqlite3_bind_int64(s, i, v); }
    std::string Col(int i) {
        const auto* t = sqlite3_column_text(s, i);
        return t ? reinterpret_cast<const char*>(t) : "";
    }
    long long ColInt(int i) { return sqlite3_column_int64(s, i); }
};

struct Archive::Impl {
    std::string dir, indexPath;
    long days, maxMb;
    std::function<void(const std::string&)> note;
    sqlite3* db = nullptr;
    bool fileFault = false, indexFault = false;
    bool reader = false; // only reads, never writes the index
    // The segment this object appends to, one thread at a time (fileMutex).
    int segmentFd = -1;
    long long segment = 0, segmentSize = 0, segmentJobs = 0, segmentOpened = 0;
    unsigned long long segmentDevice = 0, segmentInode = 0;
    std::vector<long long> retired; // closed by retention, to go at its next run
    // Written while the index could not be.
    std::vector<std::pair<long long, Place>> unindexed;
    long long lastPrune = 0;
    // The index: its writer, the session's thread and readers of this object,
    // one at a time. The files have a lock of their own, so that one batch is
    // compressed and written while the one before is indexed.
    std::recursive_mutex mutex;
    std::mutex fileMutex;

    // A job in its file, with the words of its text for the index (found by
    // the filer, which has the time to spare; the indexer is the busier).
    struct Written {
        Job job;
        Place place;
        std::string words;
    };
    // The writer's queues: the delivery threads only put jobs in the first,
    // the filer moves them to the second once they are on disk.
    std::mutex queueMutex;
    std::condition_variable queued, filed, drained;
    std::deque<Job> queue;
    std::deque<Written> toIndex;
    size_t busy = 0; // jobs taken from a queue and not yet archived
    bool stopping = false, filerDone = false, fullNoted = false;
    bool openFirst = false; // the filer opens and prunes before its first job
    std::thread filer, indexer;

    void Note(const std::string& line) {
        if (note) note(line);
    }
    std::unique_ptr<Stmt> rowInsert, textInsert; // of db, for Insert
    void Close() {
        rowInsert.reset();
        textInsert.reset();
        if (db) sqlite3_close_v2(db);
        db = nullptr;
    }
    // A read-only archive opens the index for each search or read, so that one
    // made again since is seen: this closes it again at the end of the scope.
    struct ReaderScope {
        Impl& a;
        ~ReaderScope() {
            if (a.reader) a.Close();
        }
    };
    bool Exec(const char* sql, std::string& why, int* code = nullptr) {
        char* err = nullptr;
        int rc = sqlite3_exec(db, sql, nullptr, nullptr, &err);
        if (code) *code = rc;
        if (rc == SQLITE_OK) return true;
        why = err ? err : sqlite3_errstr(rc);
        sqlite3_free(err);
        return false;
    }
    bool OpenIndex(std::string& why);
    bool OpenReader(std::string& why);
    bool Rebuild(std::string& why);
    // words: IndexedWords of the job's text.
    bool Insert(const Job& job, const Place& place, const std::string& words, std::string& why,
                int& code);
    void IndexFailed(const std::string& why, int code);
    // The job's row and words out of the index (its record stays in its segment).
    void Remove(long long id, const Place& place);
    void Prune();
    // The segment is the one to append to still: not full, not old, not removed.
    bool SegmentUsable();
    void CloseFullSegment();
    bool OpenSegment(std::string& why);
    void CloseSegment();
    // Appends the job to the segment (fileMutex held); its id and place set.
    bool WriteJob(Job& job, Place& place);
    // The place of a job in the index; false with why.
    bool PlaceOf(long long id, Place& place, std::string& why);
    // Written jobs indexed in one transaction (mutex held); false when they wait
    // for the index to be written again.
    bool IndexBatch(const std::vector<Written>& written);
    // Open's work (the folder, the index), its failure said once.
    bool OpenArchive();
    // The writer's threads, when not yet running (queueMutex held).
    void StartWriter();
    void FilerLoop();
    void IndexerLoop();
    void StopWriter();
};

} // namespace archive
