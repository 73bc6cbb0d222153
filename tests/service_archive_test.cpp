// The print archive through the status endpoint of a running twprinterd
// against the host simulator: the search box, the jobs found, their text and
// PDF, a reprint POST with the token from the same origin, bad questions.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "status_http.h"
#include "testutil.h"

namespace {

using testutil::Proc;
using testutil::WriteFile;

struct Endpoint {
    testutil::TempDir dir;
    std::unique_ptr<Proc> host, daemon;
    int port = 0;
    std::string self, bearer, origin;
    const std::string token = "archive-token-0123456789";

    // ini: keys beside the base ones; script: the host's.
    Endpoint(const std::string& script, const std::string& ini, bool withToken = true) {
        testutil::Host sim(dir, "host", script, {"--timeout", "30000"});
        host = std::move(sim.proc);
        WriteFile(dir.file("twprinter.ini"), testutil::LuIni(sim.port, ini));
        WriteFile(dir.file("token"), token + "\n");
        port = testutil::FreePort();
        self = "127.0.0.1:" + std::to_string(port);
        bearer = "Authorization: Bearer " + token + "\r\n";
        origin = "Origin: http://" + self + "\r\n";
        std::vector<std::string> argv{TWPRINTERD_PATH, "--status", self};
        if (withToken) argv.insert(argv.end(), {"--status-token", dir.file("token")});
        daemon = std::make_unique<Proc>(argv, dir.path(),
                                        std::vector<std::string>{"TWPRINTER_DIR=" + dir.path()});
        EXPECT_SAYS(*daemon, "Status endpoint on");
    }
    std::string Get(const std::string& path) { return ::Get(port, path, bearer); }
    std::string Post(const std::string& path, const std::string& headers,
                     const std::string& body = "") {
        return testutil::Post(port, path, headers, body);
    }
    bool WaitArchived(size_t n) {
        testutil::Until(
            [&] { return testutil::ArchivedJobs(dir.file("archive")) >= static_cast<long>(n); });
        // The index takes the batch right after its files.
        return testutil::Until(
            [&] { return testutil::Count(Body(Get("/api/v1/archive?q=report")), "\"id\":") >= n; },
            5000);
    }
};

std::string Header(const std::string& answer, const std::string& name) {
    const size_t at = answer.find("\r\n" + name + ": ");
    if (at == std::string::npos) return "";
    const size_t from = at + name.size() + 4;
    return answer.substr(from, answer.find("\r\n", from) - from);
}

// The id of the first job of a JSON answer, "" none.
std::string FirstId(const std::string& json) {
    const size_t at = json.find("{\"id\":");
    if (at == std::string::npos) return "";
    return json.substr(at + 6, json.find(',', at) - at - 6);
}

} // namespace

