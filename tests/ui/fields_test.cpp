// The setup fields against real INI files: load, save, validation, undo, the
// output choice, and the settings a Start hands to the session.
#include "uitestutil.h"

using namespace ui;
using namespace uitest;

namespace {
const std::initializer_list<int> kFields = {
    IDC_HOSTNAME, IDC_PORTNUMBER, IDC_CONNECTTIMEOUT, IDC_SESSIONID, IDC_ADDRESS,     IDC_LUTYPE,
    IDC_PORTNAME, IDC_SOCKETPORT, IDC_FILENAME,       IDC_JOBNAME,   IDC_CONNECTNAME, IDC_LINES};
const std::initializer_list<int> kBoxes = {IDC_PRINTAFTER, IDC_MANUAL, IDC_STARTVISIBLE,
                                           IDC_HEADINGS,   IDC_3270E,  IDC_FILECHOICE};
} // namespace

class FieldsTest : public QObject {
    Q_OBJECT
  private slots:
    void loadAndSave() {
        // Every key, then none: the window's defaults, not those of the default file.
        const std::tuple<const char*, const char*, const char*> cases[] = {
            {"HOSTNAME=mvs1 SERVERNAME=2323 CONNECTTIMEOUT=30 SESSIONID=b LUADDRESS=17 LUTYPE=1 "
             "LPTCOMPORT=LPT1 SOCKETPORT=9100 FILENAME=JOB JOBNAME=Payroll CONNECTNAME=PRT1 "
             "PRINTAFTERNLINES=60 PRINTAFTERNLINESCHK=1 STARTVISIBLE=0 HEADINGS=1 3270E=1 "
             "PRINTTOFILE=1",
             "mvs1|2323|30|b|17|1|LPT1|9100|JOB|Payroll|PRT1|60", "110111"},
            {"EXEDIR=/tmp", "|kesservd|15|-1|-1|3|||ROROR|VARODO||0", "011000"}};
        for (auto [keys, texts, checked] : cases) {
            Env env;
            env.Set(keys);
            Window d;
            QCOMPARE(Texts(d, kFields), QString(texts));
            QCOMPARE(Checked(d, kBoxes), QString(checked));
        }
        Env env;
        Window d;
        // The first start wrote the default file, and the fields show it.
        QCOMPARE(E(d, IDC_FILENAME)->text(), QString("ROROR"));
        Type(d,
             {IDC_HOSTNAME, IDC_PORTNUMBER, IDC_CONNECTTIMEOUT, IDC_SESSIONID, IDC_ADDRESS,
              IDC_LUTYPE, IDC_LINES},
             "zos|23|0|C|255|1|66");
        for (int id : {IDC_PRINTAFTER, IDC_AUTO, IDC_STARTVISIBLE, IDC_HEADINGS, IDC_SOCKETCHOICE})
            d.ControlAs<QAbstractButton>(id)->click();
        Type(d, {IDC_SOCKETPORT}, "9100");
        B(d, IDC_SAVE)->click();
        QVERIFY(!d.AnyFieldModified());
        QCOMPARE(env.Get("HOSTNAME SERVERNAME CONNECTTIMEOUT SESSIONID LUADDRESS LPTCOMPORT "
                         "SOCKETPORT FILENAME JOBNAME LUTYPE PRINTAFTERNLINESCHK PRINTAFTERNLINES "
                         "AUTOSTART 3270E STARTVISIBLE PRINT2PORT USESOCKET PRINTTOFILE HEADINGS "
                         "CONNECTNAME ASSOCIATENAME"),
                 QString("zos|23|0|C|255||9100|ROROR|VARODO|1|1|66|1|0|0|0|1|0|1||"));
    }

    void validationMessages() {
        Env env;
        Window d;
        // 3270 and the printer, then each medium, then 3270E; each row on top of the others.
        const std::tuple<int, const char*, int> cases[] = {
            {IDC_SESSIONID, "4", 0},        {IDC_SESSIONID, "E", 0},
            {IDC_SESSIONID, "x", 0},        {IDC_SESSIONID, "5", 48},
            {IDC_SESSIONID, "-2", 48},      {IDC_SESSIONID, "-1", 0},
            {IDC_ADDRESS, "255", 0},        {IDC_ADDRESS, "256", 49},
            {IDC_ADDRESS, "-5", 49},        {IDC_ADDRESS, " -1", 0},
            {IDC_JOBNAME, "", 50},          {IDC_JOBNAME, "J", 0},
            {IDC_PORTNUMBER, "", 51},       {IDC_SESSIONID, "9", 48},
            {IDC_SESSIONID, "1", 51},       {IDC_PORTNUMBER, "23", 0},
            {IDC_CONNECTTIMEOUT, "", 95},   {IDC_CONNECTTIMEOUT, "0", 0},
            {IDC_PORTNUMBER, "99999", 120}, {IDC_PORTNUMBER, "0", 120},
            {IDC_PORTNUMBER, "telnet", 0},  {IDC_PORTNUMBER, "tn 3270", 120},
            {IDC_PORTNUMBER, "65535", 0},   {IDC_PORTCHOICE, "", 59},
            {IDC_PORTNAME, "P", 0},         {IDC_SOCKETCHOICE, "", 57},
            {IDC_SOCKETPORT, "S", 121},     {IDC_SOCKETPORT, "h:65536", 121},
            {IDC_SOCKETPORT, "h:", 121},    {IDC_SOCKETPORT, "prt1:9100", 0},
            {IDC_FILECHOICE, "", 0},        {IDC_FILENAME, "", 60},
            {IDC_PRINTERCHOICE, "", 0},     {IDC_3270E, "", 0},
            {IDC_ASSOCIATENAME, "A", 0},    {IDC_CONNECTNAME, "C", 12},
            {IDC_ASSOCIATENAME, "", 0}};
        for (auto [field, text, message] : cases) {
            if (auto* choice = d.ControlAs<QRadioButton>(field))
                choice->click();
            else
                E(d, field)->setText(text);
            const QByteArray what = QByteArray::number(field) + " = '" + text + "'";
            QVERIFY2(d.ValidateFields() == !message &&
                         (!message || d.validationMessage() == message),
                     what);
            QCOMPARE(d.ControlAs<QLabel>(IDC_VALIDATION)->text(), message ? UiText(message) : "");
        }
    }

