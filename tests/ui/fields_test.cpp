// The setup fields against real INI files: load, save, validation, undo and
// the output medium.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QtTest>

#include "advanced.h"
#include "config/messages.h"
#include "config/options.h"
#include "controlids.h"
#include "mainwindow.h"
#include "session/session.h"
#include "uitestutil.h"

using namespace ui;

using uitest::B;
using uitest::C;
using uitest::E;
using uitest::R;

namespace {
void Type(PrinterClientDialog& d, int id, const QString& text) {
    auto* e = E(d, id);
    e->selectAll();
    if (text.isEmpty())
        QTest::keyClick(e, Qt::Key_Delete);
    else
        QTest::keyClicks(e, text);
}
// The validation fails with message msg.
bool Fails(PrinterClientDialog& d, int msg) {
    return d.ValidateFields() == 0 && gValidationMessage == msg;
}
} // namespace

class FieldsTest : public QObject {
    Q_OBJECT
  private slots:
    void controlsTextsAndTabOrder();
    void loadsEveryKeyAndDefaults();
    void defaultIniThenSaveWritesEveryKey();
    void validationMessages();
    void nameFieldsFollowTyping();
    void undoRestoresLastEdit();
    void mediumPrecedenceAndEnabling();
    void choiceClicksChangeSwitchesAtOnce();
    void startRefusedWhileInvalid();
    void printerSetupAndAdvancedSettings();
};

void FieldsTest::controlsTextsAndTabOrder() {
    uitest::Env env;
    PrinterClientDialog d;
    d.OnInitDialog();
    QCOMPARE(d.windowTitle(), QString("Printer client setup"));
    QVERIFY(B(d, IDC_START)->isDefault());
    QVERIFY(d.Control(12345) == nullptr);
    // Digits only in the time-out and lines fields.
    QTest::keyClicks(E(d, IDC_CONNECTTIMEOUT), "x1y2");
    QVERIFY(E(d, IDC_CONNECTTIMEOUT)->text().endsWith("12"));
    QTest::keyClicks(E(d, IDC_LINES), "-5");
    QCOMPARE(E(d, IDC_LINES)->text(), QString("05"));

    // Tab walks the controls in the order of the layout table.
    const int order[] = {IDC_HOSTNAME,      IDC_PORTNUMBER,    IDC_LUTYPE,     IDC_CONNECTTIMEOUT,
                         IDC_3270,          IDC_3270E,         IDC_SESSIONID,  IDC_ADDRESS,
                         IDC_CONNECTNAME,   IDC_ASSOCIATENAME, IDC_PORTCHOICE, IDC_PORTNAME,
                         IDC_SOCKETCHOICE,  IDC_SOCKETPORT,    IDC_FILECHOICE, IDC_FILENAME,
                         IDC_PRINTERCHOICE, IDC_JOBNAME,       IDC_HEADINGS,   IDC_PRINTAFTER,
                         IDC_LINES,         IDC_AUTO,          IDC_MANUAL,     IDC_STARTVISIBLE,
                         IDC_START,         IDC_STOP,          IDC_HIDE,       IDC_PRINTERSETUP,
                         IDC_SAVE,          IDC_UNDO,          IDC_EXIT,       IDC_HELP};
    QWidget* w = d.Control(order[0]);
    for (size_t i = 1; i < std::size(order); ++i) {
        do
            w = w->nextInFocusChain();
        while (!(w->focusPolicy() & Qt::TabFocus));
        QCOMPARE(w->property("controlId").toInt(), order[i]);
    }
}

