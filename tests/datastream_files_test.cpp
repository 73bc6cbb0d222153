// Host records run through the data stream into real job files, delivered by
// the file medium and compared byte for byte with files worked out by hand.
// Each tests/data/datastream/NAME.in is one session:
//   set k=v ...  before the first record: lines=N after=N channels=A:B:..., the
//                flags btam ff notranslate lf (LINEEND=lf), and where jobs go: fixed (the one
//                file J0.txt), port (the device J0f.txt), noport (a missing
//                device), stdout, full (a job file on a full disk), codepage=N
//                and charset=NAME (the print file's); any time:
//                lu=1|3, owner=N, sf (fields mode), sendfails=N (what sending a
//                reply answers), rows=R cols=C (a new connection with that buffer)
//   rec HEX [later] [=> STATUS]  one record (later: written with the next that is not);
//                "{HEX}*N" repeats; STATUS defaults to 0
//   flush [=> STATUS]  what the later records hold written
//   reply HEX    every record it sent to the host, each followed by FFEF
//   eoj          the host ends the job, as the session does: when one is open
//   bracket XX   the extension option's bracket control with argument XX
//   exists F T   a file F holding T is in the spool already (and must stay)
//   said TEXT    the status lines reported since the last check contain TEXT
// NAME.<n>.txt is what job file J<n>f.txt must hold (standard output: NAME.0.txt);
// no other file may be left.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "config/report.h"
#include "config/translate.h"
#include "datastream/data_stream.h"
#include "datastream/host_link.h"
#include "datastream/print_buffer.h"
#include "output/delivery.h"
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

struct Host : datastream::HostLink {
    std::string sent;
    int fails = 0; // what sending answers; 0 sends
    int SendRecord(std::span<const uint8_t> b) override {
        if (fails) return fails;
        sent.append(b.begin(), b.end());
        sent += "\xFF\xEF";
        return 0;
    }
    bool ExtensionUnnegotiated() const override { return false; }
};

struct Report : config::Reporter {
    std::string lines;
    void ShowOnlineState(bool) override {}
    void ShowStatusMessage(int, const std::string&) override {}
    void ShowMessageBox(const std::string&) override {}
    bool AskYesNo(const std::string&) override { return true; }
    void StatusLine(const std::string& text) override { lines += text + "\n"; }
    // What was said beside the line per job.
    std::string Notes() const {
        std::string out;
        std::istringstream in(lines);
        for (std::string l; std::getline(in, l);)
            if (l.rfind("Job ", 0) != 0) out += l + "\n";
        return out;
    }
};

// One LU's data stream on the file medium (print files dir/J...), set up by set.
struct Rig {
    explicit Rig(const std::function<void(config::Settings&)>& set = {}) {
        s.fileName = dir.file("J");
        s.medium = config::Medium::File;
        s.luType = 1;
        if (set) set(s);
        delivery = std::make_unique<output::Delivery>(s, report, nullptr);
        ds = std::make_unique<datastream::DataStream>(s, report, host, *delivery);
        ds->StartConnection();
    }
    // One record (hex as Expand takes it), then the end of its job.
    void Job(const std::string& hex) {
        std::string rec = Expand(hex);
        EXPECT_EQ(
            ds->ProcessRecord({reinterpret_cast<const uint8_t*>(rec.data()), rec.size()}).code, 0);
        if (ds->JobOpen()) ds->EndJob();
    }
    testutil::TempDir dir;
    config::Settings s = config::DefaultSettings();
    Host host;
    Report report;
    std::unique_ptr<output::Delivery> delivery;
    std::unique_ptr<datastream::DataStream> ds;
};

