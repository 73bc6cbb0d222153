// The archive's SQLite index: its tables, made and filled from the segments
// when missing, set aside and made again when damaged, rows in and out.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "archive/archive_internal.h"

namespace archive {
namespace {

// Raised when the tables change: an index of another layout is made again
// from the files.
constexpr int kLayout = 3;

constexpr const char* kSchema =
    // doc numbers the rows densely for the word index (whose lists of rows then
    // stay small), and is never given twice, so that words left behind by a
    // row replaced match nothing.
    "CREATE TABLE jobs(doc INTEGER PRIMARY KEY AUTOINCREMENT, id INTEGER UNIQUE, lu TEXT,"
    " name TEXT, number INTEGER, received INTEGER, delivered INTEGER, pages INTEGER,"
    " bytes INTEGER, medium TEXT, destination TEXT, outcome TEXT, segment INTEGER,"
    " offset INTEGER, length INTEGER);"
    "CREATE INDEX jobs_delivered ON jobs(delivered);"
    // Only which job holds which word: the text is in the segments, a line of
    // context is read from there, and positions would make the index as large
    // as the text.
    "CREATE VIRTUAL TABLE jobs_text USING fts5(text, content='', detail=none, columnsize=0);"
    "PRAGMA user_version=3;";

// The words of a batch wait in memory until its commit, instead of being
// written in a segment per megabyte that must then be merged again and again:
// a third of the time, and a smaller index. Older libraries without it work as before.
constexpr const char* kPendingWords =
    "INSERT INTO jobs_text(jobs_text, rank) VALUES('hashsize', 16777216)";

constexpr const char* kDropAll = "DROP TABLE IF EXISTS jobs; DROP TABLE IF EXISTS jobs_text;";

} // namespace

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

bool Damaged(int rc) {
    rc &= 0xFF;
    return rc == SQLITE_CORRUPT || rc == SQLITE_NOTADB;
}

// Each word of text once, in the order first seen: the index keeps no
// positions, so a repeat would only cost time. The same text always gives the
// same words, which a removal needs. A word is copied in lower case to the end
// of the answer and taken back when the table of words seen has it: no copy
// of the text, no allocation per word.
std::string IndexedWords(const std::string& text) {
    struct Word {
        uint64_t hash;
        uint32_t at, size; // in out
    };
    std::string out;
    out.reserve(text.size() / 2);
    std::vector<Word> words;
    std::vector<uint32_t> slots(1024, 0); // 1 + the word's index, 0 free
    auto word = [](unsigned char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c >= 0x80;
    };
    for (size_t i = 0; i < text.size();) {
        if (!word(static_cast<unsigned char>(text[i]))) {
            ++i;
            continue;
        }
        const size_t mark = out.size();
        if (!out.empty()) out += ' ';
        const size_t at = out.size();
        uint64_t hash = 14695981039346656037ull;
        for (; i < text.size() && word(static_cast<unsigned char>(text[i])); ++i) {
            char c = text[i];
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            out += c;
            hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
        }
        const size_t size = out.size() - at;
        size_t slot = hash & (slots.size() - 1);
        bool seen = false;
        for (; slots[slot] && !seen; slot = (slot + 1) & (slots.size() - 1)) {
            const Word& w = words[slots[slot] - 1];
            seen = w.hash == hash && w.size == size && out.compare(w.at, size, out, at, size) == 0;
        }
        if (seen) {
            out.resize(mark);
            continue;
        }
        words.push_back({hash, static_cast<uint32_t>(at), static_cast<uint32_t>(size)});
        slots[slot] = static_cast<uint32_t>(words.size());
        if (words.size() * 2 > slots.size()) {
            slots.assign(slots.size() * 2, 0);
            for (size_t n = 0; n < words.size(); ++n) {
                size_t s = words[n].hash & (slots.size() - 1);
                while (slots[s])
                    s = (s + 1) & (slots.size() - 1);
                slots[s] = static_cast<uint32_t>(n + 1);
            }
        }
    }
    return out;
}

// Without creating anything and with writes refused: a reader in WAL mode sees
// the last committed batch while the writers go on.
bool Archive::Impl::OpenReader(std::string& why) {
    const int rc = sqlite3_open_v2(indexPath.c_str(), &db,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_busy_timeout(db, 200);
        if (Exec("PRAGMA query_only=1", why)) return true;
    } else {
        why = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    }
    Close();
    return false;
}

bool Archive::Impl::OpenIndex(std::string& why) {
    if (db) return true;
    if (reader) return OpenReader(why);
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
            // WAL without a sync per batch: a crash may lose the last rows, never the
            // index, and the job files hold them. The log is cut back after a
            // checkpoint: left at its largest it would keep the disk that the
            // biggest batch ever took beside the index.
            if (Exec("PRAGMA journal_mode=WAL", why, &code) &&
                Exec("PRAGMA synchronous=NORMAL", why, &code) &&
                Exec("PRAGMA journal_size_limit=4194304", why, &code) &&
                Exec("BEGIN IMMEDIATE", why, &code)) {
                Stmt have(db, "SELECT count(*), (SELECT user_version FROM pragma_user_version)"
                              " FROM sqlite_master WHERE name='jobs'");
                code = have ? sqlite3_step(have.s) : sqlite3_errcode(db);
                const bool old =
                    code == SQLITE_ROW && have.ColInt(0) > 0 && have.ColInt(1) != kLayout;
                const bool fresh = code == SQLITE_ROW && (have.ColInt(0) == 0 || old);
                if (code == SQLITE_ROW) {
                    bool ok = true;
                    if (old) ok = Exec(kDropAll, why, &code);
                    if (ok && fresh) ok = Exec(kSchema, why, &code);
                    if (ok) Exec(kPendingWords, ignored);
                    if (ok && fresh) ok = Rebuild(why);
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

// Every segment of the folder into the new (empty) index.
bool Archive::Impl::Rebuild(std::string& why) {
    DIR* d = ::opendir(dir.c_str());
    if (!d) return true;
    std::vector<long long> segments;
    while (dirent* e = ::readdir(d))
        if (long long n = SegmentOf(e->d_name)) segments.push_back(n);
    ::closedir(d);
    long count = 0;
    bool ok = true;
    const long long expired = Now() - days * 86400LL;
    for (long long n : segments) {
        const std::string path = SegmentPath(dir, n);
        auto job = [&](long long id, const Place& place, const std::string& packed) {
            Job job;
            if (!ok) return;
            if (!UnpackJob(packed, job)) {
                Note("Archived job " + std::to_string(id) + " in " + path +
                     " is damaged; it is left out of the index.");
                return;
            }
            // Retention removes a job's row before its segment can go: its record
            // must not come back.
            if (days > 0 && job.delivered < expired) return;
            job.id = id;
            int code = 0;
            ok = Insert(job, place, IndexedWords(job.text), why, code);
            count += ok;
        };
        auto damaged = [&](long long from, long long to) {
            Note("The archive segment " + path + " is damaged from byte " + std::to_string(from) +
                 " to " + std::to_string(to) +
                 " (a write cut short); what was there is left out "
                 "of the index.");
        };
        if (!ScanSegment(path, job, damaged))
            Note("The archive segment " + path + " cannot be read (" + std::strerror(errno) +
                 "); its jobs are left out of the index.");
        if (!ok) return false;
    }
    if (count > 0)
        Note("The archive index " + indexPath + " was made from " + std::to_string(count) +
             " archived jobs.");
    return true;
}

bool Archive::Impl::Insert(const Job& job, const Place& place, const std::string& words,
                           std::string& why, int& code) {
    // Prepared once per opening of the index: a batch inserts many.
    if (!rowInsert) {
        rowInsert = std::make_unique<Stmt>(
            db, "INSERT OR REPLACE INTO jobs(id, lu, name, number, received, delivered, pages,"
                " bytes, medium, destination, outcome, segment, offset, length)"
                " VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
        textInsert = std::make_unique<Stmt>(
            db, "INSERT INTO jobs_text(rowid, text) VALUES(last_insert_rowid(), ?)");
    }
    Stmt& row = *rowInsert;
    Stmt& text = *textInsert;
    if (!row || !text) {
        code = sqlite3_errcode(db);
        why = sqlite3_errmsg(db);
        rowInsert.reset();
        textInsert.reset();
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
    row.Int(12, place.segment);
    row.Int(13, place.offset);
    row.Int(14, place.length);
    text.Text(1, words);
    for (Stmt* s : {&row, &text}) {
        code = sqlite3_step(s->s);
        sqlite3_reset(s->s);
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

void Archive::Impl::Remove(long long id, const Place& place) {
    Stmt doc(db, "SELECT doc FROM jobs WHERE id=?");
    doc.Int(1, id);
    const long long number = doc && sqlite3_step(doc.s) == SQLITE_ROW ? doc.ColInt(0) : 0;
    Stmt row(db, "DELETE FROM jobs WHERE id=?");
    row.Int(1, id);
    sqlite3_step(row.s);
    // The words of a job whose record cannot be read stay behind, matching no row.
    Job job;
    std::string packed, why;
    if (number > 0 && ReadRecord(dir, id, place, packed, why) && UnpackJob(packed, job)) {
        Stmt text(db, "INSERT INTO jobs_text(jobs_text, rowid, text) VALUES('delete', ?, ?)");
        text.Int(1, number);
        text.Text(2, IndexedWords(job.text));
        sqlite3_step(text.s);
    }
}

bool Archive::Impl::PlaceOf(long long id, Place& place, std::string& why) {
    Stmt s(db, "SELECT segment, offset, length FROM jobs WHERE id=?");
    if (!s) {
        why = sqlite3_errmsg(db);
        return false;
    }
    s.Int(1, id);
    const int rc = sqlite3_step(s.s);
    if (rc == SQLITE_ROW) {
        place = {s.ColInt(0), s.ColInt(1), s.ColInt(2)};
        return true;
    }
    why =
        rc == SQLITE_DONE ? "no job " + std::to_string(id) + " in the archive" : sqlite3_errmsg(db);
    return false;
}

} // namespace archive
