// LoadSettings: INI file, command line and LU-name file in (tests/data/config/
// settings.txt), Settings fields, INI keys, standard error and the start's
// check of the values out.
#include "config/ini.h"
#include "config/messages.h"
#include "config/settings.h"
#include "config/settings_check.h"
#include "config/translate.h"
#include "config/utilities.h"
#include "config_cases.h"
#include "platform/profile.h"
#include "platform/sysinfo.h"

#include <gtest/gtest.h>

#include <map>

namespace {

std::string Opt(const std::optional<std::string>& v) {
    return v ? *v : "<unset>";
}

// The name the LU-name file gave LU 2, "" for none.
std::string Name(const std::map<int, std::string>& t) {
    return t.count(2) ? t.at(2) : "";
}

std::map<std::string, std::string> Fields(const config::Settings& s) {
    auto b = [](bool v) { return std::string(v ? "1" : "0"); };
    auto n = [](long v) { return std::to_string(v); };
    const char* media[] = {"printer", "file", "port", "socket", "command"};
    const config::TlsSettings& t = s.tls;
    return {
        {"host", s.host},
        {"service", s.service},
        {"luType", n(s.luType)},
        {"3270E", b(s.use3270E)},
        {"connect", Opt(s.connectName)},
        {"associate", Opt(s.associateName)},
        {"session", Opt(s.sessionId)},
        {"address", Opt(s.luAddress)},
        {"file", s.fileName},
        {"fixed", b(s.fixedFile)},
        {"stdout", b(s.standardOutput)},
        {"btam", b(s.btam)},
        {"ff", b(s.formFeed)},
        {"translate", b(s.translate)},
        {"lines", n(s.linesPerPage)},
        {"cmds", s.printerCmds},
        {"opts", s.printerOptions},
        {"medium", media[static_cast<int>(s.medium)]},
        {"port", s.portName},
        {"socket", s.socketPort},
        {"headings", b(s.headings)},
        {"after", n(s.printAfterNLines)},
        {"format", s.fileFormat},
        {"keep", b(s.keepFailed)},
        {"printer", s.printer},
        {"sockto", n(s.socketTimeoutMs)},
        {"connto", n(s.connectTimeoutMs)},
        {"retry", n(s.retryDelayMs)},
        {"eoj", n(s.eojTimeoutMs)},
        {"pages", std::string(s.classicLayout ? "classic," : "") + s.orientation + "," +
                      std::to_string(s.cpi).substr(0, 4) + "," + n(static_cast<long>(s.lpi)) + "," +
                      s.paper + "," + b(s.greenbar) + "," + s.jobOptions},
        {"tls", b(t.enabled) + b(t.verify) + "," + t.caFile + "," + t.serverName + "," +
                    t.certFile + "," + t.keyFile},
        {"cfgpath", s.luConfigPath},
        {"chan", s.channelsFixed
                     ? n(s.channels[3]) + "," + n(s.channels[4]) + "," + n(s.channels[5])
                     : "host"},
        {"lu2", Name(s.luNames.connect) + "/" + Name(s.luNames.associate)},
        {"table", s.ebcdicToAscii == config::kBuiltinEbcdicToAscii ? "builtin" : "changed"},
        {"tAD", std::string(1, char(s.ebcdicToAscii[0xAD]))},
        {"tC1", std::string(1, char(s.ebcdicToAscii[0xC1]))},
        {"chars", s.codePage.name + (s.codePage.dbcs ? ",dbcs," : ",") + s.outputCharset},
        {"debug", n(config::gDebug)},
    };
}

// The fields of a window's Settings that the cases set.
void SetWindowValue(config::Settings& s, const std::string& name, const std::string& v) {
    if (name == "host") s.host = v;
    if (name == "service") s.service = v;
    if (name == "address") s.luAddress = v;
    if (name == "luType") s.luType = std::stoi(v);
    if (name == "file") s.fileName = v;
    if (name == "medium") s.medium = config::Medium::File;
    if (name == "btam") s.btam = v == "1"; // not a window value: the command line's only
}

} // namespace

TEST(LoadSettings, Cases) {
    testutil::TempDir dir;
    setenv("TWPRINTER_DIR", dir.path().c_str(), 1);
    const std::string ini = dir.file("tw.ini");
    // "@" is the test folder, "#" the computer's name.
    auto sub = [&](std::string text) {
        for (size_t at; (at = text.find('@')) != std::string::npos;)
            text.replace(at, 1, dir.path());
        for (size_t at; (at = text.find('#')) != std::string::npos;)
            text.replace(at, 1, platform::ComputerName().substr(0, 15));
        return text;
    };
    testutil::WriteFile(dir.file("t.xlt"), testutil::ReadFile(TEST_DATA_DIR "/config/all_z.xlt"));
    std::vector<Case> cases = LoadCases("settings.txt");
    ASSERT_GE(cases.size(), 39u);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        testutil::WriteFile(ini, "[CONFIGURATION]\n" + c.Get("ini"));
        testutil::WriteFile(dir.file("lu.cfg"), c.Get("cfg"));
        config::Settings s = config::DefaultSettings();
        for (auto& [what, item] : c.items)
            if (what == "window") SetWindowValue(s, NameValue(item).first, NameValue(item).second);
        config::gDebug = c.Get("debug") == "1";
        testing::internal::CaptureStderr();
        const std::string before = testutil::ReadFile(ini);
        const config::Result rc = LoadSettings(ini, sub(c.Get("cmd")), c.Get("inforce") == "1", s);
        EXPECT_EQ(rc.code, std::atoi(c.Get("rc").c_str()));
        EXPECT_EQ(testutil::ReadFile(ini), before) << "loading wrote the file";
        std::string err = testing::internal::GetCapturedStderr();
        // The start's check, its fallbacks applied before the fields are read.
        const config::SettingsCheck check = CheckSettings(ini, s);
        // The options reach the file as a start writes them back: only once they passed.
        if (rc.ok()) SaveOptionKeys(s, check);
        std::map<std::string, std::string> fields = Fields(s);
        fields["detail"] = rc.reason;
        fields["stop"] = std::to_string(check.stop);
        // Service names (the default's too) are in /etc/services on some machines
        // only: their lines count where a case lists one.
        bool services = false;
        for (auto& [what, item] : c.items)
            services |= what == "check" && item.rfind("SERVERNAME=", 0) == 0;
        std::string lines;
        size_t expectedLines = 0, serviceLines = 0;
        for (const std::string& line : check.lines) {
            lines += line + "\n";
            serviceLines += !services && line.rfind("SERVERNAME=", 0) == 0;
        }
        for (auto& [what, item] : c.items) {
            auto [name, value] = NameValue(item);
            if (what == "expect") {
                ASSERT_TRUE(fields.count(name)) << name;
                EXPECT_EQ(fields[name], sub(value)) << name;
            } else if (what == "key") {
                EXPECT_EQ(name == "*" ? testutil::ReadFile(ini)
                                      : platform::ProfileGetString(config::kIniSection, name,
                                                                   "<missing>", ini),
                          sub(value))
                    << name;
            } else if (what == "err") {
                EXPECT_HAS(err, item);
            } else if (what == "stderr") {
                EXPECT_EQ(err, sub(item));
            } else if (what == "check") {
                ++expectedLines;
                EXPECT_HAS(lines, sub(item) + "\n");
            }
        }
        EXPECT_EQ(check.lines.size() - serviceLines, expectedLines) << lines;
        EXPECT_EQ(s.iniPath, ini);
        config::gDebug = 0;
        config::DebugClose();
    }
    unsetenv("TWPRINTER_DIR");
}