void RunCase(const std::string& name) {
    testutil::TempDir dir;
    config::Settings s = config::DefaultSettings();
    s.fileName = dir.file("J");
    s.medium = config::Medium::File;
    s.luType = 1;
    Host host;
    Report report;
    std::unique_ptr<output::Delivery> delivery;
    std::unique_ptr<datastream::DataStream> ds;
    auto stream = [&]() -> datastream::DataStream& {
        if (!ds) {
            delivery = std::make_unique<output::Delivery>(s, report, nullptr);
            ds = std::make_unique<datastream::DataStream>(s, report, host, *delivery);
            ds->StartConnection();
        }
        return *ds;
    };
    std::map<std::string, std::string> want, got;
    int savedStdout = -1;

    std::ifstream in(kDir + name + ".in");
    std::string line;
    for (int lineNo = 1; std::getline(in, line); ++lineNo) {
        SCOPED_TRACE(name + ".in:" + std::to_string(lineNo));
        std::istringstream ls(line);
        std::string cmd, rest;
        ls >> cmd;
        std::getline(ls >> std::ws, rest);
        if (cmd.empty() || cmd[0] == '#') continue;
        if (cmd == "set") {
            std::istringstream kv(rest);
            for (std::string item; kv >> item;) {
                size_t eq = item.find('=');
                std::string k = item.substr(0, eq), v = eq == item.npos ? "1" : item.substr(eq + 1);
                ASSERT_TRUE(!ds || k == "lu" || k == "rows" || k == "cols" || k == "owner" ||
                            k == "sf" || k == "sendfails")
                    << k << " after a record";
                if (k == "lines") s.linesPerPage = std::stoi(v);
                if (k == "after") s.printAfterNLines = std::stoi(v);
                if (k == "btam") s.btam = true;
                if (k == "ff") s.formFeed = true;
                if (k == "notranslate") s.translate = false;
                if (k == "codepage") {
                    std::string m;
                    ASSERT_TRUE(config::LoadCodePage(v, s.ebcdicToAscii, m)) << m;
                    ASSERT_TRUE(LoadHostCharacters(v, s.codePage, m)) << m;
                }
                if (k == "charset") s.outputCharset = v;
                if (k == "lf") s.lineEndLf = true;
                if (k == "channels") {
                    s.channelsFixed = true;
                    std::istringstream list(v);
                    int at = 3;
                    for (std::string n; std::getline(list, n, ':');)
                        s.channels[at++] = static_cast<uint8_t>(std::stoi(n));
                }
                if (k == "fixed" || k == "full") {
                    s.fixedFile = true;
                    s.fileName = dir.file(k == "fixed" ? "J0.txt" : "full");
                    if (k == "full") {
                        ASSERT_EQ(symlink("/dev/full", s.fileName.c_str()), 0);
                    }
                }
                if (k == "port" || k == "noport") {
                    s.medium = config::Medium::Port;
                    s.portName = dir.file(k == "port" ? "J0f.txt" : "none");
                    if (k == "port") testutil::WriteFile(s.portName, "");
                }
                if (k == "stdout") {
                    s.standardOutput = true;
                    std::fflush(stdout);
                    savedStdout = dup(1);
                    int fd = open(dir.file("J0f.txt").c_str(), O_WRONLY | O_CREAT, 0644);
                    dup2(fd, 1);
                    close(fd);
                }
                if (k == "lu") stream().State().luType = std::stoi(v);
                if (k == "owner") stream().State().owner = std::stoi(v);
                if (k == "sendfails") host.fails = std::stoi(v);
                if (k == "sf") stream().State().sfMode = true;
                if (k == "rows") stream().State().altRows = static_cast<int16_t>(std::stoi(v));
                if (k == "cols") stream().State().altCols = static_cast<int16_t>(std::stoi(v));
                if (k == "rows" || k == "cols") stream().StartConnection();
            }
        } else if (cmd == "rec") {
            EXPECT_EQ(host.sent, "") << "reply not expected: " << testutil::Hex(host.sent);
            size_t arrow = rest.find("=>");
            int status = arrow == std::string::npos ? 0 : std::stoi(rest.substr(arrow + 2));
            std::string hex = rest.substr(0, arrow);
            const bool later = hex.find("later") != std::string::npos;
            std::string rec = Expand(later ? hex.substr(0, hex.find("later")) : hex);
            using Flush = datastream::DataStream::Flush;
            EXPECT_EQ(stream()
                          .ProcessRecord({reinterpret_cast<const uint8_t*>(rec.data()), rec.size()},
                                         later ? Flush::Later : Flush::Now)
                          .code,
                      status);
        } else if (cmd == "flush") {
            size_t arrow = rest.find("=>");
            EXPECT_EQ(stream().FlushPending().code,
                      arrow == std::string::npos ? 0 : std::stoi(rest.substr(arrow + 2)));
        } else if (cmd == "reply") {
            EXPECT_EQ(testutil::Hex(host.sent), testutil::Hex(Expand(rest)));
            host.sent.clear();
        } else if (cmd == "eoj") {
            if (stream().JobOpen()) stream().EndJob();
        } else if (cmd == "bracket") {
            stream().Bracket(static_cast<uint8_t>(std::stoi(rest, nullptr, 16)));
        } else if (cmd == "exists") {
            std::string file = rest.substr(0, rest.find(' ')), text = rest.substr(file.size() + 1);
            testutil::WriteFile(dir.file(file), text);
            want[file] = text;
        } else if (cmd == "said") {
            EXPECT_NE(report.lines.find(rest), std::string::npos) << report.lines;
            report.lines.clear();
        } else {
            ADD_FAILURE() << "unknown line: " << line;
        }
    }
    EXPECT_EQ(host.sent, "") << "reply not expected: " << testutil::Hex(host.sent);
    if (stream().JobOpen()) stream().EndJob();
    ds.reset();
    delivery.reset();
    if (savedStdout >= 0) {
        std::fflush(stdout);
        dup2(savedStdout, 1);
        close(savedStdout);
    }

    for (const auto& f : testutil::ListDir(kDir.substr(0, kDir.size() - 1)))
        if (f.rfind(name + ".", 0) == 0 && f.size() > 4 && f.substr(f.size() - 4) == ".txt")
            want["J" + f.substr(name.size() + 1, f.size() - name.size() - 5) + "f.txt"] =
                testutil::ReadFile(kDir + f);
    struct stat st {};
    for (const auto& f : testutil::ListDir(dir.path()))
        if (lstat(dir.file(f).c_str(), &st) == 0 && S_ISREG(st.st_mode))
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

// The host's line length, page length and transparent bytes reach the drawn pages.
TEST(HostHints, ShapeThePdfPages) {
    Rig r([](config::Settings& s) { s.fileFormat = "pdf", s.paper = "a4"; });
    const testutil::TempDir& dir = r.dir;
    auto run = [&](const std::string& hex) { r.Job(hex); };
    // A line of 132 with a short text: landscape; the transparent bytes are not drawn.
    run("2BC10284C8C5D3D3D63504C1C2C3C415");
    EXPECT_EQ(testutil::PdfPageSize(dir.file("J0f.pdf")), "842 x 595");
    EXPECT_EQ(testutil::PdfText(dir.file("J0f.pdf")), "HELLO\n\f");
    // A host page of 80 lines fits one landscape sheet, without headings.
    run("2BC20250{C115}*10");
    std::vector<testutil::PdfWord> words = testutil::PdfWords(dir.file("J1f.pdf"));
    ASSERT_EQ(words.size(), 10u);
    EXPECT_NEAR(words[1].y - words[0].y, 559.28 / 80, 0.02);
    // One line when a job comes in, one when it is delivered.
    auto lines = [&](int n, const char* size) {
        const std::string job = "Job " + dir.file("J" + std::to_string(n));
        return job + ".txt received: " + size + ", 1 record, 1 page\n" + job +
               ".txt delivered to file " + dir.file("J" + std::to_string(n)) + "f.pdf\n";
    };
    EXPECT_EQ(r.report.lines, lines(0, "11 bytes") + lines(1, "30 bytes"));
}

// Every 12-bit address a reply can carry reads back as itself, in 64 distinct codes.
TEST(BufferAddress, TwelveBitCodesRoundTrip) {
    std::set<uint8_t> codes;
    for (int a = 0; a < 4096; ++a) {
        const uint8_t b[2] = {datastream::AddressCode(a >> 6), datastream::AddressCode(a)};
        codes.insert(b[1]);
        ASSERT_EQ(datastream::DecodeBufferAddress(b, 4096), a);
    }
    EXPECT_EQ(codes.size(), 64u);
}

} // namespace

