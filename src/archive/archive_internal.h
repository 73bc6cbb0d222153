// What the archive's files share inside the library: the state behind
// Archive, its SQLite helpers and the folder's names.
#pragma once
#include <sqlite3.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "archive/archive.h"

namespace archive {

std::string FileOf(const std::string& dir, long long id);
// The id of an archive file's name, 0 when it is none.
long long IdOf(const std::string& name);
bool MakeFolders(const std::string& dir);
bool Damaged(int rc);
// Each word of text once, in lower case, as the index is given it.
std::string IndexedWords(const std::string& text);
// The line of text holding the first of words (without case), its blanks trimmed.
std::string ContextLine(const std::string& text, const std::vector<std::string>& words);
// The text of the job file at path from its start to past the first line holding
// one of words (lower case), all of it when none does: the context of a hit
// without inflating the rest; pdf (when given) says whether it has one. False
// when it is unreadable.
bool ReadJobTextUntil(const std::string& path, const std::vector<std::string>& words,
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
    bool reader = false;              // only reads, never writes the index
    bool folderMade = false;          // the last job's file was written
    std::vector<long long> unindexed; // written while the index could not be
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
        long long size = 0;
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
    std::thread filer, indexer;

    void Note(const std::string& line) {
        if (note) note(line);
    }
    void Close() {
        if (db) sqlite3_close_v2(db);
        db = nullptr;
    }
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
    bool Insert(const Job& job, long long size, const std::string& words, std::string& why,
                int& code);
    void IndexFailed(const std::string& why, int code);
    void Remove(long long id);
    void Prune();
    long long NewId();
    // A job's file (fileMutex held); its id set.
    bool WriteFile(Job& job, long long& size);
    // Written jobs indexed in one transaction (mutex held); false when they wait
    // for the index to be written again.
    bool IndexBatch(const std::vector<Written>& written);
    void FilerLoop();
    void IndexerLoop();
    void StopWriter();
};

} // namespace archive
