// The print archive in the status endpoint: a search box, the jobs found with
// a line of context, each job's text and PDF, a reprint through the LU's own
// medium, and the same as JSON. The archive is read as a WAL reader of its
// own, so a search never waits for the LUs' writers nor holds them up.
#pragma once
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "session/lu_board.h"

namespace service {

// One answer of the archive's routes.
struct ArchiveAnswer {
    unsigned status = 200;
    std::string body;
    const char* type = "text/plain; charset=utf-8";
    std::string download; // the file name a browser saves it as, "" none
};

using QueryArgs = std::vector<std::pair<std::string, std::string>>;

class ArchivePages {
  public:
    explicit ArchivePages(const session::LuBoard& board);
    // Waits for the reprint in progress; those still queued are dropped (said).
    ~ArchivePages();
    ArchivePages(const ArchivePages&) = delete;
    ArchivePages& operator=(const ArchivePages&) = delete;

    // /archive, /archive/ID, /archive/ID.pdf, /api/v1/archive, /api/v1/archive/ID.
    static bool IsPage(const std::string& path);
    // /archive/ID/reprint and /api/v1/archive/ID/reprint: id set, api when the JSON's.
    static bool IsReprint(const std::string& path, std::string& id, bool& api);

    // posting: a token is set, so the results get reprint buttons.
    ArchiveAnswer Get(const std::string& path, const QueryArgs& args, bool posting);
    // Queues the job's print through the medium of the LU it came from.
    ArchiveAnswer Reprint(const std::string& id, bool api);

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

// The search form for the status page, "" when no LU has the archive on.
std::string ArchiveSearchBox(const std::vector<session::LuEntry>& lus);

} // namespace service
