// The built-in EBCDIC table, translation files and host code pages.
#include "config/translate.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

std::string Record(uint16_t mark, const std::string& body) {
    std::string r;
    r += static_cast<char>(mark & 0xFF);
    r += static_cast<char>(mark >> 8);
    r += static_cast<char>(body.size() & 0xFF);
    r += static_cast<char>(body.size() >> 8);
    return r + body;
}

std::string Le32(uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i)
        s[i] = static_cast<char>(v >> (8 * i));
    return s;
}

std::string Table(uint32_t key, uint8_t fill, size_t size = 256) {
    std::string t = Le32(key);
    for (size_t i = 0; i < size; ++i)
        t += static_cast<char>((i + fill) & 0xFF);
    return t;
}

// A complete valid file whose record 105 maps b to b ^ 0x55; CR LF and Ctrl-Z
// bytes inside must survive the read.
std::string ValidFile() {
    std::string f = Record(0xADF1, Le32(100) + Le32(1));
    f += Record(0xADF1, Le32(101) + std::string(512, '\x1A'));
    f += Record(0xADF1, Table(103, 1));
    f += Record(0xADF1, Table(104, 2));
    std::string t = Le32(105);
    for (int i = 0; i < 256; ++i)
        t += static_cast<char>(i ^ 0x55);
    f += Record(0xADF1, t);
    f += Record(0xADF1, Table(106, 3));
    return f;
}

void ResetTable() {
    std::memcpy(gEbcdicToAscii, kBuiltinEbcdicToAscii, 256);
}

struct Xlate : ::testing::Test {
    void SetUp() override { ResetTable(); }
    void TearDown() override { ResetTable(); }
    testutil::TempDir dir;
    int Load(const std::string& bytes, std::string& err) {
        std::string path = dir.file("x.xlt");
        testutil::WriteFile(path, bytes);
        testing::internal::CaptureStderr();
        int rc = PrtXlateInit(path);
        err = testing::internal::GetCapturedStderr();
        return rc;
    }
};

} // namespace

TEST(BuiltinTable, ChoicesOfTheTable) {
    EXPECT_EQ(gTranslate, 1);
    EXPECT_EQ(0, std::memcmp(gEbcdicToAscii, kBuiltinEbcdicToAscii, 256));
    const char* upper = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    const uint8_t upperCodes[] = {0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9,
                                  0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9,
                                  0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9};
    for (int i = 0; i < 26; ++i) {
        EXPECT_EQ(kBuiltinEbcdicToAscii[upperCodes[i]], upper[i]);
        EXPECT_EQ(kBuiltinEbcdicToAscii[upperCodes[i] - 0x40], upper[i] + 32);
    }
    for (int d = 0; d < 10; ++d)
        EXPECT_EQ(kBuiltinEbcdicToAscii[0xF0 + d], '0' + d);
    struct {
        uint8_t e, a;
    } specials[] = {{0x00, 0x20}, {0x40, 0x20}, {0x02, 0x00}, {0x03, 0x00}, {0x1B, 0x00},
                    {0x1C, '*'},  {0x1E, ';'},  {0x4A, 0xA2}, {0x5F, 0xAC}, {0x6A, 0xA6},
                    {0x4F, '|'},  {0x5A, '!'},  {0x79, '`'},  {0xA1, '~'},  {0xC0, '{'},
                    {0xD0, '}'},  {0xE0, '\\'}, {0x4B, '.'},  {0x7D, '\''}, {0x7F, '"'},
                    {0x01, '?'},  {0xE1, '?'},  {0xFF, '?'},  {0x15, '?'},  {0xBA, '?'}};
    for (auto s : specials)
        EXPECT_EQ(kBuiltinEbcdicToAscii[s.e], s.a) << int(s.e);
    int questions = 0;
    for (int i = 0; i < 256; ++i)
        questions += kBuiltinEbcdicToAscii[i] == '?';
    EXPECT_EQ(questions, 156);
}

TEST_F(Xlate, ValidFileReplacesTheTable) {
    std::string err;
    EXPECT_EQ(Load(ValidFile(), err), 0);
    EXPECT_EQ(err, "");
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(gEbcdicToAscii[i], i ^ 0x55);
    // Anything after the sixth record is ignored.
    ResetTable();
    EXPECT_EQ(Load(ValidFile() + "garbage", err), 0);
}

