// Session files: written by Save, read from the command line, in force at Start.
#include <set>

#include "config/settings_table.h"
#include "platform/sysinfo.h"
#include "uitestutil.h"

using namespace ui;
using namespace uitest;

class SessionFileTest : public QObject {
    Q_OBJECT
  private slots:
    void roundTripAndSave() {
        Env env;
        const std::initializer_list<int> fields = {
            control::kHostname,  control::kPortnumber,   control::kConnecttimeout,
            control::kSessionid, control::kAddress,      control::kLutype,
            control::kPortname,  control::kSocketport,   control::kFilename,
            control::kJobname,   control::kAssociatename};
        const QString path = QString::fromStdString(env.file("f.twr"));
        // The file is written anew: only this setup's keys, in this order.
        const std::tuple<int, const char*, const char*> cases[] = {
            {control::k3270, "[SVEAUSTPRUSPRLPSOFIJO32SEADHOSECOPRLU", "h|23|45|d|12|1|P|91|F|J|"},
            {control::k3270e, "[SVEAUSTPRUSPRLPSOFIJO32COASHOSECOPRLU",
             "h|23|45|-1|-1|1|P|91|F|J|A"}};
        // Between them the two setups write the keys the settings table marks as a
        // session file's, the address as ADDRESS, plus the version and the job name again.
        std::set<std::string> table = {"VERSION", "PRINTJOBNAME"}, writtenKeys;
        for (const config::KeySpec& k : config::SettingKeys())
            if (k.sessionFile)
                table.insert(k.name == std::string("LUADDRESS") ? "ADDRESS" : k.name);
        for (auto [emulation, keys, read] : cases) {
            Window d, r;
            R(d, emulation)->click();
            R(d, control::kPortchoice)->click();
            R(d, control::kAuto)->click();
            C(d, control::kStartvisible)->click();
            Type(d, fields, "h|23|45|d|12|1|P|91|F|J|A");
            QCOMPARE(d.WriteSessionFile(path), 1);
            QString written;
            for (const QString& line :
                 QString::fromStdString(testutil::ReadFile(env.file("f.twr"))).split('\n')) {
                written += line.section('=', 0, 0).left(2);
                if (line.contains('=')) writtenKeys.insert(line.section('=', 0, 0).toStdString());
            }
            QCOMPARE(written, QString(keys));
            r.ReadSessionFile(path);
            QCOMPARE(Texts(r, fields), QString(read));
            QCOMPARE(Checked(r, {control::kPortchoice, control::kAuto, control::kStartvisible,
                                 control::k3270e}),
                     QString("110%1").arg(emulation == control::k3270e));
            QVERIFY(r.medium() == config::Medium::Port && r.autoStart() && !r.AnyFieldModified());
        }
        QCOMPARE(writtenKeys, table);
        // Save writes the session file and ends the fields' force; a bad path writes nothing.
        Window d;
        Type(d, {control::kHostname}, "saved");
        StartAndStop(d);
        env.saveAs = QString::fromStdString(env.file("out.twr"));
        B(d, control::kSave)->click();
        QVERIFY(testutil::ReadFile(env.file("out.twr")).find("HOSTNAME=saved") !=
                std::string::npos);
        QVERIFY(!d.sessionFileInForce());
        QCOMPARE(d.WriteSessionFile(QString::fromStdString(env.file("no/x.twr"))), 0);
    }

    void readingDefaultsAndQuirks() {
        Env env;
        env.Set("PRINTAFTERNLINESCHK=1 PRINTAFTERNLINES=25 PRINTTOFILE=1");
        Window d;
        // Headings and print-after are the INI file's; no PRINT2PORT key means the port.
        // Checked: manual, port, socket, printer, 3270E, headings, print-after.
        const std::pair<const char*, const char*> cases[] = {
            {"AUTOSTART=1\nPRINT2PORT=0\nUSESOCKET=0\nPRINTTOFILE=0\nHEADINGS=0", "0001011"},
            {"AUTOSTART=10", "1100011"},
            {"PRINT2PORT=0\nUSESOCKET=1\nPRINTTOFILE=1\n3270E=10", "1010011"}};
        for (auto [body, checked] : cases) {
            testutil::WriteFile(env.file("q.twr"), std::string("[SESSIONPARAMS]\n") + body);
            d.ReadSessionFile(QString::fromStdString(env.file("q.twr")));
            QCOMPARE(Checked(d, {control::kManual, control::kPortchoice, control::kSocketchoice,
                                 control::kPrinterchoice, control::k3270e, control::kHeadings,
                                 control::kPrintafter}),
                     QString(checked));
        }
    }

    void commandLine() {
        Env env;
        const QString cwd = QString::fromStdString(platform::CurrentDirectory()) + "/";
        const std::pair<std::string, const char*> cases[] = {
            {"twprinter /Setups/Floor2.TWR -x", "floor2.twr"},
            {"twprinter \"My.twr\"", "\"my.twr\""},
            // A command line beyond 260 characters is cut before the search.
            {"twprinter " + std::string(300, 'x') + " late.twr", nullptr}};
        for (auto [line, name] : cases) {
            platform::SetCommandLine(line);
            QString path;
            QCOMPARE(FindSessionFileArgument(path), name ? 1 : 0);
            if (name) QCOMPARE(path, cwd + name);
        }
        // The named file fills the fields, in force at Start, where (AUTOSTART) options are read.
        platform::SetCommandLine("twprinter /some/where/Shop.TWR -h cmd-host -s 99");
        env.Set("HOSTNAME=ini-host AUTOSTART=1");
        testutil::WriteFile(env.file("shop.twr"),
                            "[SESSIONPARAMS]\nHOSTNAME=127.0.0.1\nSERVERNAME=1\nPRINT2PORT=0\n"
                            "PRINTTOFILE=1\nFILENAME=SHOP\nSESSIONID=2\nADDRESS=7\nLUTYPE=1\n");
        Window d;
        QVERIFY(E(d, control::kHostname)->text() == "127.0.0.1" && !d.sessionFileInForce());
        StartAndStop(d);
        const config::Settings& s = d.StartedSettings();
        QCOMPARE(Connection(s), "1|2|7|" + QString::fromStdString(env.file("SHOP")) + "|");
        QVERIFY(s.host == "127.0.0.1" && s.luType == 1 && s.medium == config::Medium::File &&
                !s.use3270E);
        // The options that would change the connection are ignored and not written.
        QCOMPARE(env.Get("HOSTNAME SERVERNAME"), "ini-host|<missing>");
    }
};

QTEST_MAIN(SessionFileTest)
#include "sessionfile_test.moc"
