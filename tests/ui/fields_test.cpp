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

namespace {
QLineEdit* E(PrinterClientDialog& d, int id) {
    return d.ControlAs<QLineEdit>(id);
}
QRadioButton* R(PrinterClientDialog& d, int id) {
    return d.ControlAs<QRadioButton>(id);
}
QCheckBox* C(PrinterClientDialog& d, int id) {
    return d.ControlAs<QCheckBox>(id);
}
QPushButton* B(PrinterClientDialog& d, int id) {
    return d.ControlAs<QPushButton>(id);
}
void Type(PrinterClientDialog& d, int id, const QString& text) {
    auto* e = E(d, id);
    e->selectAll();
    if (text.isEmpty())
        QTest::keyClick(e, Qt::Key_Delete);
    else
        QTest::keyClicks(e, text);
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
    const std::pair<int, const char*> buttons[] = {
        {IDC_START, "&Start"}, {IDC_STOP, "S&top"},
        {IDC_HIDE, "H&ide"},   {IDC_PRINTERSETUP, "&Printer setup"},
        {IDC_SAVE, "&Save"},   {IDC_UNDO, "&Undo"},
        {IDC_EXIT, "&Exit"},   {IDC_HELP, "&Help"}};
    for (auto [id, text] : buttons)
        QCOMPARE(B(d, id)->text(), QString(text));
    QVERIFY(B(d, IDC_START)->isDefault());
    const std::pair<int, const char*> radios[] = {
        {IDC_3270, "&3270"},
        {IDC_3270E, "3270&E"},
        {IDC_AUTO, "&Auto"},
        {IDC_MANUAL, "&Manual"},
        {IDC_PORTCHOICE, "Print to port (LPT/COM):"},
        {IDC_SOCKETCHOICE, "Print to socket (port number):"},
        {IDC_FILECHOICE, "Print to file (path name):"},
        {IDC_PRINTERCHOICE, "Print to printer (job name):"}};
    for (auto [id, text] : radios)
        QCOMPARE(R(d, id)->text(), QString(text));
    const std::pair<int, const char*> labels[] = {
        {IDC_HOSTNAME_LABEL, "Host name:"},
        {IDC_PORTNUMBER_LABEL, "Port number:"},
        {IDC_LUTYPE_LABEL, "Lu type:"},
        {IDC_SESSIONID_LABEL, "Session ID:"},
        {IDC_ADDRESS_LABEL, "Address:"},
        {IDC_CONNECTNAME_LABEL, "Connect name:"},
        {IDC_ASSOCIATENAME_LABEL, "Associate name:"},
        {IDC_VERSION, "Version: 1.5.1"},
        {IDC_STATUS_TEXT, "Tarnwick printer client is offline"}};
    for (auto [id, text] : labels)
        QCOMPARE(d.ControlAs<QLabel>(id)->text(), QString(text));
    QCOMPARE(C(d, IDC_HEADINGS)->text(), QString("Print Headings"));
    QCOMPARE(C(d, IDC_PRINTAFTER)->text(), QString("Print Page after lines"));
    QCOMPARE(C(d, IDC_STARTVISIBLE)->text(), QString("Start visible"));
    QCOMPARE(d.ControlAs<QGroupBox>(IDC_GROUP_STARTUP)->title(), QString("Startup"));
    QCOMPARE(d.ControlAs<QGroupBox>(IDC_GROUP_CONNECTION)->title(),
             QString("Connection parameters"));
    QVERIFY(d.Control(12345) == nullptr);

    // Digits only in the time-out and lines fields.
    QTest::keyClicks(E(d, IDC_CONNECTTIMEOUT), "x1y2");
    QVERIFY(E(d, IDC_CONNECTTIMEOUT)->text().endsWith("12"));

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
    {
        uitest::Env env;
        env.Set("HOSTNAME", "mvs1");
        env.Set("SERVERNAME", "2323");
        env.Set("CONNECTTIMEOUT", "30");
        env.Set("SESSIONID", "b");
        env.Set("LUADDRESS", "17");
        env.Set("LUTYPE", "1");
        env.Set("CONNECTNAME", "PRT1");
        env.Set("LPTCOMPORT", "LPT1");
        env.Set("SOCKETPORT", "9100");
        env.Set("FILENAME", "JOB");
        env.Set("JOBNAME", "Payroll");
        env.Set("PRINTAFTERNLINES", "60");
        env.Set("PRINTAFTERNLINESCHK", "1");
        env.Set("AUTOSTART", "0");
        env.Set("STARTVISIBLE", "0");
        env.Set("HEADINGS", "1");
        env.Set("3270E", "1");
        env.Set("PRINTTOFILE", "1");
        PrinterClientDialog d;
        d.OnInitDialog();
        QCOMPARE(E(d, IDC_HOSTNAME)->text(), QString("mvs1"));
        QCOMPARE(E(d, IDC_PORTNUMBER)->text(), QString("2323"));
        QCOMPARE(E(d, IDC_CONNECTTIMEOUT)->text(), QString("30"));
        QCOMPARE(E(d, IDC_SESSIONID)->text(), QString("b"));
        QCOMPARE(E(d, IDC_ADDRESS)->text(), QString("17"));
        QCOMPARE(E(d, IDC_LUTYPE)->text(), QString("1"));
        QCOMPARE(E(d, IDC_CONNECTNAME)->text(), QString("PRT1"));
        QCOMPARE(E(d, IDC_PORTNAME)->text(), QString("LPT1"));
        QCOMPARE(gPortName, std::string("LPT1"));
        QCOMPARE(E(d, IDC_SOCKETPORT)->text(), QString("9100"));
        QCOMPARE(E(d, IDC_FILENAME)->text(), QString("JOB"));
        QCOMPARE(E(d, IDC_JOBNAME)->text(), QString("Payroll"));
        QCOMPARE(E(d, IDC_LINES)->text(), QString("60"));
        QCOMPARE(gPrintAfterNLines, 60L);
        QVERIFY(C(d, IDC_PRINTAFTER)->isChecked());
        QVERIFY(d.printPageAfterLines());
        QVERIFY(R(d, IDC_MANUAL)->isChecked());
        QVERIFY(!C(d, IDC_STARTVISIBLE)->isChecked());
        QVERIFY(C(d, IDC_HEADINGS)->isChecked());
        QCOMPARE(gHeadings, 1);
        QVERIFY(R(d, IDC_3270E)->isChecked());
        QVERIFY(d.mode3270E());
        QVERIFY(!E(d, IDC_SESSIONID)->isEnabled());
        QVERIFY(!d.Control(IDC_ADDRESS_LABEL)->isEnabled());
        QVERIFY(E(d, IDC_CONNECTNAME)->isEnabled());
        // Only a connect name: the validation greys the associate name.
        QVERIFY(!E(d, IDC_ASSOCIATENAME)->isEnabled());
        QVERIFY(R(d, IDC_FILECHOICE)->isChecked());
        QCOMPARE(gPrintToFile, 1);
        QVERIFY(!d.AnyFieldModified());
        QVERIFY(B(d, IDC_START)->isEnabled());
    }
    {
        // Keys missing: the window's defaults, not the default file's.
        uitest::Env env;
        env.Set("EXEDIR", "/tmp");
        gHeadings = 1;
        gPrintToPort = 1;
        PrinterClientDialog d;
        d.OnInitDialog();
        QCOMPARE(E(d, IDC_HOSTNAME)->text(), QString(""));
        QCOMPARE(E(d, IDC_PORTNUMBER)->text(), QString("kesservd"));
        QCOMPARE(E(d, IDC_CONNECTTIMEOUT)->text(), QString("15"));
        QCOMPARE(E(d, IDC_SESSIONID)->text(), QString("-1"));
        QCOMPARE(E(d, IDC_ADDRESS)->text(), QString("-1"));
        QCOMPARE(E(d, IDC_LUTYPE)->text(), QString("3"));
        QCOMPARE(E(d, IDC_FILENAME)->text(), QString("VARODO"));
        QCOMPARE(E(d, IDC_JOBNAME)->text(), QString("VARODO"));
        QCOMPARE(E(d, IDC_LINES)->text(), QString("0"));
        QVERIFY(R(d, IDC_MANUAL)->isChecked());
        QVERIFY(C(d, IDC_STARTVISIBLE)->isChecked());
        QVERIFY(!C(d, IDC_HEADINGS)->isChecked());
        QCOMPARE(gHeadings, 0);
        QVERIFY(R(d, IDC_3270)->isChecked());
        QVERIFY(!E(d, IDC_CONNECTNAME)->isEnabled());
        QVERIFY(E(d, IDC_SESSIONID)->isEnabled());
        QVERIFY(R(d, IDC_PRINTERCHOICE)->isChecked());
        QCOMPARE(gPrintToPort, 0);
        QVERIFY(E(d, IDC_JOBNAME)->isEnabled());
        QVERIFY(!E(d, IDC_PORTNAME)->isEnabled());
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

    const std::pair<const char*, const char*> expected[] = {{"HOSTNAME", "zos.example"},
                                                            {"SERVERNAME", "23"},
                                                            {"CONNECTTIMEOUT", "0"},
                                                            {"SESSIONID", "C"},
                                                            {"LUADDRESS", "255"},
                                                            {"LPTCOMPORT", ""},
                                                            {"SOCKETPORT", "9100"},
                                                            {"FILENAME", "ROROR"},
                                                            {"JOBNAME", "VARODO"},
                                                            {"LUTYPE", "1"},
                                                            {"PRINTAFTERNLINESCHK", "1"},
                                                            {"PRINTAFTERNLINES", "66"},
                                                            {"AUTOSTART", "1"},
                                                            {"3270E", "0"},
                                                            {"STARTVISIBLE", "0"},
                                                            {"PRINT2PORT", "0"},
                                                            {"USESOCKET", "1"},
                                                            {"PRINTTOFILE", "0"},
                                                            {"HEADINGS", "1"},
                                                            {"CONNECTNAME", ""},
                                                            {"ASSOCIATENAME", ""}};
    for (auto [key, value] : expected) {
        QVERIFY2(env.Get(key) == value, key);
    }
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
    QCOMPARE(d.ValidateFields(), 0);
    QCOMPARE(gValidationMessage, 48);
    E(d, IDC_SESSIONID)->setText("1");
    QCOMPARE(d.ValidateFields(), 0);
    QCOMPARE(gValidationMessage, 51);
    E(d, IDC_PORTNUMBER)->setText("23");

    // Each medium checks its own field; the port copies its name at once.
    gPortName = "old";
    d.SelectPortOutput(1);
    E(d, IDC_PORTNAME)->setText("");
    QCOMPARE(d.ValidateFields(), 0);
    QCOMPARE(gValidationMessage, 59);
    QCOMPARE(gPortName, std::string());
    E(d, IDC_PORTNAME)->setText("COM1");
    QCOMPARE(d.ValidateFields(), 1);
    QCOMPARE(gPortName, std::string("COM1"));
    d.SelectSocketOutput(1);
    E(d, IDC_SOCKETPORT)->setText("");
    QCOMPARE(d.ValidateFields(), 0);
    QCOMPARE(gValidationMessage, 57);
    // An empty port number with a filled socket port is still message 51.
    E(d, IDC_SOCKETPORT)->setText("9100");
    E(d, IDC_PORTNUMBER)->setText("");
    QCOMPARE(d.ValidateFields(), 0);
    QCOMPARE(gValidationMessage, 51);
    E(d, IDC_PORTNUMBER)->setText("23");
    d.SelectFileOutput(1);
    E(d, IDC_FILENAME)->setText("");
    QCOMPARE(d.ValidateFields(), 0);
    QCOMPARE(gValidationMessage, 60);
    E(d, IDC_FILENAME)->setText("OUT");

    // 3270E: exactly one of the two names.
    R(d, IDC_3270E)->click();
    E(d, IDC_SESSIONID)->setText("99"); // not checked in 3270E
    QCOMPARE(d.ValidateFields(), 0);
    QCOMPARE(gValidationMessage, 11);
    E(d, IDC_CONNECTNAME)->setText("C1");
    E(d, IDC_ASSOCIATENAME)->setText("A1");
    QCOMPARE(d.ValidateFields(), 0);
    QCOMPARE(gValidationMessage, 12);
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
    QVERIFY(!E(d, IDC_ASSOCIATENAME)->isEnabled());
    QVERIFY(!E(d, IDC_CONNECTNAME)->isEnabled());
    QVERIFY(E(d, IDC_SESSIONID)->isEnabled());
    QVERIFY(E(d, IDC_ADDRESS)->isEnabled());
    QVERIFY(d.choicesChanged());
}

void FieldsTest::undoRestoresLastEdit() {
    uitest::Env env;
    env.Set("HOSTNAME", "alpha");
    env.Set("LUTYPE", "3");
    env.Set("AUTOSTART", "0");
    env.Set("PRINT2PORT", "1");
    env.Set("LPTCOMPORT", "LPT1");
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
    QCOMPARE(E(d, IDC_HOSTNAME)->text(), QString("alpha"));
    QCOMPARE(E(d, IDC_LUTYPE)->text(), QString("3"));
    QVERIFY(R(d, IDC_3270)->isChecked());
    QVERIFY(E(d, IDC_SESSIONID)->isEnabled());
    QVERIFY(R(d, IDC_MANUAL)->isChecked());
    QVERIFY(!C(d, IDC_PRINTAFTER)->isChecked());
    QVERIFY(R(d, IDC_FILECHOICE)->isChecked());
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
        const char* file;
        const char* socket;
        const char* port;
        int expected;
    };
    const Case cases[] = {
        {"1", "0", "1", IDC_PORTCHOICE},    {"1", "1", "0", IDC_SOCKETCHOICE},
        {"1", "1", "1", IDC_PORTCHOICE},    {"1", "0", "0", IDC_FILECHOICE},
        {"0", "0", "0", IDC_PRINTERCHOICE}, {"0", "1", "x", IDC_SOCKETCHOICE},
        {"01", "", "", IDC_PRINTERCHOICE},
    };
    for (const Case& c : cases) {
        uitest::Env env;
        env.Set("PRINTTOFILE", c.file);
        env.Set("USESOCKET", c.socket);
        env.Set("PRINT2PORT", c.port);
        PrinterClientDialog d;
        d.OnInitDialog();
        QVERIFY(R(d, c.expected)->isChecked());
        QCOMPARE(gPrintToPort, c.expected == IDC_PORTCHOICE ? 1 : 0);
        QCOMPARE(gUseSocket, c.expected == IDC_SOCKETCHOICE ? 1 : 0);
        QCOMPARE(d.useSocket(), c.expected == IDC_SOCKETCHOICE);
        QCOMPARE(gPrintToFile, c.expected == IDC_FILECHOICE ? 1 : 0);
        QCOMPARE(E(d, IDC_PORTNAME)->isEnabled(), c.expected == IDC_PORTCHOICE);
        QCOMPARE(E(d, IDC_SOCKETPORT)->isEnabled(), c.expected == IDC_SOCKETCHOICE);
        QCOMPARE(E(d, IDC_FILENAME)->isEnabled(), c.expected == IDC_FILECHOICE);
        QCOMPARE(E(d, IDC_JOBNAME)->isEnabled(), c.expected == IDC_PRINTERCHOICE);
        const bool printer = c.expected == IDC_PRINTERCHOICE;
        QCOMPARE(C(d, IDC_HEADINGS)->isEnabled(), printer);
        QCOMPARE(C(d, IDC_PRINTAFTER)->isEnabled(), printer);
        QCOMPARE(E(d, IDC_LINES)->isEnabled(), printer);
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
    adv.Edit("CODEPAGE")->setText("1141");
    adv.Edit("EOJTIMEOUT")->setText("30");
    adv.Edit("TLSCAFILE")->setText("/etc/ca.pem");
    adv.Edit("TLSSERVERNAME")->setText("tn.example");
    adv.Edit("TLSCERTFILE")->setText("/c.pem");
    adv.Edit("TLSKEYFILE")->setText("/k.pem");
    adv.Check("USECOMMAND")->setChecked(true);
    adv.Check("KEEPFAILED")->setChecked(true);
    adv.Check("TLS")->setChecked(true);
    adv.Check("TLSVERIFY")->setChecked(true);
    adv.FileFormat()->setCurrentIndex(1);
    adv.Save();
    const std::pair<const char*, const char*> expected[] = {{"SOCKETPORT", "printer.lan:9100"},
                                                            {"CODEPAGE", "1141"},
                                                            {"EOJTIMEOUT", "30"},
                                                            {"TLSCAFILE", "/etc/ca.pem"},
                                                            {"TLSSERVERNAME", "tn.example"},
                                                            {"TLSCERTFILE", "/c.pem"},
                                                            {"TLSKEYFILE", "/k.pem"},
                                                            {"USECOMMAND", "1"},
                                                            {"KEEPFAILED", "1"},
                                                            {"TLS", "1"},
                                                            {"TLSVERIFY", "1"},
                                                            {"FILEFORMAT", "pdf"}};
    for (auto [key, value] : expected)
        QVERIFY2(env.Get(key) == value, key);
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