void FieldsTest::loadsEveryKeyAndDefaults() {
    const std::initializer_list<int> fields = {IDC_HOSTNAME,  IDC_PORTNUMBER,  IDC_CONNECTTIMEOUT,
                                               IDC_SESSIONID, IDC_ADDRESS,     IDC_LUTYPE,
                                               IDC_PORTNAME,  IDC_SOCKETPORT,  IDC_FILENAME,
                                               IDC_JOBNAME,   IDC_CONNECTNAME, IDC_LINES};
    const std::initializer_list<int> boxes = {IDC_PRINTAFTER,   IDC_MANUAL, IDC_STARTVISIBLE,
                                              IDC_HEADINGS,     IDC_3270E,  IDC_FILECHOICE,
                                              IDC_PRINTERCHOICE};
    {
        uitest::Env env;
        // clang-format off
        env.Set({{"HOSTNAME", "mvs1"}, {"SERVERNAME", "2323"}, {"CONNECTTIMEOUT", "30"},
                 {"SESSIONID", "b"}, {"LUADDRESS", "17"}, {"LUTYPE", "1"}, {"LPTCOMPORT", "LPT1"},
                 {"SOCKETPORT", "9100"}, {"FILENAME", "JOB"}, {"JOBNAME", "Payroll"},
                 {"CONNECTNAME", "PRT1"}, {"PRINTAFTERNLINES", "60"}, {"PRINTAFTERNLINESCHK", "1"},
                 {"AUTOSTART", "0"}, {"STARTVISIBLE", "0"}, {"HEADINGS", "1"}, {"3270E", "1"},
                 {"PRINTTOFILE", "1"}});
        // clang-format on
        PrinterClientDialog d;
        d.OnInitDialog();
        QCOMPARE(uitest::Texts(d, fields),
                 (QStringList{"mvs1", "2323", "30", "b", "17", "1", "LPT1", "9100", "JOB",
                              "Payroll", "PRT1", "60"}));
        QCOMPARE(uitest::Checked(d, boxes), QString("1101110"));
        QCOMPARE(gPortName, std::string("LPT1"));
        QCOMPARE(gPrintAfterNLines, 60L);
        QCOMPARE(gHeadings, 1);
        QCOMPARE(gPrintToFile, 1);
        QVERIFY(d.printPageAfterLines() && d.mode3270E() && !d.autoStart());
        // 3270E greys session ID and address; a connect name greys the associate name.
        QCOMPARE(uitest::Enabled(
                     d, {IDC_SESSIONID, IDC_ADDRESS_LABEL, IDC_CONNECTNAME, IDC_ASSOCIATENAME}),
                 QString("0010"));
        QVERIFY(!d.AnyFieldModified());
        QVERIFY(B(d, IDC_START)->isEnabled());
    }
    {
        // Keys missing: the window's defaults, not those of the default file.
        uitest::Env env;
        env.Set("EXEDIR", "/tmp");
        gHeadings = 1;
        gPrintToPort = 1;
        PrinterClientDialog d;
        d.OnInitDialog();
        QCOMPARE(uitest::Texts(d, fields), (QStringList{"", "kesservd", "15", "-1", "-1", "3", "",
                                                        "", "VARODO", "VARODO", "", "0"}));
        QCOMPARE(uitest::Checked(d, boxes), QString("0110001"));
        QCOMPARE(gHeadings, 0);
        QCOMPARE(gPrintToPort, 0);
        QCOMPARE(uitest::Enabled(d, {IDC_CONNECTNAME, IDC_SESSIONID, IDC_JOBNAME, IDC_PORTNAME}),
                 QString("0110"));
    }
}