TEST(ArchiveEndpoint, JobsAreFoundReadDownloadedAndPrintedAgainFromTheStatusPage) {
    Endpoint e("negotiate tn3270e PRT9\nbind\nscs \"FIRST REPORT\\nPLAIN LINE\" always\n"
               "expect-response\neoj\n"
               // SECOND REPORT, A <B>KUMQUAT</B> & CO LINE, LAST: signs the simulator's
               // text does not carry.
               "scs E2C5C3D6D5C440D9C5D7D6D9E315C1404CC26ED2E4D4D8E4C1E34C61C26E405040C3D640D3"
               "C9D5C515D3C1E2E3 always\n"
               "expect-response\neoj\nhold\n",
               "ARCHIVEDAYS=1\nFILEFORMAT=pdf\n");
    ASSERT_TRUE(e.WaitArchived(2)) << e.daemon->text();

    // The status page has the search box; the archive page alone, its form.
    const std::string home = e.Get("/");
    EXPECT_HAS(home, "<form method=\"get\" action=\"/archive\">");
    EXPECT_EQ(Status(e.Get("/archive")), 200);

    // A word from the middle of the second job finds it alone, its line escaped.
    const std::string page = e.Get("/archive?q=kumquat&lu=&since=&until=");
    ASSERT_EQ(Status(page), 200) << page;
    EXPECT_HAS(page, "1 job found");
    EXPECT_HAS(page, "A &lt;B&gt;KUMQUAT&lt;/B&gt; &amp; CO LINE");
    EXPECT_LACKS(page, "<B>KUMQUAT");
    EXPECT_LACKS(page, "FIRST REPORT");
    const std::string json = Body(e.Get("/api/v1/archive?q=KUMQUAT"));
    const std::string id = FirstId(json);
    ASSERT_FALSE(id.empty()) << json;
    EXPECT_HAS(json, "\"lu\":\"PRT9\",\"name\":\"" + e.dir.file("JOB1.txt") + "\"");
    EXPECT_HAS(json, "\"pages\":1,");
    EXPECT_HAS(json, "\"pdf\":\"/archive/" + id + ".pdf\"");
    EXPECT_HAS(json, "\"context\":\"A <B>KUMQUAT</B> & CO LINE\"");
    EXPECT_HAS(page, "href=\"/archive/" + id + ".pdf\"");
    EXPECT_HAS(page, "action=\"/archive/" + id + "/reprint\"");

    // Newest first; the LU and dates narrow it.
    const std::string both = Body(e.Get("/api/v1/archive?q=report"));
    EXPECT_LT(both.find("SECOND REPORT"), both.find("FIRST REPORT")) << both;
    EXPECT_EQ(FirstId(both), id);
    EXPECT_EQ(FirstId(Body(e.Get("/api/v1/archive?q=report&lu=prt1"))), "");
    EXPECT_EQ(FirstId(Body(e.Get("/api/v1/archive?q=report&lu=prt9&limit=1"))), id);
    EXPECT_EQ(FirstId(Body(e.Get("/api/v1/archive?q=report&until=2001-01-01"))), "");
    EXPECT_EQ(FirstId(Body(e.Get("/api/v1/archive?q=report%20plain&since=2001-01-01%2010:00"))),
              FirstId(Body(e.Get("/api/v1/archive?q=plain"))));

    // One job: its metadata, text and the PDF as it was delivered.
    const std::string meta = Body(e.Get("/api/v1/archive/" + id));
    EXPECT_HAS(meta, "{\"id\":" + id + ",\"lu\":\"PRT9\"");
    EXPECT_HAS(meta, "\"outcome\":\"delivered\"");
    const std::string text = e.Get("/archive/" + id);
    EXPECT_EQ(Body(text), "SECOND REPORT\nA <B>KUMQUAT</B> & CO LINE\nLAST");
    EXPECT_EQ(Header(text, "Content-Type"), "text/plain; charset=utf-8");
    const std::string pdf = e.Get("/archive/" + id + ".pdf");
    ASSERT_EQ(Status(pdf), 200);
    EXPECT_EQ(Header(pdf, "Content-Type"), "application/pdf");
    EXPECT_EQ(Header(pdf, "Content-Disposition"), "attachment; filename=\"job-" + id + ".pdf\"");
    EXPECT_EQ(Body(pdf), testutil::ReadFile(e.dir.file("JOB1f.pdf")));

    // Unknown ids and bad questions, each with its reason; every route wants the token.
    EXPECT_EQ(Status(e.Get("/archive/12345")), 404);
    EXPECT_EQ(Status(e.Get("/archive/12345.pdf")), 404);
    EXPECT_EQ(Status(e.Get("/api/v1/archive/x1")), 404);
    EXPECT_EQ(Status(e.Get("/api/v1/archive/99999999999999999999")), 404);
    EXPECT_EQ(Status(e.Get("/archive/" + id + "/more")), 404);
    EXPECT_EQ(Status(::Get(e.port, "/archive?q=report")), 401);
    EXPECT_EQ(Status(::Get(e.port, "/archive/" + id + ".pdf")), 401);
    for (const auto& [query, reason] : std::vector<std::pair<std::string, std::string>>{
             {"", "q= needs a word"},
             {"?q=%20", "q= needs a word"},
             {"?q=a&since=yesterday", "since=yesterday is no date"},
             {"?q=a&until=2026-13-45", "until=2026-13-45 is no date"},
             {"?q=a&since=2026-02-02&until=2026-02-01", "until= is not after since="},
             {"?q=a&limit=0", "limit=0 is no number"},
             {"?q=a&limit=5000", "limit=5000 is no number"},
             {"?q=a&q=b", "q= is given twice"},
             {"?q=a&page=2", "unknown parameter page="}}) {
        const std::string bad = e.Get("/api/v1/archive" + query);
        EXPECT_EQ(Status(bad), 400) << query << bad;
        EXPECT_HAS(Body(bad), reason) << query << bad;
    }
    EXPECT_EQ(Status(e.Get("/archive?q=a&until=soon")), 400);

    // A reprint: refused from another origin or without the token, then printed through
    // the LU's own medium, the copy made again.
    const std::string reprint = "/archive/" + id + "/reprint";
    EXPECT_EQ(Status(e.Post(reprint, e.bearer)), 403);
    EXPECT_EQ(Status(e.Post(reprint, e.bearer + "Origin: http://evil.example\r\n")), 403);
    EXPECT_EQ(Status(e.Post(reprint, e.origin)), 401);
    EXPECT_EQ(Status(e.Post(reprint, e.origin, "token=wrong-token-0123456789")), 401);
    EXPECT_EQ(Status(e.Get(reprint)), 405);
    EXPECT_EQ(Status(e.Post("/archive/12345/reprint", e.origin + e.bearer)), 404);
    ASSERT_EQ(::unlink(e.dir.file("JOB1f.pdf").c_str()), 0);
    // Drawn again in a later second, the copy is still the same file.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    const std::string asked = e.Post(reprint, e.origin, "token=" + e.token);
    EXPECT_EQ(Status(asked), 202) << asked;
    EXPECT_HAS(asked, "queued to be printed again on LU");
    testutil::Until([&] { return !testutil::ReadFile(e.dir.file("JOB1f.pdf")).empty(); });
    const std::string again = testutil::ReadFile(e.dir.file("JOB1f.pdf"));
    EXPECT_EQ(again.compare(0, 5, "%PDF-"), 0) << e.daemon->text();
    EXPECT_EQ(again, Body(pdf));
    EXPECT_SAYS(*e.daemon, "is printed again on LU");
    const std::string api =
        e.Post("/api/v1/archive/" + id + "/reprint",
               e.bearer + "Referer: http://" + e.self + "/archive?q=kumquat\r\n");
    EXPECT_EQ(Status(api), 202) << api;
    EXPECT_HAS(Body(api), "{\"id\":" + id + ",\"lu\":") << api;
    EXPECT_EQ(e.daemon->Stop(SIGTERM), 0) << e.daemon->text();
}

