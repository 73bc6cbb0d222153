// Host records run through the interpreter into real job files, compared byte
// for byte with files worked out by hand. Each tests/data/datastream/NAME.in is
// one session:
//   set k=v ...   lu=1|3 lines=N after=N rows=R cols=C, or the flag btam / ff
//   rec HEX [=> STATUS]   one record; "{HEX}*N" repeats; STATUS defaults to 0
//   reply HEX     everything the record sent to the host (IAC EOR included)
//   eoj           the host ends the job; bracket: the next record ends a bracket
// NAME.<n>.txt is what the delivered job file number n must hold; no other job
// may be delivered.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>

#include "config/options.h"
#include "datastream/datastream.h"
#include "datastream/printbuffer.h"
#include "datastream/screen.h"
#include "session/session.h"
#include "session/telnet.h"
#include "session/transport.h"
#include "testutil.h"

namespace {

const std::string kDir = std::string(TEST_DATA_DIR) + "/datastream/";

std::string Expand(std::string hex) {
    for (size_t open; (open = hex.find('{')) != std::string::npos;) {
        size_t close = hex.find("}*", open);
        size_t digits = close + 2, after = digits;
        while (after < hex.size() && isdigit(static_cast<unsigned char>(hex[after])))
            ++after;
        std::string r, unit = hex.substr(open + 1, close - open - 1);
        for (int k = std::stoi(hex.substr(digits, after - digits)); k > 0; --k)
            r += unit;
        hex = hex.substr(0, open) + r + hex.substr(after);
    }
    return testutil::Unhex(hex);
}

// Everything the session has sent so far, without waiting.
std::string Drain(int fd) {
    std::string out;
    char buf[8192];
    ssize_t n;
    while ((n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT)) > 0)
        out.append(buf, static_cast<size_t>(n));
    return out;
}

void RunCase(const std::string& name) {
    testutil::TempDir dir;
    gOptions = Options{};
    gOptions.fileName = dir.file("J");
    gPrintToPort = 0;
    gPrintToFile = 1;
    gPrintAfterNLines = 0;
    gLinesPerPage = glinesize = gleftmargin = 0;
    gChannelsFixed = 0;
    fileCounter = 0;
    Lutype = 1;
    auto sp = std::make_unique<Session>();
    sp->altRows = 27;
    sp->altCols = 132;
    sp->rows = 24;
    sp->cols = 80;
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    ASSERT_EQ(TelAttach(sp.get(), fds[0], nullptr), 0);
    auto openBuffer = [&] {
        sp->altSize = static_cast<int16_t>(sp->altRows * sp->altCols);
        sp->screen = ScreenNew(sp.get());
    };
    openBuffer();
    PrScreenInit(sp.get());

    std::ifstream in(kDir + name + ".in");
    std::string line, sent;
    int lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        SCOPED_TRACE(name + ".in:" + std::to_string(lineNo));
        std::istringstream ls(line);
        std::string cmd;
        ls >> cmd;
        std::string rest;
        std::getline(ls, rest);
        if (cmd.empty() || cmd[0] == '#') continue;
        if (cmd == "set") {
            std::istringstream kv(rest);
            for (std::string item; kv >> item;) {
                size_t eq = item.find('=');
                std::string k = item.substr(0, eq);
                int v = eq == std::string::npos ? 1 : std::stoi(item.substr(eq + 1));
                if (k == "lu") Lutype = v;
                if (k == "lines") gLinesPerPage = v;
                if (k == "after") gPrintAfterNLines = v;
                if (k == "btam") gOptions.btam = v;
                if (k == "ff") gOptions.formFeed = v;
                if (k == "rows") sp->altRows = static_cast<int16_t>(v);
                if (k == "cols") sp->altCols = static_cast<int16_t>(v);
                if (k == "rows" || k == "cols") openBuffer();
            }
        } else if (cmd == "rec") {
            EXPECT_EQ(sent, "") << "reply not expected: " << testutil::Hex(sent);
            size_t arrow = rest.find("=>");
            int want = arrow == std::string::npos ? 0 : std::stoi(rest.substr(arrow + 2));
            std::string rec = Expand(rest.substr(0, arrow));
            const auto* bytes = reinterpret_cast<const uint8_t*>(rec.data());
            int status;
            if (rec.size() <= INT16_MAX) {
                status = TelDeliverRecord(sp.get(), bytes, static_cast<int16_t>(rec.size()));
            } else { // as the session hands over a long record
                status = dsoutproc(sp.get(), bytes, static_cast<int32_t>(rec.size()));
                FinishRecord(sp.get());
            }
            EXPECT_EQ(status, want);
            EXPECT_EQ(inProgress, 0);
            sent = Drain(fds[1]);
        } else if (cmd == "reply") {
            EXPECT_EQ(testutil::Hex(sent), testutil::Hex(Expand(rest)));
            sent.clear();
        } else if (cmd == "eoj") {
            PrScreenRemote(sp.get());
        } else if (cmd == "bracket") {
            sp->bracket = 2;
        } else {
            ADD_FAILURE() << "unknown line: " << line;
        }
    }
    EXPECT_EQ(sent, "") << "reply not expected: " << testutil::Hex(sent);
    PrScreenRemote(sp.get());
    TelClose(sp.get());
    ::close(fds[1]);

    std::map<std::string, std::string> want, got;
    for (const auto& f : testutil::ListDir(kDir.substr(0, kDir.size() - 1)))
        if (f.rfind(name + ".", 0) == 0 && f.size() > 4 && f.substr(f.size() - 4) == ".txt")
            want["J" + f.substr(name.size() + 1, f.size() - name.size() - 5) + "f.txt"] =
                testutil::ReadFile(kDir + f);
    for (const auto& f : testutil::ListDir(dir.path()))
        got[f] = testutil::ReadFile(dir.file(f));
    for (const auto& [f, content] : want)
        EXPECT_EQ(testutil::Hex(got[f]), testutil::Hex(content)) << name << " job file " << f;
    for (const auto& [f, content] : got)
        EXPECT_TRUE(want.count(f)) << name << ": unexpected file " << f << ": " << content;
}

std::vector<std::string> Cases() {
    std::vector<std::string> names;
    for (const auto& f : testutil::ListDir(kDir.substr(0, kDir.size() - 1)))
        if (f.size() > 3 && f.substr(f.size() - 3) == ".in")
            names.push_back(f.substr(0, f.size() - 3));
    return names;
}

class HostStream : public ::testing::TestWithParam<std::string> {};

TEST_P(HostStream, ProducesTheExpectedJobFiles) {
    RunCase(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Files, HostStream, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return info.param; });

} // namespace
