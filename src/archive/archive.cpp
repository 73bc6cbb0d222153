// The archive's folder and its SQLite index: jobs added on the delivery
// thread, expired ones removed, the index made again from the files when it
// is missing or damaged.
#include "archive/archive.h"

#include <dirent.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <utility>

namespace archive {
namespace {

constexpr const char* kSchema =
    "CREATE TABLE jobs(id INTEGER PRIMARY KEY, lu TEXT, name TEXT, number INTEGER,"
    " received INTEGER, delivered INTEGER, pages INTEGER, bytes INTEGER, medium TEXT,"
    " destination TEXT, outcome TEXT, size INTEGER);"
    "CREATE INDEX jobs_delivered ON jobs(delivered);"
    // The text itself is in the job files: the index holds only its words.
    "CREATE VIRTUAL TABLE jobs_text USING fts5(text, content='');"
    // Fewer, larger merges: each job is a transaction of its own.
    "INSERT INTO jobs_text(jobs_text, rank) VALUES('automerge', 16);";

std::string FileOf(const std::string& dir, long long id) {
    return dir + "/" + std::to_string(id) + ".twa";
}

// The id of an archive file's name, 0 when it is none.
long long IdOf(const std::string& name) {
    if (name.size() < 5 || name.compare(name.size() - 4, 4, ".twa") != 0) return 0;
    long long id = 0;
    for (size_t i = 0; i + 4 < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i]))) return 0;
        id = id * 10 + (name[i] - '0');
    }
    return id;
}

bool MakeFolders(const std::string& dir) {
    for (size_t at = 1; at <= dir.size(); ++at) {
        if (at < dir.size() && dir[at] != '/') continue;
        const std::string part = dir.substr(0, at);
        if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0) return false;
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    return true;
}

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

bool Damaged(int rc) {
    rc &= 0xFF;
    return rc == SQLITE_CORRUPT || rc == SQLITE_NOTADB;
}

// The line of text holding the first of words (without case), its blanks trimmed.
std::string ContextLine(const std::string& text, const std::vector<std::string>& words) {
    std::string lower = text;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    size_t at = std::string::npos;
    for (std::string w : words) {
        for (char& c : w)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        at = std::min(at, lower.find(w));
    }
    if (at == std::string::npos) at = 0;
    size_t begin = text.find_last_of("\n\f", at);
    begin = begin == std::string::npos ? 0 : begin + 1;
    size_t end = text.find_first_of("\r\n\f", at);
    std::string line =
        text.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
    const size_t first = line.find_first_not_of(' ');
    if (first == std::string::npos) return "";
    line = line.substr(first, line.find_last_not_of(' ') - first + 1);
    if (line.size() > 160) line.resize(160);
    return line;
}

} // namespace

struct Archive::Impl {
    std::string dir, indexPath;
    long days, maxMb;
    std::function<void(const std::string&)> note;
    sqlite3* db = nullptr;
    bool fileFault = false, indexFault = false;
    std::vector<long long> unindexed; // written while the index could not be
    long long lastPrune = 0;
    // The session's thread opens, the delivery thread adds: one at a time.
    std::recursive_mutex mutex;

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
    bool Rebuild(std::string& why);
    bool Insert(const Job& job, long long size, std::string& why, int& code);
    void IndexFailed(const std::string& why, int code);
    void Remove(long long id);
    long long NewId();
};

// The index open in WAL mode with its tables; made and filled from the files
// when it had none, set aside and made again when it is damaged.
bool Archive::Impl::OpenIndex(std::string& why) {
    if (db) return true;
    for (int attempt = 0; attempt < 2; ++attempt) {
        int rc = sqlite3_open_v2(indexPath.c_str(), &db,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                                 nullptr);
        int code = rc;
        if (rc == SQLITE_OK) {
            sqlite3_busy_timeout(db, 1000);
            std::string ignored;
            // One transaction decides whether the index is new: a second process
            // starting at once sees the tables the first one made.
            // WAL without a sync per job: a crash may lose the last rows, never the
            // index, and the job files hold them.
            if (Exec("PRAGMA journal_mode=WAL", why, &code) &&
                Exec("PRAGMA synchronous=NORMAL", why, &code) &&
                Exec("BEGIN IMMEDIATE", why, &code)) {
                Stmt have(db, "SELECT count(*) FROM sqlite_master WHERE name='jobs'");
                code = have ? sqlite3_step(have.s) : sqlite3_errcode(db);
                const bool fresh = code == SQLITE_ROW && have.ColInt(0) == 0;
                if (code == SQLITE_ROW) {
                    bool ok = true;
                    if (fresh) ok = Exec(kSchema, why, &code) && Rebuild(why);
                    if (ok && !fresh) {
                        Stmt check(db, "PRAGMA quick_check");
                        code = check ? sqlite3_step(check.s) : sqlite3_errcode(db);
                        if (code == SQLITE_ROW && check.Col(0) != "ok") code = SQLITE_CORRUPT;
                        ok = code == SQLITE_ROW;
                        if (!ok) why = "the index is damaged";
                    }
                    if (ok && Exec("COMMIT", why, &code)) return true;
                } else {
                    why = sqlite3_errmsg(db);
                }
                Exec("ROLLBACK", ignored);
            }
        } else {
            why = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
        }
        Close();
        if (!Damaged(code) || attempt > 0) return false;
        // Set aside for whoever wants to look; the files hold everything it had.
        const std::string aside = indexPath + ".damaged";
        ::rename(indexPath.c_str(), aside.c_str());
        ::unlink((indexPath + "-wal").c_str());
        ::unlink((indexPath + "-shm").c_str());
        Note("The archive index " + indexPath + " was damaged (" + why + "); it is set aside as " +
             aside + " and made again from the archived jobs.");
    }
    return false;
}