void FieldsTest::defaultIniThenSaveWritesEveryKey() {
    uitest::Env env;
    PrinterClientDialog d;
    d.OnInitDialog();
    // The first start wrote the default file, and the fields show it.
    QCOMPARE(env.Get("FILENAME"), std::string("ROROR"));
    QCOMPARE(env.Get("STARTVISIBLE"), std::string("1"));
    QCOMPARE(E(d, IDC_FILENAME)->text(), QString("ROROR"));

    Type(d, IDC_HOSTNAME, "zos.example");
    Type(d, IDC_PORTNUMBER, "23");
    Type(d, IDC_CONNECTTIMEOUT, "0");
    Type(d, IDC_SESSIONID, "C");
    Type(d, IDC_ADDRESS, "255");
    Type(d, IDC_LUTYPE, "1");
    Type(d, IDC_LINES, "66");
    C(d, IDC_PRINTAFTER)->click();
    R(d, IDC_AUTO)->click();
    C(d, IDC_STARTVISIBLE)->click();
    C(d, IDC_HEADINGS)->click();
    R(d, IDC_SOCKETCHOICE)->click();
    Type(d, IDC_SOCKETPORT, "9100");
    QVERIFY(d.AnyFieldModified());
    env.saveAs = "";
    B(d, IDC_SAVE)->click();
    QVERIFY(!d.AnyFieldModified());
    QVERIFY(!E(d, IDC_HOSTNAME)->isModified());

    QCOMPARE(
        env.Get({"HOSTNAME",
                 "SERVERNAME",
                 "CONNECTTIMEOUT",
                 "SESSIONID",
                 "LUADDRESS",
                 "LPTCOMPORT",
                 "SOCKETPORT",
                 "FILENAME",
                 "JOBNAME",
                 "LUTYPE",
                 "PRINTAFTERNLINESCHK",
                 "PRINTAFTERNLINES",
                 "AUTOSTART",
                 "3270E",
                 "STARTVISIBLE",
                 "PRINT2PORT",
                 "USESOCKET",
                 "PRINTTOFILE",
                 "HEADINGS",
                 "CONNECTNAME",
                 "ASSOCIATENAME"}),
        (QStringList{"zos.example", "23", "0", "C", "255", "",  "9100", "ROROR", "VARODO", "1", "1",
                     "66",          "1",  "0", "0", "0",   "1", "0",    "1",     "",       ""}));
    QVERIFY(d.autoStart());
    QVERIFY(d.printPageAfterLines());

    // What was saved loads back into a new window unchanged.
    PrinterClientDialog again;
    again.OnInitDialog();
    QVERIFY(R(again, IDC_SOCKETCHOICE)->isChecked());
    QCOMPARE(E(again, IDC_SESSIONID)->text(), QString("C"));
    QVERIFY(R(again, IDC_AUTO)->isChecked());
}

void FieldsTest::validationMessages() {
    uitest::Env env;
    PrinterClientDialog d;
    d.OnInitDialog();
    auto* line = d.ControlAs<QLabel>(IDC_VALIDATION);
    struct Case {
        int field;
        const char* text;
        int message;
    };
    // 3270 emulation, printer medium.
    const Case cases[] = {
        {IDC_SESSIONID, "-1", 0},     {IDC_SESSIONID, "0", 0},   {IDC_SESSIONID, "4", 0},
        {IDC_SESSIONID, "a", 0},      {IDC_SESSIONID, "E", 0},   {IDC_SESSIONID, "x", 0},
        {IDC_SESSIONID, "5", 48},     {IDC_SESSIONID, "-2", 48}, {IDC_SESSIONID, "12", 48},
        {IDC_SESSIONID, "f", 0},      {IDC_SESSIONID, "-1", 0},  {IDC_ADDRESS, "255", 0},
        {IDC_ADDRESS, "256", 49},     {IDC_ADDRESS, " -1", 0},   {IDC_ADDRESS, "-5", 49},
        {IDC_ADDRESS, "-1", 0},       {IDC_JOBNAME, "", 50},     {IDC_JOBNAME, "J", 0},
        {IDC_PORTNUMBER, "", 51},     {IDC_PORTNUMBER, "23", 0}, {IDC_CONNECTTIMEOUT, "", 95},
        {IDC_CONNECTTIMEOUT, "0", 0}, {IDC_LUTYPE, "2", 52},     {IDC_LUTYPE, "1", 0},
        {IDC_LUTYPE, "3x", 0},        {IDC_LUTYPE, "", 52},      {IDC_LUTYPE, "3", 0},
    };
    for (const Case& c : cases) {
        E(d, c.field)->setText(c.text);
        const int ok = d.ValidateFields();
        const QByteArray what = QByteArray::number(c.field) + " = '" + c.text + "'";
        if (c.message == 0) {
            QVERIFY2(ok == 1, what);
            QCOMPARE(line->text(), QString());
        } else {
            QVERIFY2(ok == 0 && gValidationMessage == c.message, what);
            QCOMPARE(line->text(), QString::fromUtf8(LoadMessage(c.message)));
        }
    }
    QCOMPARE(QString::fromUtf8(LoadMessage(95)),
             QString("Must set  connection timeout. Set to 0 to disable."));

    // The first failure wins: a bad session ID hides an empty port number.
    E(d, IDC_SESSIONID)->setText("9");
    E(d, IDC_PORTNUMBER)->setText("");
    QVERIFY(Fails(d, 48));
    E(d, IDC_SESSIONID)->setText("1");
    QVERIFY(Fails(d, 51));
    E(d, IDC_PORTNUMBER)->setText("23");

    // Each medium checks its own field; the port copies its name at once.
    gPortName = "old";
    d.SelectPortOutput(1);
    E(d, IDC_PORTNAME)->setText("");
    QVERIFY(Fails(d, 59));
    QCOMPARE(gPortName, std::string());
    E(d, IDC_PORTNAME)->setText("COM1");
    QCOMPARE(d.ValidateFields(), 1);
    QCOMPARE(gPortName, std::string("COM1"));
    d.SelectSocketOutput(1);
    E(d, IDC_SOCKETPORT)->setText("");
    QVERIFY(Fails(d, 57));
    // An empty port number with a filled socket port is still message 51.
    E(d, IDC_SOCKETPORT)->setText("9100");
    E(d, IDC_PORTNUMBER)->setText("");
    QVERIFY(Fails(d, 51));
    E(d, IDC_PORTNUMBER)->setText("23");
    d.SelectFileOutput(1);
    E(d, IDC_FILENAME)->setText("");
    QVERIFY(Fails(d, 60));
    E(d, IDC_FILENAME)->setText("OUT");

    // 3270E: exactly one of the two names.
    R(d, IDC_3270E)->click();
    E(d, IDC_SESSIONID)->setText("99"); // not checked in 3270E
    QVERIFY(Fails(d, 11));
    E(d, IDC_CONNECTNAME)->setText("C1");
    E(d, IDC_ASSOCIATENAME)->setText("A1");
    QVERIFY(Fails(d, 12));
    QCOMPARE(line->text(), QString("Cannot specify both connectname and associatename."));
    E(d, IDC_CONNECTNAME)->setText("");
    QCOMPARE(d.ValidateFields(), 1);
}