    void undo() {
        Env env;
        env.Set("3270E=1 HOSTNAME=alpha CONNECTNAME=C");
        Window d;
        // Each field's last edit and the 3270 choice go back; a medium click stays.
        QTest::keyClicks(E(d, IDC_HOSTNAME), "beta");
        R(d, IDC_3270)->click();
        R(d, IDC_AUTO)->click();
        R(d, IDC_FILECHOICE)->click();
        B(d, IDC_UNDO)->click();
        QCOMPARE(E(d, IDC_HOSTNAME)->text(), "alpha");
        QCOMPARE(Checked(d, {IDC_3270E, IDC_MANUAL, IDC_FILECHOICE}), "111");
        QCOMPARE(Enabled(d, {IDC_SESSIONID, IDC_ASSOCIATENAME, IDC_CONNECTNAME}), "001");
        QVERIFY(!d.AnyFieldModified() && !d.sessionFileInForce());
    }

    void outputChoice() {
        // PRINTTOFILE USESOCKET PRINT2PORT; enabled: port socket file job headings after lines
        const std::tuple<const char*, config::Medium, const char*> cases[] = {
            {"1 0 1", config::Medium::Port, "1000000"},
            {"1 1 0", config::Medium::Socket, "0100000"},
            {"1 1 1", config::Medium::Port, "1000000"},
            {"1 0 0", config::Medium::File, "0010000"},
            {"0 1 x", config::Medium::Socket, "0100000"},
            {"x 0 0", config::Medium::Printer, "0001111"}};
        const int radio[] = {IDC_PRINTERCHOICE, IDC_FILECHOICE, IDC_PORTCHOICE, IDC_SOCKETCHOICE};
        for (auto [keys, medium, enabled] : cases) {
            Env env;
            const QStringList k = QString(keys).split(' ');
            env.Set("PRINTTOFILE=" + k[0] + " USESOCKET=" + k[1] + " PRINT2PORT=" + k[2]);
            Window d;
            QVERIFY(d.medium() == medium && R(d, radio[int(medium)])->isChecked());
            QCOMPARE(Enabled(d, {IDC_PORTNAME, IDC_SOCKETPORT, IDC_FILENAME, IDC_JOBNAME,
                                 IDC_HEADINGS, IDC_PRINTAFTER, IDC_LINES}),
                     QString(enabled));
        }
    }

    void settingsAtStart() {
        Env env;
        env.Set("HOSTNAME=127.0.0.1 SERVERNAME=1 CONNECTTIMEOUT=7 USECOMMAND=1 SOCKETPORT=h:9 "
                "LUTYPE=1");
        Window d;
        const config::Settings& s = d.StartedSettings();
        // Not in force: the INI file's values, the choice as shown, the command for the file.
        C(d, IDC_HEADINGS)->click();
        d.SaveFieldsToIni();
        C(d, IDC_HEADINGS)->click();
        R(d, IDC_FILECHOICE)->click();
        d.UndoFieldChanges();
        StartAndStop(d);
        QVERIFY(!d.sessionFileInForce() && !s.headings && s.medium == config::Medium::Command);
        QVERIFY(s.connectTimeoutMs == 7000 && s.socketPort == "h:9" && s.luType == 1);
        // Edited fields are in force and stand for their values.
        Type(d,
             {IDC_PORTNUMBER, IDC_SESSIONID, IDC_ADDRESS, IDC_LUTYPE, IDC_FILENAME,
              IDC_CONNECTTIMEOUT, IDC_HOSTNAME},
             "2|c|9|3|F|99|");
        E(d, IDC_LINES)->setText("50");
        R(d, IDC_PORTCHOICE)->click();
        Type(d, {IDC_PORTNAME}, "/dev/null");
        StartAndStop(d);
        QVERIFY(d.sessionFileInForce() && s.medium == config::Medium::Port && !s.host.empty());
        // A relative print file name is one in the settings folder.
        QCOMPARE(Connection(s), "2|c|9|" + QString::fromStdString(env.file("F")) + "|/dev/null");
        // The field's time-out has never reached a connection; Undo ends the fields' force.
        QVERIFY(s.luType == 3 && s.printAfterNLines == 50 && s.connectTimeoutMs == 7000);
        B(d, IDC_UNDO)->click(); // the port name goes: Start refuses with the message
        d.StartClient();
        QCOMPARE(env.shown, QStringList{"LPT or COM port must be specified."});
        QVERIFY(!d.running() && !d.SessionRunning() && !d.sessionFileInForce());
    }
};

QTEST_MAIN(FieldsTest)
#include "fields_test.moc"
