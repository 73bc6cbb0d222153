// Session files: written by Save, read from the command line.
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include "config/options.h"
#include "config/utilities.h"
#include "controlids.h"
#include "mainwindow.h"
#include "platform/sysinfo.h"
#include "testutil.h"
#include "uitestutil.h"

using namespace ui;

using uitest::E;
using uitest::R;

namespace {

// The key names of a profile file, in file order.
QStringList Keys(const std::string& path) {
    QStringList keys;
    for (const QString& line : QString::fromStdString(testutil::ReadFile(path)).split('\n')) {
        const int eq = line.indexOf('=');
        if (eq > 0) keys << line.left(eq).trimmed();
    }
    return keys;
}
} // namespace

class SessionFileTest : public QObject {
    Q_OBJECT
  private slots:
    void roundTripIn3270();
    void roundTripIn3270E();
    void readingDefaultsAndQuirks();
    void commandLineNames();
    void commandLineFileAtStartAndStart();
    void saveButtonWritesBothFiles();
};

void SessionFileTest::roundTripIn3270() {
    uitest::Env env;
    env.Set("HEADINGS", "0");
    PrinterClientDialog d;
    d.OnInitDialog();
    const std::initializer_list<int> fields = {
        IDC_HOSTNAME, IDC_PORTNUMBER, IDC_CONNECTTIMEOUT, IDC_SESSIONID, IDC_ADDRESS,
        IDC_LUTYPE,   IDC_PORTNAME,   IDC_SOCKETPORT,     IDC_FILENAME,  IDC_JOBNAME};
    const QStringList values{"host1", "2023", "45", "d", "12", "1", "COM2", "9100", "OUTF", "JobA"};
    auto v = values.begin();
    for (int id : fields)
        E(d, id)->setText(*v++);
    E(d, IDC_CONNECTNAME)->setText("IGNORED");
    d.SelectPortOutput(1);
    R(d, IDC_AUTO)->setChecked(true);
    d.ControlAs<QCheckBox>(IDC_STARTVISIBLE)->setChecked(false);
    const std::string path = env.file("floor1.twr");
    QCOMPARE(d.WriteSessionFile(QString::fromStdString(path)), 1);

    const QString text = QString::fromStdString(testutil::ReadFile(path));
    QVERIFY(text.startsWith("[SESSIONPARAMS]"));
    QCOMPARE(Keys(path),
             (QStringList{"VERSION", "AUTOSTART", "STARTVISIBLE", "PRINT2PORT", "USESOCKET",
                          "PRINTTOFILE", "LPTCOMPORT", "SOCKETPORT", "FILENAME", "JOBNAME", "3270E",
                          "SESSIONID", "ADDRESS", "HOSTNAME", "SERVERNAME", "CONNECTTIMEOUT",
                          "PRINTJOBNAME", "LUTYPE"}));
    QVERIFY(text.contains("VERSION=1.5.1"));
    QVERIFY(text.contains("ADDRESS=12"));
    QVERIFY(text.contains("PRINTJOBNAME=JobA"));
    QVERIFY(text.contains("AUTOSTART=1"));
    QVERIFY(text.contains("PRINT2PORT=1"));
    QVERIFY(!text.contains("IGNORED"));

    // A later, shorter setup replaces the whole file.
    PrinterClientDialog other;
    other.OnInitDialog();
    E(other, IDC_JOBNAME)->setText("JobB");
    QCOMPARE(other.WriteSessionFile(QString::fromStdString(path)), 1);
    QVERIFY(!QString::fromStdString(testutil::ReadFile(path)).contains("COM2"));
    QCOMPARE(d.WriteSessionFile(QString::fromStdString(path)), 1);

    PrinterClientDialog r;
    r.OnInitDialog();
    r.ReadSessionFile(QString::fromStdString(path));
    QCOMPARE(uitest::Texts(r, fields), values);
    QCOMPARE(gPortName, std::string("COM2"));
    QVERIFY(R(r, IDC_PORTCHOICE)->isChecked());
    QCOMPARE(gPrintToPort, 1);
    QVERIFY(R(r, IDC_AUTO)->isChecked());
    QVERIFY(r.autoStart());
    QVERIFY(!r.ControlAs<QCheckBox>(IDC_STARTVISIBLE)->isChecked());
    QVERIFY(R(r, IDC_3270)->isChecked());
    QVERIFY(!r.AnyFieldModified());
}