// The Chinese and Korean pages and the euro Japanese ones: one job each, into
// the print file and, for Korean, through the port, which gets the same bytes.
TEST(DoubleBytePages, ChineseKoreanAndJapaneseWithEuro) {
    struct Page {
        const char* page;
        const char* host; // the record
        const char* text; // the print file, UTF-8
    } pages[] = {
        // "中文打印" with SHF line 6: the third character has no room.
        {"935", "2BC10206 0E5BCF57C34AF15A410F 15", "中文打\r\n印\r\n"},
        {"1388", "C1 0E5BCF57C30F C2 15", "A中文B\r\n"},
        {"937", "0E4C844CC50F 4040 C1 15", "中文  A\r\n"},
        // Korean words with a single-byte blank between them.
        {"933", "0ED0658A82B4E10F 40 0EB7A5ADE10F 15", "한국어 인쇄\r\n"},
        {"1364", "0ED0658A820F C1 15", "한국A\r\n"},
        // A double-byte blank is an ideographic space.
        {"1390", "0E4562 4040 45660F 15", "日\u3000本\r\n"},
        {"1399", "81 0E45620F E1 15", "a日€\r\n"},
    };
    for (const Page& p : pages)
        for (bool port : {false, true}) {
            if (port && std::string(p.page) != "933") continue;
            SCOPED_TRACE(std::string(p.page) + (port ? " port" : " file"));
            std::string m;
            Rig r([&](config::Settings& s) {
                s.medium = port ? config::Medium::Port : config::Medium::File;
                s.portName = s.fileName + "port";
                if (port) testutil::WriteFile(s.portName, "");
                EXPECT_TRUE(config::LoadCodePage(p.page, s.ebcdicToAscii, m)) << m;
                EXPECT_TRUE(LoadHostCharacters(p.page, s.codePage, m) && s.codePage.dbcs) << m;
            });
            r.Job(p.host);
            r.ds.reset(), r.delivery.reset(); // the port is closed
            EXPECT_EQ(testutil::ReadFile(port ? r.s.portName : r.dir.file("J0f.txt")), p.text);
            EXPECT_EQ(r.report.Notes(), "");
        }
}

