// Search and read back: the index says which jobs hold the words and where
// they are, their records give the line of context, only for the jobs listed.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>

#include "archive/archive_internal.h"

namespace archive {
namespace {

bool WordChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || static_cast<unsigned char>(c) >= 0x80;
}

// A word as the index holds it: letters and digits (and anything past ASCII),
// in runs. "ACME-CORP" is two.
std::vector<std::string> Tokens(const std::string& word) {
    std::vector<std::string> tokens;
    std::string t;
    for (char c : word + " ") {
        if (WordChar(c)) {
            t += c;
        } else if (!t.empty()) {
            tokens.push_back(LowerAscii(t));
            t.clear();
        }
    }
    return tokens;
}

// Where in lower (the text in lower case) the tokens stand one after the other
// as whole words, npos when nowhere.
size_t PhraseAt(const std::string& lower, const std::vector<std::string>& phrase) {
    for (size_t at = lower.find(phrase[0]); at != std::string::npos;
         at = lower.find(phrase[0], at + 1)) {
        if (at > 0 && WordChar(lower[at - 1])) continue;
        size_t p = at;
        bool whole = true;
        for (size_t i = 0; whole && i < phrase.size(); ++i) {
            if (i > 0) {
                if (p < lower.size() && WordChar(lower[p])) whole = false;
                while (p < lower.size() && !WordChar(lower[p]))
                    ++p;
            }
            whole = whole && lower.compare(p, phrase[i].size(), phrase[i]) == 0;
            p += phrase[i].size();
        }
        if (whole && (p >= lower.size() || !WordChar(lower[p]))) return at;
    }
    return std::string::npos;
}

std::string LineAt(const std::string& text, size_t at) {
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

std::string LowerAscii(std::string text) {
    for (char& c : text)
        c = LowerAscii(c);
    return text;
}

std::string ContextLine(const std::string& text, const std::vector<std::string>& words) {
    const std::string lower = LowerAscii(text);
    size_t at = std::string::npos;
    for (const std::string& w : words)
        at = std::min(at, lower.find(LowerAscii(w)));
    return LineAt(text, at == std::string::npos ? 0 : at);
}

bool Archive::Find(const Query& query, std::vector<Hit>& hits, std::string& why) {
    Impl& a = *impl_;
    std::lock_guard<std::recursive_mutex> lock(a.mutex);
    Impl::ReaderScope closeReader{a};
    hits.clear();
    // No folder yet: nothing was archived.
    struct stat st {};
    if (!a.db && ::stat(a.dir.c_str(), &st) != 0 && errno == ENOENT) return true;
    // A reader finds nothing while a writer has yet to make the index.
    if (!a.db && a.reader && ::stat(a.indexPath.c_str(), &st) != 0 && errno == ENOENT) return true;
    if (!a.db && !a.OpenIndex(why)) return false;
    // Each word a string of its own: what the user typed is never query syntax.
    // The index keeps no positions: a word of several ("ACME-CORP") only finds
    // candidates, each confirmed by its text where those stand together.
    std::vector<std::string> tokens;
    std::vector<std::vector<std::string>> phrases;
    for (const std::string& w : query.words) {
        std::vector<std::string> t = Tokens(w);
        tokens.insert(tokens.end(), t.begin(), t.end());
        if (t.size() > 1) phrases.push_back(std::move(t));
    }
    std::string match;
    for (const std::string& t : tokens) {
        std::string quoted = "\"";
        for (char c : t)
            quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
        match += (match.empty() ? "" : " ") + quoted + "\"";
    }
    // Words given but none to look for (only punctuation): nothing matches.
    if (match.empty() && !query.words.empty()) return true;
    std::string where = " WHERE 1";
    if (!match.empty())
        where += " AND j.doc IN (SELECT rowid FROM jobs_text WHERE jobs_text MATCH ?1)";
    if (!query.lu.empty()) where += " AND j.lu = ?2 COLLATE NOCASE";
    if (query.since) where += " AND j.delivered >= ?3";
    if (query.until) where += " AND j.delivered < ?4";
    const std::string order = " ORDER BY j.delivered DESC, j.id DESC";
    std::string sql = "SELECT j.id, j.lu, j.name, j.number, j.received, j.delivered, j.pages,"
                      " j.bytes, j.medium, j.destination, j.outcome, j.segment, j.offset, j.length"
                      " FROM jobs j";
    // A common word matches many jobs: only their order is sorted, and the rows of
    // the few listed are read.
    if (phrases.empty())
        sql += " WHERE j.doc IN (SELECT j.doc FROM jobs j" + where + order + " LIMIT ?5)" + order;
    else
        sql += where + order;
    Stmt s(a.db, sql.c_str());
    if (!s) {
        why = sqlite3_errmsg(a.db);
        return false;
    }
    if (!match.empty()) s.Text(1, match);
    if (!query.lu.empty()) s.Text(2, query.lu);
    if (query.since) s.Int(3, query.since);
    if (query.until) s.Int(4, query.until);
    if (phrases.empty()) s.Int(5, query.limit);
    int rc = SQLITE_DONE;
    while (static_cast<long long>(hits.size()) < query.limit &&
           (rc = sqlite3_step(s.s)) == SQLITE_ROW) {
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
        const Place place{s.ColInt(11), s.ColInt(12), s.ColInt(13)};
        std::string packed, text, bad;
        const bool read = ReadRecord(a.dir, h.job.id, place, packed, bad);
        if (phrases.empty()) {
            if (read && JobTextUntil(packed, tokens, text, &h.pdf))
                h.context = ContextLine(text, tokens);
        } else {
            if (!read || !JobTextUntil(packed, {}, text, &h.pdf)) continue;
            const std::string lower = LowerAscii(text);
            size_t first = std::string::npos;
            for (const std::vector<std::string>& p : phrases) {
                const size_t at = PhraseAt(lower, p);
                if (at == std::string::npos) {
                    first = at;
                    break;
                }
                first = std::min(first, at);
            }
            if (first == std::string::npos) continue;
            h.context = LineAt(text, first);
        }
        hits.push_back(std::move(h));
    }
    if (static_cast<long long>(hits.size()) >= query.limit) rc = SQLITE_DONE;
    if (rc != SQLITE_DONE) {
        why = sqlite3_errmsg(a.db);
        return false;
    }
    return true;
}

bool Archive::Get(long long id, Job& job, std::string& why) {
    Impl& a = *impl_;
    std::lock_guard<std::recursive_mutex> lock(a.mutex);
    Impl::ReaderScope closeReader{a};
    Place place;
    std::string packed;
    if ((!a.db && !a.OpenIndex(why)) || !a.PlaceOf(id, place, why) ||
        !ReadRecord(a.dir, id, place, packed, why))
        return false;
    if (!UnpackJob(packed, job)) {
        why = "archived job " + std::to_string(id) + " in " + SegmentPath(a.dir, place.segment) +
              " is damaged";
        return false;
    }
    job.id = id;
    return true;
}

} // namespace archive