void SessionFileTest::roundTripIn3270E() {
    uitest::Env env;
    PrinterClientDialog d;
    d.OnInitDialog();
    R(d, IDC_3270E)->click();
    E(d, IDC_SESSIONID)->setText("3");
    E(d, IDC_CONNECTNAME)->setText("");
    E(d, IDC_ASSOCIATENAME)->setText("ASSOC9");
    QCOMPARE(d.WriteSessionFile(QString::fromStdString(env.file("e.twr"))), 1);
    const QStringList keys = Keys(env.file("e.twr"));
    QVERIFY(keys.contains("CONNECTNAME"));
    QVERIFY(keys.contains("ASSOCIATENAME"));
    QVERIFY(!keys.contains("SESSIONID"));
    QVERIFY(!keys.contains("ADDRESS"));
    QCOMPARE(keys.indexOf("CONNECTNAME"), keys.indexOf("3270E") + 1);

    PrinterClientDialog r;
    r.OnInitDialog();
    r.ReadSessionFile(QString::fromStdString(env.file("e.twr")));
    QVERIFY(R(r, IDC_3270E)->isChecked());
    QVERIFY(r.mode3270E());
    QVERIFY(!E(r, IDC_SESSIONID)->isEnabled());
    QVERIFY(!E(r, IDC_ADDRESS)->isEnabled());
    QCOMPARE(E(r, IDC_ASSOCIATENAME)->text(), QString("ASSOC9"));
    QCOMPARE(r.ValidateFields(), 1);
}

void SessionFileTest::readingDefaultsAndQuirks() {
    uitest::Env env;
    env.Set("PRINTAFTERNLINESCHK", "1");
    env.Set("PRINTAFTERNLINES", "25");
    PrinterClientDialog d;
    d.OnInitDialog();
    auto read = [&](const std::string& body) {
        testutil::WriteFile(env.file("q.twr"), "[SESSIONPARAMS]\n" + body);
        d.ReadSessionFile(QString::fromStdString(env.file("q.twr")));
    };
    read("AUTOSTART=10\nJOBNAME=Named\n");
    QVERIFY(R(d, IDC_MANUAL)->isChecked());
    QVERIFY(!d.autoStart());
    // No PRINT2PORT key: the port medium.
    QVERIFY(R(d, IDC_PORTCHOICE)->isChecked());
    QCOMPARE(E(d, IDC_JOBNAME)->text(), QString("roror"));
    QCOMPARE(E(d, IDC_FILENAME)->text(), QString("VARODO"));
    QCOMPARE(E(d, IDC_PORTNUMBER)->text(), QString("kesservd"));
    QCOMPARE(E(d, IDC_SESSIONID)->text(), QString("-1"));
    QCOMPARE(E(d, IDC_CONNECTTIMEOUT)->text(), QString("15"));
    // Headings and print-after come from the INI file, never the session file.
    QVERIFY(d.ControlAs<QCheckBox>(IDC_HEADINGS)->isChecked());
    QCOMPARE(gHeadings, 1);
    QVERIFY(d.ControlAs<QCheckBox>(IDC_PRINTAFTER)->isChecked());
    QCOMPARE(E(d, IDC_LINES)->text(), QString("25"));

    read("AUTOSTART=1\nPRINT2PORT=0\nUSESOCKET=0\nPRINTTOFILE=0\nHEADINGS=0\n");
    QVERIFY(R(d, IDC_AUTO)->isChecked());
    QVERIFY(R(d, IDC_PRINTERCHOICE)->isChecked());
    QVERIFY(d.ControlAs<QCheckBox>(IDC_HEADINGS)->isChecked());

    read("PRINT2PORT=1\nUSESOCKET=1\nPRINTTOFILE=1\n3270E=1\nCONNECTNAME=C5\n");
    QVERIFY(R(d, IDC_PORTCHOICE)->isChecked());
    QVERIFY(R(d, IDC_3270E)->isChecked());
    QCOMPARE(E(d, IDC_CONNECTNAME)->text(), QString("C5"));
    QVERIFY(R(d, IDC_MANUAL)->isChecked()); // no AUTOSTART key

    read("PRINT2PORT=0\nUSESOCKET=1\nPRINTTOFILE=1\n3270E=10\n");
    QVERIFY(R(d, IDC_SOCKETCHOICE)->isChecked());
    QVERIFY(R(d, IDC_3270)->isChecked());

    // A file that does not exist shows the defaults.
    d.ReadSessionFile(QString::fromStdString(env.file("missing.twr")));
    QVERIFY(R(d, IDC_PORTCHOICE)->isChecked());
    QCOMPARE(E(d, IDC_JOBNAME)->text(), QString("roror"));
}

