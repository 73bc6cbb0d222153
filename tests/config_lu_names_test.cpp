// The LU-name file: text in, result, detail and directive values out.
#include "config/lu_names.h"
#include "config/messages.h"
#include "config/utilities.h"
#include "config_cases.h"

#include <gtest/gtest.h>

#include <map>

namespace {

template <class T> std::string Opt(const std::optional<T>& v) {
    if constexpr (std::is_same_v<T, std::string>)
        return v ? *v : "<unset>";
    else
        return v ? std::to_string(*v) : "<unset>";
}

// c<n>/a<n>: connect/associate name of LU n; ch<n>: channel entry 3 + n; ch: 3 to 7.
std::map<std::string, std::string> Fields(const config::LuFileValues& f) {
    std::map<std::string, std::string> m = {
        {"server", Opt(f.serverName)},
        {"type", Opt(f.luType)},
        {"file", Opt(f.fileName)},
        {"opts", Opt(f.printerOptions)},
        {"cmds", Opt(f.printerCmds)},
        {"address", Opt(f.luAddress)},
        {"number", Opt(f.luNumber)},
        {"lines", Opt(f.linesPerPage)},
        {"stdout", Opt(f.standardOutput)},
        {"port", Opt(f.portName)},
        {"xlt", Opt(f.xltFile)},
        {"size", std::to_string(f.serverName.value_or("").size())},
        {"ch", "host"}};
    for (int lu = 0; lu < 256; ++lu) {
        m["c" + std::to_string(lu)] = f.names.connect.count(lu) ? f.names.connect.at(lu) : "";
        m["a" + std::to_string(lu)] = f.names.associate.count(lu) ? f.names.associate.at(lu) : "";
    }
    for (int i = 0; i < 134; ++i)
        m["ch" + std::to_string(i)] = std::to_string(f.channels[3 + i]);
    if (f.channelsFixed)
        m["ch"] = m["ch0"] + "," + m["ch1"] + "," + m["ch2"] + "," + m["ch3"] + "," + m["ch4"];
    return m;
}

} // namespace

TEST(LuNames, Cases) {
    testutil::TempDir dir;
    const std::string path = dir.file("kesluprt.cfg");
    std::vector<Case> cases = LoadCases("lu_names.txt");
    ASSERT_GE(cases.size(), 39u);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        testutil::WriteFile(path, c.Get("text"));
        config::LuFileValues values;
        config::gDebug = 1;
        testing::internal::CaptureStderr();
        const config::Result rc = ParseLuConfig(path, values);
        std::string trace = testing::internal::GetCapturedStderr();
        config::gDebug = 0;
        EXPECT_EQ(std::to_string(rc.code) + (rc.reason.empty() ? "" : " " + rc.reason),
                  c.Get("result"));
        // A failure names the file it was read from.
        if (!rc.ok()) {
            EXPECT_EQ(rc.subject, path);
        }
        std::map<std::string, std::string> fields = Fields(values);
        for (auto& [what, item] : c.items) {
            auto [name, value] = NameValue(item);
            if (what == "expect") {
                EXPECT_EQ(fields.at(name), value) << name;
            }
            if (what == "status") {
                EXPECT_EQ(config::StatusMessage(std::stoi(name), &values.statusMessages), value)
                    << name;
            }
            if (what == "trace") {
                EXPECT_HAS(trace, item);
            }
        }
    }
}

TEST(LuNames, FilesMessagesAndTrace) {
    testutil::TempDir dir;
    config::LuFileValues v;
    EXPECT_EQ(ParseLuConfig("", v).code, config::MSG_CFG_NO_NAME);
    const config::Result missing = ParseLuConfig(dir.file("missing.cfg"), v);
    EXPECT_EQ(missing.code, config::MSG_CFG_OPEN);
    EXPECT_EQ(missing.Text(), std::string(config::LoadMessage(config::MSG_CFG_OPEN)) + " " +
                                  dir.file("missing.cfg"));
    const config::Result folder = ParseLuConfig(dir.path(), v);
    EXPECT_EQ(folder.code, config::MSG_CFG_READ); // a directory opens, cannot be read
    EXPECT_EQ(folder.reason, "32");
    EXPECT_EQ(folder.subject, dir.path());
}
