// The built-in EBCDIC table, translation files and host code pages.
#include "config/translate.h"
#include "config_cases.h"

#include <gtest/gtest.h>

TEST(Translate, BuiltinTable) {
    // Letters and digits where every EBCDIC page has them; the controls the data
    // stream relies on: NUL prints as a blank, 0x02, 0x03 and 0x1B give nothing.
    const std::pair<int, int> codes[] = {
        {0xC1, 'A'}, {0xC9, 'I'},  {0xD1, 'J'},  {0xD9, 'R'}, {0xE2, 'S'}, {0xE9, 'Z'}, {0x81, 'a'},
        {0xA9, 'z'}, {0xF0, '0'},  {0xF9, '9'},  {0x40, ' '}, {0x00, ' '}, {0x02, 0},   {0x03, 0},
        {0x1B, 0},   {0x4A, 0xA2}, {0xE0, '\\'}, {0x7F, '"'}, {0x15, '?'}, {0xFF, '?'}};
    for (auto [e, a] : codes)
        EXPECT_EQ(config::kBuiltinEbcdicToAscii[e], a) << e;
    EXPECT_EQ(
        std::count(config::kBuiltinEbcdicToAscii.begin(), config::kBuiltinEbcdicToAscii.end(), '?'),
        156);
}

TEST(Translate, Files) {
    testutil::TempDir dir;
    const std::string path = dir.file("x.xlt");
    auto sub = [&](std::string text) {
        size_t at = text.find('@');
        return at == std::string::npos ? text : text.replace(at, 1, path);
    };
    std::vector<Case> cases = LoadCases("translate.txt");
    ASSERT_GE(cases.size(), 16u);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        testutil::WriteFile(path, c.Get("file"));
        config::EbcdicTable table = config::kBuiltinEbcdicToAscii;
        testing::internal::CaptureStderr();
        EXPECT_EQ(config::PrtXlateInit(path, table), std::stoi(c.Get("rc")));
        EXPECT_EQ(testing::internal::GetCapturedStderr(), sub(c.Get("stderr")));
        for (auto& [what, item] : c.items) {
            auto [name, value] = NameValue(item);
            if (what != "expect") continue;
            if (name == "table") {
                EXPECT_TRUE(table == config::kBuiltinEbcdicToAscii);
            } else {
                EXPECT_EQ(table[std::stoi(name.substr(1), nullptr, 16)],
                          std::stoi(value, nullptr, 16))
                    << name;
            }
        }
    }
    config::EbcdicTable table = config::kBuiltinEbcdicToAscii;
    testing::internal::CaptureStderr();
    EXPECT_EQ(config::PrtXlateInit(dir.file("missing.xlt"), table), 1);
    EXPECT_EQ(config::PrtXlateInit("", table), 1);
    EXPECT_EQ(config::PrtXlateInit(dir.path(), table), 1); // a directory opens but cannot be read
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "\nUnable to open translations file " + dir.file("missing.xlt") +
                  ", reason: No such file or directory\n"
                  "\nUnable to open translations file , reason: Invalid argument\n"
                  "\n" +
                  dir.path() + " is not a valid translations file\n");
    EXPECT_TRUE(table == config::kBuiltinEbcdicToAscii);

    // Record statuses: length, end of file -1, too long -3, bad mark -4, end mark -5.
    const std::pair<const char*, int> records[] = {{"", -1},
                                                   {R"(\xF1\xAD)", -1},
                                                   {R"(\xF1\xAD\x08\x0012345678)", 8},
                                                   {R"(\xF1\xAD\x09\x00123456789)", -3},
                                                   {R"(\xF1\xAD\x04\x0012)", -1},
                                                   {R"(\xF0\xAD\x04\x001234)", -5},
                                                   {R"(\xF2\xAD\x04\x001234)", -4},
                                                   {R"(\xF1\xAD\x00\x00)", 0}};
    for (auto& [text, status] : records) {
        const std::string bytes = Unescape(text);
        testutil::WriteFile(path, bytes);
        FILE* f = std::fopen(path.c_str(), "rb");
        uint8_t buf[16];
        EXPECT_EQ(config::PrtXlateReadRecord(buf, 8, f), status) << testutil::Hex(bytes);
        std::fclose(f);
    }
}

TEST(Translate, HostCodePages) {
    std::string msg;
    for (const Case& c : LoadCases("code_pages.txt")) {
        config::EbcdicTable t = config::kBuiltinEbcdicToAscii;
        SCOPED_TRACE(c.title);
        ASSERT_TRUE(config::LoadCodePage(c.Get("page"), t, msg)) << msg;
        for (auto& [what, item] : c.items) {
            auto [code, value] = NameValue(item);
            if (what != "expect") continue;
            EXPECT_EQ(t[std::stoi(code, nullptr, 16)], std::stoi(value, nullptr, 16)) << code;
        }
    }
    for (const char* page : {"277", "278", "280", "284", "285", "297", "500", "871", "1140", "1142",
                             "1143", "1144", "1145", "1146", "1147", "1148", "IBM037"}) {
        config::EbcdicTable t = config::kBuiltinEbcdicToAscii;
        EXPECT_TRUE(config::LoadCodePage(page, t, msg)) << page << ": " << msg;
        EXPECT_EQ(t[0xC1], 'A') << page;
        for (int v : t) // never a control byte
            EXPECT_FALSE((v > 0 && v < 0x20) || (v >= 0x7F && v < 0xA0)) << page << " " << v;
    }
    // Unknown pages leave the table as it is and say why; an empty name is no page.
    for (const char* name : {"99999", "abc", "IBM", "437", "850", "", "  "}) {
        config::EbcdicTable t = config::kBuiltinEbcdicToAscii;
        bool blank = std::string(name).find_first_not_of(' ') == std::string::npos;
        EXPECT_EQ(config::LoadCodePage(name, t, msg), blank) << name;
        EXPECT_TRUE(blank ? msg.empty() : msg.find(name) != std::string::npos) << msg;
        EXPECT_TRUE(t == config::kBuiltinEbcdicToAscii) << name;
    }
}