// The Japanese job drawn as PDF reads back as its characters, each kanji two
// columns of the grid wide.
TEST(DoubleBytePages, PdfPagesReadBackInTheirColumns) {
    std::string m;
    auto kanji930 = [&m](config::Settings& s) {
        s.fileFormat = "pdf", s.paper = "a4";
        EXPECT_TRUE(LoadHostCharacters("930", s.codePage, m)) << m;
    };
    Rig r(kanji930);
    const testutil::TempDir& dir = r.dir;
    auto run = [&](const std::string& hex) { r.Job(hex); };
    // "AB日本 X" over "1 3 5 7 9", then 日本語 after an ideographic space.
    run("C1C20E456245660F40E7 15 F140F340F540F740F9 15 0E40404562456648E7 0F C1 15");
    const std::string pdf = dir.file("J0f.pdf");
    EXPECT_EQ(testutil::PdfText(pdf), "AB日本 X\n1 3 5 7 9\n  日本語A\n\f");
    std::map<std::string, double> x;
    for (const testutil::PdfWord& w : testutil::PdfWords(pdf))
        x[w.text] = w.x;
    ASSERT_TRUE(x.count("1") && x.count("9") && x.count("X")) << testutil::PdfText(pdf);
    const double cell = (x["9"] - x["1"]) / 8;
    EXPECT_GT(cell, 3);
    // X is in column 7 and 日本語 starts in column 2, as the job file counts them.
    EXPECT_NEAR(x["X"], x["1"] + 7 * cell, 0.3);
    bool kanji = false;
    for (const auto& [word, at] : x) {
        if (word.rfind("日本語", 0) != 0) continue;
        kanji = true;
        EXPECT_NEAR(at, x["1"] + 2 * cell, 0.3) << word;
    }
    EXPECT_TRUE(kanji) << testutil::PdfText(pdf);
    EXPECT_EQ(r.report.Notes(), "");

    // The classic layout reads the same file as characters too.
    Rig classic([&](config::Settings& s) { kanji930(s), s.classicLayout = true; });
    classic.Job("C1C20E456245660F C4 15");
    const std::string text = testutil::PdfText(classic.dir.file("J0f.pdf"));
    EXPECT_NE(text.find("AB日本D"), std::string::npos) << text;
}

