// The settings table against the man page's key list, and every key's default
// written to a file and read back as the loader's own default.
#include "config/ini_values.h"
#include "config/settings.h"
#include "config/settings_check.h"
#include "config/settings_table.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>

namespace {

// The keys the man page describes: ".TP" then ".B KEY", from the first key
// section to the LU-name file's.
std::set<std::string> ManPageKeys() {
    std::ifstream in(TWPRINTER_MAN_PAGE);
    std::set<std::string> keys;
    std::string line, last;
    bool inKeys = false;
    while (std::getline(in, line)) {
        if (line.rfind(".SH", 0) == 0) {
            inKeys = line.find("KEYS") != std::string::npos;
            if (line.find("LU-NAME") != std::string::npos) break;
        }
        if (inKeys && last == ".TP" && line.rfind(".B ", 0) == 0) keys.insert(line.substr(3));
        last = line;
    }
    return keys;
}

} // namespace

TEST(SettingsTable, ManPageListsEveryKeyAndNoOther) {
    std::set<std::string> table;
    for (const config::KeySpec& k : config::SettingKeys()) {
        EXPECT_TRUE(table.insert(k.name).second) << k.name << " twice in the table";
        EXPECT_NE(std::string(k.description), "") << k.name;
        if (k.kind != config::KeyKind::Text) {
            EXPECT_NE(std::string(k.expected), "") << k.name;
        }
        if (k.kind == config::KeyKind::Choice) {
            EXPECT_TRUE(config::ChoiceAllows(k, k.def)) << k.name << " default not allowed";
        }
    }
    const std::set<std::string> man = ManPageKeys();
    ASSERT_GT(man.size(), 30u);
    for (const std::string& k : table)
        EXPECT_TRUE(man.count(k)) << k << " is not in twprinter.ini(5)";
    for (const std::string& k : man)
        EXPECT_TRUE(table.count(k)) << k << " of twprinter.ini(5) is not in the table";
    // Lookup without case and the typo hint.
    ASSERT_NE(config::FindKey("hostName"), nullptr);
    EXPECT_EQ(config::FindKey("HOSTNAM"), nullptr);
    EXPECT_EQ(config::SuggestKey("HOSTNAM"), "HOSTNAME");
    EXPECT_EQ(config::SuggestKey("printtofle"), "PRINTTOFILE");
    EXPECT_EQ(config::SuggestKey("XYZZYQ"), "");
}

TEST(SettingsTable, EveryDefaultRoundTrips) {
    testutil::TempDir dir;
    const std::string empty = dir.file("empty.ini"), full = dir.file("full.ini");
    testutil::WriteFile(empty, "[CONFIGURATION]\n");
    std::string text = "[CONFIGURATION]\n";
    for (const config::KeySpec& k : config::SettingKeys())
        text += std::string(k.name) + "=" + k.def + "\n";
    testutil::WriteFile(full, text);
    config::Settings a = config::DefaultSettings(), b = config::DefaultSettings();
    ASSERT_TRUE(LoadSettings(empty, std::vector<std::string>{}, false, a).ok());
    ASSERT_TRUE(LoadSettings(full, std::vector<std::string>{}, false, b).ok());
    EXPECT_EQ(testutil::ReadFile(full), text) << "loading wrote the file";
    auto key = [](const config::Settings& s) {
        return s.host + "|" + s.service + "|" + std::to_string(s.luType) +
               s.fileName.substr(s.fileName.rfind('/') + 1) + "|" + std::to_string(s.use3270E) +
               std::to_string(s.connectTimeoutMs) + "|" + std::to_string(s.retryDelayMs) + "|" +
               std::to_string(s.eojTimeoutMs) + "|" + std::to_string(s.socketTimeoutMs) + "|" +
               s.printer + "|" + std::to_string(static_cast<int>(s.medium)) +
               std::to_string(s.headings) + std::to_string(s.keepFailed) +
               std::to_string(s.lineEndLf) + "|" + s.orientation + "|" + std::to_string(s.cpi) +
               std::to_string(s.lpi) + s.paper + std::to_string(s.greenbar) +
               std::to_string(s.classicLayout) + "|" + std::to_string(s.tls.enabled) +
               std::to_string(s.tls.startTls) + std::to_string(s.tls.verify) + "|" +
               s.outputCharset + "|" + s.luConfigPath + "|" + s.printerCmds + "|" +
               std::to_string(s.printAfterNLines) + (s.luAddress ? *s.luAddress : "-") +
               (s.sessionId ? *s.sessionId : "-");
    };
    EXPECT_EQ(key(b), key(a));
    // Every default passes the check, but the service kesservd, which only some
    // machines' /etc/services know.
    const config::SettingsCheck check = config::CheckSettings(full, b);
    for (const std::string& line : check.lines)
        EXPECT_EQ(line.rfind("SERVERNAME=", 0), 0u) << line;
    EXPECT_EQ(check.stop, 0);
}
