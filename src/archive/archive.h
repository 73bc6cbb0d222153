// The print archive: every delivered job's text and bytes kept in a folder for
// a number of days, an SQLite full-text index over them, search and read back.
// One folder serves many LUs and processes: SQLite's WAL lets one write while
// others read. Archiving never stops printing: a failure is reported once and
// the archive goes on when its cause is gone.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace archive {

struct Job {
    long long id = 0;        // the archive's number for it
    std::string lu;          // the LU it came from
    std::string name;        // the job file's name
    long number = -1;        // the number in the job file's name, -1 none
    long long received = 0;  // seconds since 1970
    long long delivered = 0; // seconds since 1970
    long pages = 0;
    long long bytes = 0;     // of the job file
    std::string medium;      // "file", "printer", "socket", "command"
    std::string destination; // where it went, as its line said
    std::string outcome;     // "delivered" or "kept"
    std::string hints;       // the delivery's own notes for printing it again, one line
    std::string text;        // UTF-8, for search and show
    std::string raw;         // the job file's bytes, for printing it again
    std::string pdf;         // the PDF it was drawn as, when it was
};

struct Hit {
    Job job;             // without text and raw
    std::string context; // the first line holding a word searched for
    bool pdf = false;    // the job was drawn and its PDF kept
};

struct Query {
    std::vector<std::string> words;
    std::string lu;      // "" any
    long long since = 0; // delivered at or after; 0 any
    long long until = 0; // delivered before; 0 any
    int limit = 100;
};

// Seconds since 1970: TWPRINTER_ARCHIVE_NOW when set (tests move the clock), else now.
long long Now();
// A job's id (or a count) as a user writes it: digits only, above 0, in range; false else.
bool ParseId(const std::string& text, long long& id);

class Archive {
  public:
    // note: one line for the log. days and maxMb: retention (0 none).
    Archive(std::string dir, long days, long maxMb, std::function<void(const std::string&)> note);
    ~Archive();
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    // Opens (or makes, or rebuilds from the files) the index; false with the
    // reason reported. Add opens it when this did not.
    bool Open();
    // From now on this object only reads: the index is opened as a WAL reader
    // (it neither waits for the writers nor holds them up) and is never made,
    // rebuilt nor pruned here. Before the first Find.
    void ReadOnly();
    // Archives a delivered job now; false when it could not be (reported once
    // until it can again). Removes expired jobs at most once an hour.
    bool Add(Job job);
    // Hands a delivered job to the archive's writer thread, which archives
    // what is queued in batches (as Add does) and all of it before the
    // archive is destroyed, and prunes hourly however quiet. Any thread; false
    // only when the queue stayed full too long.
    bool Enqueue(Job job);
    // Open, then Prune, on the archive's writer thread: the caller goes on at
    // once (the LUs of a pool open one index, one at a time). Jobs queued
    // meanwhile wait for it.
    void OpenInBackground();
    // Returns once every job queued so far is archived (or failed to be).
    void Flush();
    // Jobs past their days, then the oldest past the size limit: removed, one line.
    void Prune();

    // Newest first; false with why.
    bool Find(const Query& query, std::vector<Hit>& hits, std::string& why);
    bool Get(long long id, Job& job, std::string& why);
    const std::string& Dir() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace archive