void SessionFileTest::commandLineNames() {
    uitest::Env env;
    const QString cwd = QString::fromStdString(platform::CurrentDirectory());
    QString path;
    struct Case {
        const char* line;
        const char* name; // nullptr: none found
    };
    const Case cases[] = {
        {"twprinter /Setups/Floor2.TWR -x", "floor2.twr"},
        {"twprinter C:\\Setups\\Floor2.TWR -x", "floor2.twr"},
        {"twprinter a.twrx", "a.twrx"},
        {"twprinter floor.twr", "floor.twr"},
        {"/usr/bin/twprinter -d", nullptr},
        {"twprinter \"My.twr\"", "\"my.twr\""},
    };
    for (const Case& c : cases) {
        platform::SetCommandLine(c.line);
        path.clear();
        const int found = FindSessionFileArgument(path);
        if (!c.name) {
            QVERIFY2(found == 0, c.line);
        } else {
            QVERIFY2(found == 1, c.line);
            QCOMPARE(path, cwd + "/" + c.name);
        }
    }
    // A command line beyond 260 characters is cut before the search.
    platform::SetCommandLine("twprinter " + std::string(300, 'x') + " late.twr");
    QCOMPARE(FindSessionFileArgument(path), 0);
}

void SessionFileTest::commandLineFileAtStartAndStart() {
    uitest::Env env("/some/where/Shop.TWR");
    env.Set("AUTOSTART", "0");
    env.Set("HOSTNAME", "ini-host");
    testutil::WriteFile(env.file("shop.twr"),
                        "[SESSIONPARAMS]\nAUTOSTART=1\nHOSTNAME=file-host\nSERVERNAME=2424\n"
                        "PRINT2PORT=0\nUSESOCKET=0\nPRINTTOFILE=1\nFILENAME=SHOP\n"
                        "3270E=0\nSESSIONID=2\nADDRESS=7\nLUTYPE=1\nCONNECTTIMEOUT=9\n");
    PrinterClientDialog d;
    d.OnInitDialog();
    QCOMPARE(E(d, IDC_HOSTNAME)->text(), QString("file-host"));
    QVERIFY(d.autoStart());
    QVERIFY(R(d, IDC_FILECHOICE)->isChecked());
    QCOMPARE(gFieldsReady, 1);
    // The values in force are the file's.
    QCOMPARE(gHostName, std::string("file-host"));
    QCOMPARE(gOptions.serverName.value_or(""), std::string("2424"));
    QCOMPARE(gOptions.luNumber.value_or(""), std::string("2"));
    QCOMPARE(gOptions.luAddress.value_or(""), std::string("7"));
    QCOMPARE(gOptions.luType.value_or(0), 1);
    QCOMPARE(gOptions.fileName.value_or(""), std::string("SHOP"));
    QCOMPARE(gConnectTimeout, 9000L);
    QCOMPARE(gUse3270E, 0);
    // The INI file is untouched.
    QCOMPARE(env.Get("HOSTNAME"), std::string("ini-host"));
}

void SessionFileTest::saveButtonWritesBothFiles() {
    uitest::Env env;
    PrinterClientDialog d;
    d.OnInitDialog();
    QTest::keyClicks(E(d, IDC_HOSTNAME), "saved-host");
    gSessionFileInForce = 1;
    env.saveAs = QString::fromStdString(env.file("out.twr"));
    d.ControlAs<QPushButton>(IDC_SAVE)->click();
    QCOMPARE(env.Get("HOSTNAME"), std::string("saved-host"));
    QCOMPARE(gSessionFileInForce, 0);
    QVERIFY(QString::fromStdString(testutil::ReadFile(env.file("out.twr")))
                .contains("HOSTNAME=saved-host"));

    // An uncreatable file: nothing written, and the debug log names the path.
    gDebug = 1;
    DebugOpen();
    const QString bad = QString::fromStdString(env.file("no/such/dir/x.twr"));
    QCOMPARE(d.WriteSessionFile(bad), 0);
    DebugClose();
    gDebug = 0;
    const std::string log = testutil::ReadFile(env.file("TwPrinter.log"));
    QVERIFY(log.find("Unable to open session file " + bad.toStdString()) != std::string::npos);
}

QTEST_MAIN(SessionFileTest)
#include "sessionfile_test.moc"