void FieldsTest::nameFieldsFollowTyping() {
    uitest::Env env;
    env.Set("3270E", "1");
    PrinterClientDialog d;
    d.OnInitDialog();
    auto* line = d.ControlAs<QLabel>(IDC_VALIDATION);
    QCOMPARE(line->text(), QString("Must enter either connectname or associatename."));
    QVERIFY(!B(d, IDC_START)->isEnabled());
    QTest::keyClicks(E(d, IDC_CONNECTNAME), "PRT7");
    QVERIFY(!E(d, IDC_ASSOCIATENAME)->isEnabled());
    QVERIFY(!d.Control(IDC_ASSOCIATENAME_LABEL)->isEnabled());
    QVERIFY(B(d, IDC_START)->isEnabled());
    QCOMPARE(line->text(), QString());
    Type(d, IDC_CONNECTNAME, "");
    QVERIFY(E(d, IDC_ASSOCIATENAME)->isEnabled());
    QVERIFY(E(d, IDC_CONNECTNAME)->isEnabled());
    QCOMPARE(line->text(), QString("Must enter either connectname or associatename."));
    QTest::keyClicks(E(d, IDC_ASSOCIATENAME), "ASSOC1");
    QVERIFY(!E(d, IDC_CONNECTNAME)->isEnabled());

    // Back to 3270: names greyed, session ID and address usable again.
    R(d, IDC_3270)->click();
    QCOMPARE(uitest::Enabled(d, {IDC_ASSOCIATENAME, IDC_CONNECTNAME, IDC_SESSIONID, IDC_ADDRESS}),
             QString("0011"));
    QVERIFY(d.choicesChanged());
}