TEST_F(Xlate, BrokenFilesAreReportedAndKeepTheBuiltinTable) {
    std::string path = dir.file("x.xlt");
    std::string notValid = "\n" + path + " is not a valid translations file\n";
    std::string full = ValidFile();
    std::string err;
    std::vector<std::pair<std::string, std::string>> cases = {
        {"empty", ""},
        {"header only", Record(0xADF1, Le32(100) + Le32(1))},
        {"wrong header value", Record(0xADF1, Le32(100) + Le32(2)) + full.substr(12)},
        {"wrong header key", Record(0xADF1, Le32(99) + Le32(1)) + full.substr(12)},
        {"end mark", Record(0xADF0, Le32(100) + Le32(1)) + full.substr(12)},
        {"bad mark", Record(0x1234, Le32(100) + Le32(1)) + full.substr(12)},
        {"short header body", Record(0xADF1, Le32(100)) + full.substr(12)},
        {"record 2 key", full.substr(0, 12) + Record(0xADF1, Le32(102) + std::string(512, 0)) +
                             full.substr(12 + 520)},
        {"key 102 before 103",
         full.substr(0, 12 + 520) + Record(0xADF1, Table(102, 0)) + full.substr(12 + 520)},
        {"table of 259",
         full.substr(0, 532) + Record(0xADF1, Table(103, 0, 255)) + full.substr(532 + 264)},
        {"table of 261",
         full.substr(0, 532) + Record(0xADF1, Table(103, 0, 257)) + full.substr(532 + 264)},
        {"truncated body", full.substr(0, 532 + 100)},
        {"truncated mark", full.substr(0, 533)},
    };
    for (auto& [what, bytes] : cases) {
        ResetTable();
        EXPECT_EQ(Load(bytes, err), 1) << what;
        EXPECT_EQ(err, notValid) << what;
        EXPECT_EQ(0, std::memcmp(gEbcdicToAscii, kBuiltinEbcdicToAscii, 256)) << what;
    }

    // Record 6 missing: not valid, yet record 5 is already in force.
    ResetTable();
    EXPECT_EQ(Load(full.substr(0, full.size() - 264), err), 1);
    EXPECT_EQ(err, notValid);
    EXPECT_EQ(gEbcdicToAscii[0], 0x55);

    testing::internal::CaptureStderr();
    EXPECT_EQ(PrtXlateInit(dir.file("missing.xlt")), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "\nUnable to open translations file " +
                                                          dir.file("missing.xlt") +
                                                          ", reason: No such file or directory\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(PrtXlateInit(""), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "\nUnable to open translations file , reason: Invalid argument\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(PrtXlateInit(dir.path()), 1); // a directory opens but cannot be read
    EXPECT_NE(testing::internal::GetCapturedStderr(), "");
}

TEST_F(Xlate, RecordReaderStatuses) {
    auto status = [&](const std::string& bytes, size_t capacity) {
        std::string path = dir.file("r.bin");
        testutil::WriteFile(path, bytes);
        FILE* f = std::fopen(path.c_str(), "rb");
        uint8_t buf[600];
        int r = PrtXlateReadRecord(buf, capacity, f);
        std::fclose(f);
        return r;
    };
    EXPECT_EQ(status("", 8), -1);
    EXPECT_EQ(status("\xF1\xAD", 8), -1);
    EXPECT_EQ(status(Record(0xADF1, "12345678"), 8), 8);
    EXPECT_EQ(status(Record(0xADF1, "123456789"), 8), -3);
    EXPECT_EQ(status(Record(0xADF1, "1234"), 8), 4);
    EXPECT_EQ(status(Record(0xADF1, "1234").substr(0, 6), 8), -1);
    EXPECT_EQ(status(Record(0xADF0, "1234"), 8), -5);
    EXPECT_EQ(status(Record(0xADF2, "1234"), 8), -4);
    EXPECT_EQ(status(Record(0xADF1, ""), 8), 0);
}

TEST_F(Xlate, HostCodePages) {
    std::string msg;
    // "Hello [x]!" differs between 037 and 1047 only in the brackets.
    const uint8_t text[] = {0xC8, 0x85, 0x93, 0x93, 0x96, 0x40, 0xBA, 0xA7, 0xBB, 0x5A};
    auto decode = [&] {
        std::string s;
        for (uint8_t b : text)
            s += static_cast<char>(gEbcdicToAscii[b]);
        return s;
    };
    ASSERT_TRUE(LoadCodePage("037", msg)) << msg;
    EXPECT_EQ(decode(), "Hello [x]!");
    EXPECT_EQ(gEbcdicToAscii[0xAD], 0xDD); // Y acute in 037
    EXPECT_EQ(gEbcdicToAscii[0xBD], 0xA8); // diaeresis
    EXPECT_EQ(gEbcdicToAscii[0x4A], 0xA2);
    EXPECT_EQ(gEbcdicToAscii[0x5F], 0xAC);
    EXPECT_EQ(gEbcdicToAscii[0xB0], '^');
    EXPECT_EQ(gEbcdicToAscii[0x41], 0xA0); // no-break space
    EXPECT_EQ(gEbcdicToAscii[0x00], 0x20); // control choices of the built-in table stay
    EXPECT_EQ(gEbcdicToAscii[0x1B], 0x00);
    EXPECT_EQ(gEbcdicToAscii[0x15], '?');
    EXPECT_EQ(gEbcdicToAscii[0xFF], '?'); // EO is a control, never a byte of its own

    ASSERT_TRUE(LoadCodePage("IBM-1047", msg)) << msg;
    EXPECT_EQ(decode(), "Hello \xDDx\xA8!"); // the brackets of 037 are Y acute and diaeresis
    EXPECT_EQ(gEbcdicToAscii[0xAD], '[');
    EXPECT_EQ(gEbcdicToAscii[0xBD], ']');
    EXPECT_EQ(gEbcdicToAscii[0x5F], '^');
    EXPECT_EQ(gEbcdicToAscii[0xB0], 0xAC); // not sign
    EXPECT_EQ(gEbcdicToAscii[0x15], '?');  // NL is a control in 1047 too

    ASSERT_TRUE(LoadCodePage("273", msg)) << msg; // German
    EXPECT_EQ(gEbcdicToAscii[0x4A], 0xC4);        // A umlaut
    EXPECT_EQ(gEbcdicToAscii[0xE0], 0xD6);        // O umlaut

    ASSERT_TRUE(LoadCodePage("1141", msg)) << msg; // German with euro, into ISO 8859-15
    EXPECT_EQ(gEbcdicToAscii[0x9F], 0xA4);         // euro sign

    for (const char* page :
         {"037",  "273",  "277",  "278",  "280",  "284",  "285",  "297",  "500",   "871",   "1047",
          "1140", "1142", "1143", "1144", "1145", "1146", "1147", "1148", "cp500", "IBM037"}) {
        EXPECT_TRUE(LoadCodePage(page, msg)) << page << ": " << msg;
        EXPECT_EQ(gEbcdicToAscii[0xC1], 'A') << page;
        for (int b = 0; b < 256; ++b) {
            uint8_t v = gEbcdicToAscii[b];
            EXPECT_FALSE((v > 0 && v < 0x20) || (v >= 0x7F && v < 0xA0)) << page << " " << b;
        }
    }

    // Unknown pages leave the table as it is and say why.
    ResetTable();
    for (const char* bad : {"99999", "abc", "IBM", "437", "850"}) {
        EXPECT_FALSE(LoadCodePage(bad, msg)) << bad;
        EXPECT_NE(msg.find(bad), std::string::npos) << msg;
        EXPECT_EQ(0, std::memcmp(gEbcdicToAscii, kBuiltinEbcdicToAscii, 256)) << bad;
    }
    EXPECT_TRUE(LoadCodePage("", msg));
    EXPECT_TRUE(LoadCodePage("  ", msg));
    EXPECT_EQ(0, std::memcmp(gEbcdicToAscii, kBuiltinEbcdicToAscii, 256));
}