// Every archive file of the folder into the new (empty) index.
bool Archive::Impl::Rebuild(std::string& why) {
    DIR* d = ::opendir(dir.c_str());
    if (!d) return true;
    std::vector<long long> ids;
    while (dirent* e = ::readdir(d))
        if (long long id = IdOf(e->d_name)) ids.push_back(id);
    ::closedir(d);
    long count = 0;
    for (long long id : ids) {
        Job job;
        std::string bad;
        if (!ReadJobFile(FileOf(dir, id), job, bad)) {
            Note("Archived job " + bad + "; it is left out of the index.");
            continue;
        }
        job.id = id;
        struct stat st {};
        ::stat(FileOf(dir, id).c_str(), &st);
        int code = 0;
        if (!Insert(job, st.st_size, why, code)) return false;
        ++count;
    }
    if (count > 0)
        Note("The archive index " + indexPath + " was made from " + std::to_string(count) +
             " archived jobs.");
    return true;
}

bool Archive::Impl::Insert(const Job& job, long long size, std::string& why, int& code) {
    Stmt row(db, "INSERT OR REPLACE INTO jobs VALUES(?,?,?,?,?,?,?,?,?,?,?,?)");
    Stmt text(db, "INSERT INTO jobs_text(rowid, text) VALUES(?,?)");
    if (!row || !text) {
        code = sqlite3_errcode(db);
        why = sqlite3_errmsg(db);
        return false;
    }
    row.Int(1, job.id);
    row.Text(2, job.lu);
    row.Text(3, job.name);
    row.Int(4, job.number);
    row.Int(5, job.received);
    row.Int(6, job.delivered);
    row.Int(7, job.pages);
    row.Int(8, job.bytes);
    row.Text(9, job.medium);
    row.Text(10, job.destination);
    row.Text(11, job.outcome);
    row.Int(12, size);
    text.Int(1, job.id);
    text.Text(2, job.text);
    for (Stmt* s : {&row, &text}) {
        code = sqlite3_step(s->s);
        if (code != SQLITE_DONE) {
            why = sqlite3_errmsg(db);
            return false;
        }
    }
    return true;
}

void Archive::Impl::IndexFailed(const std::string& why, int code) {
    if (!indexFault)
        Note("The archive index " + indexPath + " cannot be written (" + why +
             "); jobs are printed and archived, and indexed once it can be.");
    indexFault = true;
    // A damaged index is set aside at the next attempt; a locked one is tried again.
    Close();
    if (Damaged(code)) {
        std::string again;
        OpenIndex(again);
    }
}

// The words of a job without its file stay behind, matching no row of jobs.
void Archive::Impl::Remove(long long id) {
    Stmt row(db, "DELETE FROM jobs WHERE id=?");
    row.Int(1, id);
    sqlite3_step(row.s);
    Job job;
    std::string why;
    if (ReadJobFile(FileOf(dir, id), job, why)) {
        Stmt text(db, "INSERT INTO jobs_text(jobs_text, rowid, text) VALUES('delete', ?, ?)");
        text.Int(1, id);
        text.Text(2, job.text);
        sqlite3_step(text.s);
    }
    ::unlink(FileOf(dir, id).c_str());
}

// Milliseconds times a thousand, so that the ids of many writers do not meet
// (the file is made exclusively, a taken one moves on) and sort by time.
long long Archive::Impl::NewId() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    long long id = (static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000) * 1000 +
                   (::getpid() % 1000);
    // The LUs of one process share the archive: two jobs in one millisecond must not
    // be given one name, so the last id handed out is the process's, not the LU's.
    static std::atomic<long long> last{0};
    long long seen = last.load();
    for (;;) {
        const long long next = id > seen ? id : seen + 1;
        if (last.compare_exchange_weak(seen, next)) return next;
    }
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