void FieldsTest::undoRestoresLastEdit() {
    uitest::Env env;
    env.Set({{"HOSTNAME", "alpha"}, {"LUTYPE", "3"}, {"PRINT2PORT", "1"}, {"LPTCOMPORT", "LPT1"}});
    PrinterClientDialog d;
    d.OnInitDialog();
    // Nothing changed: Undo does nothing at all.
    B(d, IDC_UNDO)->click();
    QCOMPARE(E(d, IDC_HOSTNAME)->text(), QString("alpha"));

    gSessionFileInForce = 1;
    QTest::keyClicks(E(d, IDC_HOSTNAME), "beta");
    Type(d, IDC_LUTYPE, "2");
    QCOMPARE(E(d, IDC_HOSTNAME)->text(), QString("alphabeta"));
    QVERIFY(!B(d, IDC_START)->isEnabled());
    R(d, IDC_3270E)->click();
    R(d, IDC_AUTO)->click();
    C(d, IDC_PRINTAFTER)->click();
    // A change of medium takes effect at once and is not undone.
    R(d, IDC_FILECHOICE)->click();
    QCOMPARE(gPrintToFile, 1);
    QVERIFY(d.AnyFieldModified());

    B(d, IDC_UNDO)->click();
    QCOMPARE(uitest::Texts(d, {IDC_HOSTNAME, IDC_LUTYPE}), (QStringList{"alpha", "3"}));
    QCOMPARE(uitest::Checked(d, {IDC_3270, IDC_MANUAL, IDC_PRINTAFTER, IDC_FILECHOICE}),
             QString("1101"));
    QVERIFY(E(d, IDC_SESSIONID)->isEnabled());
    QVERIFY(B(d, IDC_START)->isEnabled());
    QVERIFY(!d.AnyFieldModified());
    QCOMPARE(gSessionFileInForce, 0);

    // A second Undo does nothing: the modified flags were cleared.
    B(d, IDC_UNDO)->click();
    QCOMPARE(E(d, IDC_HOSTNAME)->text(), QString("alpha"));
    // Saved edits are no longer undone.
    QTest::keyClicks(E(d, IDC_HOSTNAME), "X");
    d.SaveFieldsToIni();
    B(d, IDC_UNDO)->click();
    QCOMPARE(E(d, IDC_HOSTNAME)->text(), QString("alphaX"));
    QCOMPARE(env.Get("HOSTNAME"), std::string("alphaX"));
}

void FieldsTest::mediumPrecedenceAndEnabling() {
    struct Case {
        const char *file, *socket, *port;
        int checked;
        const char* switches; // port, socket, file
        const char* enabled;  // port, socket, file, job, headings, print-after, lines
    };
    const Case cases[] = {
        {"1", "0", "1", IDC_PORTCHOICE, "100", "1000000"},
        {"1", "1", "0", IDC_SOCKETCHOICE, "010", "0100000"},
        {"1", "1", "1", IDC_PORTCHOICE, "100", "1000000"},
        {"1", "0", "0", IDC_FILECHOICE, "001", "0010000"},
        {"0", "0", "0", IDC_PRINTERCHOICE, "000", "0001111"},
        {"0", "1", "x", IDC_SOCKETCHOICE, "010", "0100000"},
        {"01", "", "", IDC_PRINTERCHOICE, "000", "0001111"},
    };
    for (const Case& c : cases) {
        uitest::Env env;
        env.Set({{"PRINTTOFILE", c.file}, {"USESOCKET", c.socket}, {"PRINT2PORT", c.port}});
        PrinterClientDialog d;
        d.OnInitDialog();
        QVERIFY(R(d, c.checked)->isChecked());
        QCOMPARE(QString("%1%2%3").arg(gPrintToPort).arg(gUseSocket).arg(gPrintToFile),
                 QString(c.switches));
        QCOMPARE(d.useSocket(), gUseSocket == 1);
        QCOMPARE(uitest::Enabled(d, {IDC_PORTNAME, IDC_SOCKETPORT, IDC_FILENAME, IDC_JOBNAME,
                                     IDC_HEADINGS, IDC_PRINTAFTER, IDC_LINES}),
                 QString(c.enabled));
    }
}