// Repeats, blanks and nulls go out in blocks: each must print what the same
// characters sent one by one print, across line breaks, page ends, job ends,
// LINEEND=lf and a margin, and a repeat stops at the print limit exactly.
TEST(BulkRuns, PrintAsTheirCharactersOneByOne) {
    // Every job file the record leaves, in order.
    auto jobs = [](const std::function<void(config::Settings&)>& set, int lu,
                   const std::string& hex) {
        Rig rig([&](config::Settings& s) {
            s.luType = lu;
            if (set) set(s);
        });
        rig.Job(hex);
        std::string all;
        for (int n = 0;; ++n) {
            std::string f = rig.dir.file("J" + std::to_string(n) + "f.txt");
            if (access(f.c_str(), F_OK) != 0) break;
            all += "[" + testutil::ReadFile(f) + "]";
        }
        return all;
    };
    const std::vector<std::function<void(config::Settings&)>> variants = {
        {},
        [](config::Settings& s) { s.linesPerPage = 3; },
        [](config::Settings& s) { s.printAfterNLines = 2; },
        [](config::Settings& s) { s.lineEndLf = true; },
    };
    std::string a600;
    for (int k = 0; k < 600; ++k)
        a600 += "C1";
    for (size_t v = 0; v < variants.size(); ++v) {
        SCOPED_TRACE(v);
        // Repeat to address 600 (0x258: 12-bit code 0x49 0x58 as 6-bit pairs 49 D8).
        const std::string repeated = jobs(variants[v], 3,
                                          "F100"
                                          "114040"
                                          "3C4958C1"
                                          "C2");
        EXPECT_TRUE(repeated == jobs(variants[v], 3,
                                     "F100"
                                     "114040" +
                                         a600 + "C2"));
        EXPECT_NE(repeated.find("AAAB"), std::string::npos);
        // Nulls print nothing but take their cells: B lands where it would.
        EXPECT_TRUE(jobs(variants[v], 3,
                         "F100114040"
                         "3C404A00"
                         "C2") == jobs(variants[v], 3,
                                       "F100114040"
                                       "{00}*10 C2"));
        // A line feed at column 100 pads the next line to it.
        EXPECT_TRUE(jobs(variants[v], 1, "{C1}*100 25 C1") ==
                    jobs(variants[v], 1, "{C1}*100 15 {40}*100 C1"));
        // With a left margin (SHF) the pad runs to the column, margin included.
        EXPECT_EQ(jobs(variants[v], 1,
                       "2BC10484068400"
                       "{C1}*100 25 C1"),
                  jobs(variants[v], 1,
                       "2BC10484068400"
                       "{C1}*100 15 {40}*106 C1"));
    }
    // A control byte repeated is data: its table character, 132 to a line.
    config::Settings plain = config::DefaultSettings();
    const char tab = static_cast<char>(plain.ebcdicToAscii[0x05]);
    std::string want = "[" + std::string(132, tab) + "\r\n" + std::string(68, tab) + "]";
    EXPECT_EQ(jobs({}, 3,
                   "F100114040"
                   "3C4348"
                   "05")
                  .substr(0, want.size() - 1),
              want.substr(0, want.size() - 1));

    // Twenty-five rounds of the whole buffer (27 x 132) in one record of 105
    // bytes: the record's print stops at its limit, the byte past it included.
    Rig rig([](config::Settings& s) { s.luType = 3; });
    rig.Job("F100114040"
            "{3C4040C1}*25 ");
    const int64_t limit = 64 * 1024 + 64 * 105;
    EXPECT_NE(rig.report.lines.find("printed more than " + std::to_string(limit)),
              std::string::npos)
        << rig.report.lines;
    const std::string out = testutil::ReadFile(rig.dir.file("J0f.txt"));
    // Each CR and LF of a line break counts as printed, like a character.
    EXPECT_EQ(static_cast<int64_t>(out.size()), limit + 1);

    // The limit is in bytes: euro signs of three UTF-8 bytes each stop at it,
    // the last one whole.
    std::string m;
    Rig euro([&m](config::Settings& s) {
        s.luType = 3;
        EXPECT_TRUE(config::LoadCodePage("1141", s.ebcdicToAscii, m)) << m;
        EXPECT_TRUE(LoadHostCharacters("1141", s.codePage, m)) << m;
        s.outputCharset = "UTF-8";
    });
    euro.Job("F100114040"
             "{3C40409F}*25 ");
    const std::string euros = testutil::ReadFile(euro.dir.file("J0f.txt"));
    EXPECT_GT(static_cast<int64_t>(euros.size()), limit);
    EXPECT_LE(static_cast<int64_t>(euros.size()), limit + 3);
    EXPECT_EQ(euros.substr(euros.size() - 3), "\u20ac");
}