TEST(ArchiveEndpoint, WithoutTheArchiveOrATokenThereIsNoSearchNorReprint) {
    Endpoint off("negotiate tn3270e PRT9\nbind\nscs \"A REPORT\" always\nexpect-response\n"
                 "eoj\nhold\n",
                 "");
    ASSERT_EQ(testutil::DeliveredJobs(off.dir.file("JOB"), 1, 10000).size(), 1u);
    EXPECT_EQ(Status(off.Get("/")), 200);
    EXPECT_LACKS(off.Get("/"), "action=\"/archive\"");
    const std::string none = off.Get("/api/v1/archive?q=report");
    EXPECT_EQ(Status(none), 404) << none;
    EXPECT_HAS(Body(none), "the archive is off") << none;

    // Loopback without a token: searching is open, changing is not.
    Endpoint open("negotiate tn3270e PRT9\nbind\nscs \"A REPORT\" always\nexpect-response\n"
                  "eoj\nhold\n",
                  "ARCHIVEDAYS=1\n", false);
    ASSERT_TRUE(open.WaitArchived(1)) << open.daemon->text();
    const std::string page = ::Get(open.port, "/archive?q=report");
    EXPECT_EQ(Status(page), 200) << page;
    EXPECT_HAS(page, "Printing again needs a STATUSTOKEN");
    EXPECT_LACKS(page, "/reprint\"");
    const std::string id = FirstId(Body(::Get(open.port, "/api/v1/archive?q=report")));
    ASSERT_FALSE(id.empty());
    EXPECT_EQ(Status(::Get(open.port, "/archive/" + id + ".pdf")), 404);
    EXPECT_EQ(Status(open.Post("/archive/" + id + "/reprint", open.origin)), 403);
}