void FieldsTest::choiceClicksChangeSwitchesAtOnce() {
    uitest::Env env;
    PrinterClientDialog d;
    d.OnInitDialog();
    QVERIFY(!d.choicesChanged());
    R(d, IDC_SOCKETCHOICE)->click();
    QCOMPARE(gUseSocket, 1);
    QVERIFY(d.choicesChanged());
    QVERIFY(E(d, IDC_SOCKETPORT)->isEnabled());
    QVERIFY(!E(d, IDC_JOBNAME)->isEnabled());
    // Empty socket port: the click revalidates and Start goes grey.
    QVERIFY(!B(d, IDC_START)->isEnabled());
    QCOMPARE(gValidationMessage, 57);
    R(d, IDC_PORTCHOICE)->click();
    QCOMPARE(gPrintToPort, 1);
    QCOMPARE(gUseSocket, 0);
    R(d, IDC_PRINTERCHOICE)->click();
    QCOMPARE(gPrintToPort, 0);
    QVERIFY(C(d, IDC_HEADINGS)->isEnabled());
    C(d, IDC_HEADINGS)->click();
    QCOMPARE(gHeadings, 1);
    C(d, IDC_HEADINGS)->click();
    QCOMPARE(gHeadings, 0);
    R(d, IDC_FILECHOICE)->click();
    QCOMPARE(gPrintToFile, 1);
    QVERIFY(!C(d, IDC_HEADINGS)->isEnabled());
    QVERIFY(B(d, IDC_START)->isEnabled());
}

void FieldsTest::startRefusedWhileInvalid() {
    uitest::Env env;
    env.Set("JOBNAME", "");
    PrinterClientDialog d;
    d.OnInitDialog();
    d.SelectPrinterOutput(1);
    E(d, IDC_JOBNAME)->setText("");
    d.StartClient();
    QCOMPARE(env.shown, QStringList{"Must enter a print job name."});
    QVERIFY(!d.running());
    QVERIFY(!ClientRunning());
    QCOMPARE(d.ControlAs<QLabel>(IDC_STATUS_TEXT)->text(),
             QString("Tarnwick printer client is offline"));
}

void FieldsTest::printerSetupAndAdvancedSettings() {
    uitest::Env env;
    env.Set("SOCKETPORT", "9100");
    PrinterClientDialog d;
    d.OnInitDialog();
    env.printer = "Office_Laser";
    B(d, IDC_PRINTERSETUP)->click();
    QCOMPARE(env.Get("PRINTER"), std::string("Office_Laser"));
    env.printer = "";
    B(d, IDC_PRINTERSETUP)->click();
    QCOMPARE(env.Get("Printer"), std::string("Office_Laser"));

    env.Set("TLSVERIFY", "0");
    AdvancedSettingsDialog adv;
    QVERIFY(!adv.Check("TLSVERIFY")->isChecked());
    QCOMPARE(adv.Edit("EOJTIMEOUT")->text(), QString("0"));
    QCOMPARE(adv.SocketHost()->text(), QString());
    adv.SocketHost()->setText("printer.lan");
    // clang-format off
    const std::pair<const char*, const char*> edits[] = {
        {"CODEPAGE", "1141"}, {"EOJTIMEOUT", "30"}, {"TLSCAFILE", "/etc/ca.pem"},
        {"TLSSERVERNAME", "tn.example"}, {"TLSCERTFILE", "/c.pem"}, {"TLSKEYFILE", "/k.pem"}};
    // clang-format on
    for (auto [key, value] : edits)
        adv.Edit(key)->setText(value);
    for (const char* key : {"USECOMMAND", "KEEPFAILED", "TLS", "TLSVERIFY"})
        adv.Check(key)->setChecked(true);
    adv.FileFormat()->setCurrentIndex(1);
    adv.Save();
    for (auto [key, value] : edits)
        QVERIFY2(env.Get(key) == value, key);
    QCOMPARE(env.Get({"SOCKETPORT", "USECOMMAND", "KEEPFAILED", "TLS", "TLSVERIFY", "FILEFORMAT"}),
             (QStringList{"printer.lan:9100", "1", "1", "1", "1", "pdf"}));
    QCOMPARE(gUseCommand, 1);
    QCOMPARE(gKeepFailed, 1);
    QCOMPARE(gFileFormat, std::string("pdf"));

    // Reopened, the dialog shows what was saved; clearing the host keeps the port.
    AdvancedSettingsDialog again;
    QCOMPARE(again.SocketHost()->text(), QString("printer.lan"));
    QCOMPARE(again.FileFormat()->currentIndex(), 1);
    again.SocketHost()->setText("");
    again.Save();
    QCOMPARE(env.Get("SOCKETPORT"), std::string("9100"));
}

QTEST_MAIN(FieldsTest)
#include "fields_test.moc"
