// Kept jobs through the status endpoint of a running pool against the host
// simulator: the LU's page lists them, a POST delivers one again through the
// LU's own delivery or removes it, and only with the token from the same origin.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "status_http.h"
#include "testutil.h"

namespace {

using testutil::ListDir;
using testutil::Proc;
using testutil::WriteFile;

std::vector<std::string> Kept(const testutil::TempDir& dir, size_t want) {
    return testutil::WaitFiles(dir.file("pool/ONE/failed"), want, 15000);
}

TEST(KeptJobsEndpoint, APostWithTheTokenFromTheSameOriginDeliversOrRemovesAKeptJob) {
    testutil::TempDir dir;
    ASSERT_EQ(::mkdir(dir.file("pool").c_str(), 0755), 0);
    testutil::Host host(dir, "host",
                        "negotiate tn3270e LUONE\nbind\nscs \"FIRST JOB\" always\nexpect-response\n"
                        "eoj\nscs \"SECOND JOB\" always\nexpect-response\neoj\nhold\n",
                        {"--timeout", "30000", "--clients", "1"});
    const int hostPort = host.port;
    ASSERT_NE(hostPort, 0) << host.proc->text();
    const int printerPort = testutil::FreePort();
    // The printer is not there, and the kept jobs are not tried again on their own in the test's
    // time: only a request sends them.
    WriteFile(dir.file("pool/ONE.ini"),
              "[CONFIGURATION]\nHOSTNAME=127.0.0.1\nSERVERNAME=" + std::to_string(hostPort) +
                  "\nLUTYPE=1\n3270E=1\nFILENAME=JOB\nCONNECTTIMEOUT=0\nRETRYINTERVAL=600\n"
                  "USESOCKET=1\nSOCKETPORT=127.0.0.1:" +
                  std::to_string(printerPort) + "\nKEEPFAILED=1\nSOCKETTIMEOUT=1\n");
    const std::string token = "s3cret-token-0123456789";
    WriteFile(dir.file("token"), token + "\n");
    const int port = testutil::FreePort();
    const std::string self = "127.0.0.1:" + std::to_string(port);
    Proc d({TWPRINTERD_PATH, "--pool", dir.file("pool"), "--status", self, "--status-token",
            dir.file("token")},
           dir.path(), {"TWPRINTER_DIR=" + dir.path()});
    ASSERT_SAYS(d, "Status endpoint on");
    std::vector<std::string> kept = Kept(dir, 2);
    ASSERT_EQ(kept.size(), 2u) << d.text();
    const std::string bearer = "Authorization: Bearer " + token + "\r\n";
    // The gauge of jobs waiting, once it reads want (3 s at most: a folder's count may age a
    // second when this process did not change it), -1 when the series is missing.
    auto waiting = [&](long want) {
        long n = -1;
        for (int i = 0; i < 30; ++i) {
            const std::string m = Body(Get(port, "/metrics", bearer));
            const std::string series = "\ntwprinter_jobs_waiting{lu=\"ONE\"} ";
            const size_t at = m.find(series);
            n = at == std::string::npos ? -1 : std::atol(m.c_str() + at + series.size());
            if (n == want) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return n;
    };
    EXPECT_EQ(waiting(2), 2);

    // The page and the JSON show both, with the forms to act on them.
    const std::string page = Get(port, "/lu/ONE", bearer);
    EXPECT_EQ(Status(page), 200);
    EXPECT_HAS(page, "Kept jobs (2)");
    for (const std::string& k : kept)
        EXPECT_HAS(page, "action=\"/lu/ONE/kept/" + k + "/deliver\"") << k << page;
    EXPECT_HAS(page, "class=\"kept\">kept</td>");
    EXPECT_EQ(Status(Get(port, "/lu/ONE")), 401);
    const std::string json = Body(Get(port, "/api/v1/lus/ONE", bearer));
    EXPECT_HAS(json, "{\"file\":\"" + kept[0] + "\",\"path\":\"" +
                         dir.file("pool/ONE/failed/" + kept[0]) + "\"");
    EXPECT_HAS(json, "\"errors\":[{");

    auto post = [&](const std::string& path, const std::string& headers,
                    const std::string& body = "") {
        return testutil::Post(port, path, headers, body);
    };
    const std::string first = "/lu/ONE/kept/" + kept[0] + "/deliver";
    const std::string origin = "Origin: http://" + self + "\r\n";
    // No origin, another origin, a referer of another host: refused before the token counts.
    EXPECT_EQ(Status(post(first, bearer)), 403);
    EXPECT_EQ(Status(post(first, bearer + "Origin: http://evil.example\r\n")), 403);
    EXPECT_EQ(Status(post(first, bearer + "Referer: http://evil.example/lu/ONE\r\n")), 403);
    EXPECT_EQ(Status(post(first, bearer + "Origin: http://" + self + ".evil.example\r\n")), 403);
    // Same origin, no token or a wrong one.
    EXPECT_EQ(Status(post(first, origin)), 401);
    EXPECT_EQ(Status(post(first, origin, "token=wrong-token-0123456789")), 401);
    EXPECT_EQ(Status(post(first, origin + "Authorization: Bearer " + token + "x\r\n")), 401);
    // Names the folder does not list, and requests that are too big or not HTTP.
    EXPECT_EQ(Status(post("/lu/ONE/kept/nothing/deliver", origin + bearer)), 404);
    EXPECT_EQ(Status(post("/lu/ONE/kept/..%2F..%2FONE.ini/delete", origin + bearer)), 404);
    EXPECT_EQ(Status(post("/lu/TWO/kept/" + kept[0] + "/deliver", origin + bearer)), 404);
    EXPECT_EQ(Status(post(first, origin + bearer, std::string(10000, 'x'))), 413);
    const int junk = Status(Ask(port, "POST /lu/ONE/kept/\x01\xff HTTP/9\r\n\r\n"));
    EXPECT_TRUE(junk == 0 || junk == 400 || junk == 404 || junk == 505) << junk;
    EXPECT_EQ(Kept(dir, 2).size(), 2u);
    EXPECT_TRUE(ListDir(dir.file("pool")).size() >= 2u);

    // The second is removed through the JSON route with the bearer token and a referer.
    const std::string removed = post("/api/v1/lus/ONE/kept/" + kept[1] + "/delete",
                                     bearer + "Referer: http://" + self + "/lu/ONE\r\n");
    EXPECT_EQ(Status(removed), 202) << removed;
    ASSERT_EQ(Kept(dir, 1), std::vector<std::string>{kept[0]}) << d.text();
    EXPECT_EQ(waiting(1), 1);

    // The printer comes up; the form's POST (token in its body) sends the first job to it.
    testutil::LatePrinter printer(printerPort);
    ASSERT_TRUE(printer.ok());
    const std::string sent = post(first, origin, "token=" + token);
    EXPECT_EQ(Status(sent), 303) << sent;
    EXPECT_HAS(sent, "Location: /lu/ONE");
    const std::vector<std::string> printed = printer.Jobs(1, 10000);
    ASSERT_EQ(printed.size(), 1u) << d.text();
    EXPECT_HAS(printed[0], "FIRST JOB") << d.text();
    EXPECT_TRUE(Kept(dir, 0).empty()) << d.text();
    ASSERT_SAYS(d, "was delivered on request");
    EXPECT_HAS(d.text(), dir.file("pool/ONE/failed/" + kept[0]));
    const std::string after = Body(Get(port, "/metrics", bearer));
    EXPECT_HAS(after, "twprinter_jobs_delivered_total{lu=\"ONE\"} 1");
    EXPECT_HAS(after, "twprinter_up{lu=\"ONE\"} 1");
    EXPECT_HAS(after, "twprinter_jobs_waiting{lu=\"ONE\"} 0");
    EXPECT_EQ(Status(post(first, origin + bearer)), 404);
}

} // namespace