bool Archive::Add(Job job) {
    Impl& a = *impl_;
    std::lock_guard<std::recursive_mutex> lock(a.mutex);
    std::string why;
    job.id = a.NewId();
    std::string path = FileOf(a.dir, job.id);
    bool written = MakeFolders(a.dir);
    if (!written) why = a.dir + ": " + std::strerror(errno);
    // Another process may have taken the name in the same millisecond: the next one.
    for (int i = 0; written && i < 1000 && ::access(path.c_str(), F_OK) == 0; ++i) {
        job.id = a.NewId();
        path = FileOf(a.dir, job.id);
    }
    if (written) written = ::access(path.c_str(), F_OK) != 0 && WriteJobFile(path, job, why);
    if (!written) {
        if (!a.fileFault)
            a.Note("The archive folder " + a.dir + " cannot be written (" + why +
                   "); jobs are printed but not archived until it can be.");
        a.fileFault = true;
        return false;
    }
    if (a.fileFault) a.Note("The archive folder " + a.dir + " is written again.");
    a.fileFault = false;
    struct stat st {};
    ::stat(path.c_str(), &st);

    int code = 0;
    if (!a.db && !a.OpenIndex(why)) {
        a.IndexFailed(why, 0);
        a.unindexed.push_back(job.id);
        return false;
    }
    bool ok = a.Exec("BEGIN IMMEDIATE", why, &code);
    // Jobs written while the index could not be go in first.
    for (size_t i = 0; ok && i < a.unindexed.size(); ++i) {
        Job late;
        std::string bad;
        if (!ReadJobFile(FileOf(a.dir, a.unindexed[i]), late, bad)) continue;
        late.id = a.unindexed[i];
        struct stat lst {};
        ::stat(FileOf(a.dir, late.id).c_str(), &lst);
        ok = a.Insert(late, lst.st_size, why, code);
    }
    ok = ok && a.Insert(job, st.st_size, why, code) && a.Exec("COMMIT", why, &code);
    if (!ok) {
        std::string ignored;
        if (a.db) a.Exec("ROLLBACK", ignored);
        a.unindexed.push_back(job.id);
        a.IndexFailed(why, code);
        return false;
    }
    if (a.indexFault) a.Note("The archive index " + a.indexPath + " is written again.");
    a.indexFault = false;
    a.unindexed.clear();
    if (Now() - a.lastPrune >= 3600) Prune();
    return true;
}

void Archive::Prune() {
    Impl& a = *impl_;
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

bool Archive::Find(const Query& query, std::vector<Hit>& hits, std::string& why) {
    Impl& a = *impl_;
    std::lock_guard<std::recursive_mutex> lock(a.mutex);
    hits.clear();
    // No folder yet: nothing was archived.
    struct stat st {};
    if (!a.db && ::stat(a.dir.c_str(), &st) != 0 && errno == ENOENT) return true;
    if (!a.db && !a.OpenIndex(why)) return false;
    // Each word a phrase of its own: what the user typed is never query syntax.
    std::string match;
    for (const std::string& w : query.words) {
        if (w.empty()) continue;
        std::string quoted = "\"";
        for (char c : w)
            quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
        match += (match.empty() ? "" : " ") + quoted + "\"";
    }
    std::string sql = "SELECT j.id, j.lu, j.name, j.number, j.received, j.delivered, j.pages,"
                      " j.bytes, j.medium, j.destination, j.outcome FROM jobs j WHERE 1";
    if (!match.empty())
        sql += " AND j.id IN (SELECT rowid FROM jobs_text WHERE jobs_text MATCH ?1)";
    if (!query.lu.empty()) sql += " AND j.lu = ?2 COLLATE NOCASE";
    if (query.since) sql += " AND j.delivered >= ?3";
    if (query.until) sql += " AND j.delivered < ?4";
    sql += " ORDER BY j.delivered DESC, j.id DESC LIMIT ?5";
    Stmt s(a.db, sql.c_str());
    if (!s) {
        why = sqlite3_errmsg(a.db);
        return false;
    }
    if (!match.empty()) s.Text(1, match);
    if (!query.lu.empty()) s.Text(2, query.lu);
    if (query.since) s.Int(3, query.since);
    if (query.until) s.Int(4, query.until);
    s.Int(5, query.limit);
    int rc;
    while ((rc = sqlite3_step(s.s)) == SQLITE_ROW) {
        Hit h;
        h.job.id = s.ColInt(0);
        h.job.lu = s.Col(1);
        h.job.name = s.Col(2);
        h.job.number = static_cast<long>(s.ColInt(3));
        h.job.received = s.ColInt(4);
        h.job.delivered = s.ColInt(5);
        h.job.pages = static_cast<long>(s.ColInt(6));
        h.job.bytes = s.ColInt(7);
        h.job.medium = s.Col(8);
        h.job.destination = s.Col(9);
        h.job.outcome = s.Col(10);
        Job whole;
        std::string unread;
        if (ReadJobFile(FileOf(a.dir, h.job.id), whole, unread))
            h.context = ContextLine(whole.text, query.words);
        hits.push_back(std::move(h));
    }
    if (rc != SQLITE_DONE) {
        why = sqlite3_errmsg(a.db);
        return false;
    }
    return true;
}

bool Archive::Get(long long id, Job& job, std::string& why) {
    if (!ReadJobFile(FileOf(impl_->dir, id), job, why)) return false;
    job.id = id;
    return true;
}

} // namespace archive
