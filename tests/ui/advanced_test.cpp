// The Advanced settings' page, line-end and retry fields: lists of the settings
// table's values, refused as twprinterd --check refuses them, kept by OK for the
// next Start, written by Save, and carried past a session file.
#include <QTimer>

#include "advanced.h"
#include "config/settings_table.h"
#include "platform/profile.h"
#include "platform/sysinfo.h"
#include "uitestutil.h"

using namespace ui;
using namespace uitest;

namespace {

QStringList Data(QComboBox* box) {
    QStringList out;
    for (int i = 0; i < box->count(); ++i)
        out << box->itemData(i).toString();
    return out;
}

void Pick(QComboBox* box, const QString& value) {
    const int at = box->findData(value);
    QVERIFY2(at >= 0, qPrintable(value));
    box->setCurrentIndex(at);
}

// Every new field set to a value other than its default.
void ChooseAll(AdvancedSettingsDialog* a) {
    Pick(a->Choice("PAPER"), "legal");
    Pick(a->Choice("ORIENTATION"), "landscape");
    Pick(a->Choice("CPI"), "15");
    Pick(a->Choice("LPI"), "8");
    Pick(a->Choice("BACKGROUND"), "greenbar");
    Pick(a->Choice("LINEEND"), "lf");
    a->Edit("PRINTEROPTIONS")->setText("sides=two-sided-long-edge");
    a->Edit("RETRYINTERVAL")->setText("45");
}

// The INI file's line of key, as written.
QString Line(const Env& env, const QString& key) {
    for (const QString& l : QString::fromStdString(testutil::ReadFile(env.ini())).split('\n'))
        if (l.section('=', 0, 0) == key) return l.trimmed();
    return "<none>";
}

} // namespace

class AdvancedTest : public QObject {
    Q_OBJECT
  private slots:
    void pageFieldsFollowTheTableAndTheSaveModel() {
        Env env;
        env.Set("HOSTNAME=127.0.0.1 SERVERNAME=1 PRINTTOFILE=1 PAPER=A4 RETRYDELAY=30 CPI=11");
        Window d;
        d.show();
        QStringList refused;
        OnModal<AdvancedSettingsDialog>([&](AdvancedSettingsDialog* a) {
            // Every value the table allows, nothing else; "nothing" only where it is no
            // second name of the default.
            QCOMPARE(Data(a->Choice("PAPER")), QStringList({"", "letter", "legal", "a4", "a3", "a5",
                                                            "tabloid", "ledger", "executive"}));
            QCOMPARE(a->Choice("PAPER")->itemText(0), "(the printer's paper)");
            QCOMPARE(Data(a->Choice("ORIENTATION")),
                     QStringList({"auto", "portrait", "landscape"}));
            QCOMPARE(Data(a->Choice("LPI")), QStringList({"auto", "6", "8"}));
            QCOMPARE(Data(a->Choice("LINEEND")), QStringList({"crlf", "lf"}));
            // The file's values as the loader reads them: any case, the older retry key,
            // and a value the table refuses, kept in sight for the check to name.
            QCOMPARE(a->Choice("PAPER")->currentData().toString(), "a4");
            QCOMPARE(a->Edit("RETRYINTERVAL")->text(), "30");
            QCOMPARE(Data(a->Choice("CPI")),
                     QStringList({"auto", "10", "12", "13.3", "15", "16.7", "11"}));
            QCOMPARE(a->Choice("CPI")->currentText(), "11");
            QCOMPARE(a->Choice("BACKGROUND")->currentData().toString(), "");
            // The help names every key the dialog sets.
            const QString help = QString::fromStdString(testutil::ReadFile(TWPRINTER_HELP));
            for (const auto& [key, value] : a->Values())
                QVERIFY2(help.contains("<code>" + QString::fromStdString(key) + "</code>"),
                         key.c_str());
            a->Edit("RETRYINTERVAL")->setText("90000");
            a->accept();
            QVERIFY(a->isVisible() && a->Refusal()->isVisible());
            refused = a->Refusal()->text().split('\n');
            QCOMPARE(refused.size(), 2);
            ChooseAll(a);
            a->accept();
            QVERIFY(!a->isVisible());
        });
        B(d, control::kAdvanced)->click();
        // The very lines of the daemon's check, for the same values in its file.
        QCOMPARE(refused.size(), 2);
        for (const QString& line : refused) {
            testutil::TempDir daemon;
            testutil::WriteFile(daemon.file("twprinter.ini"), testutil::ReadFile(env.ini()));
            platform::ProfileWriteString("CONFIGURATION", "RETRYINTERVAL", "90000",
                                         daemon.file("twprinter.ini"));
            testutil::Proc check({TWPRINTERD_PATH, "--check"}, daemon.path(),
                                 {"TWPRINTER_DIR=" + daemon.path()});
            check.Wait(20000);
            QVERIFY2(check.text().find("setting " + line.toStdString() + "\n") != std::string::npos,
                     (line.toStdString() + " not in:\n" + check.text()).c_str());
        }
        // OK wrote nothing; the next Start has every value.
        QCOMPARE(env.Get("PAPER ORIENTATION LINEEND PRINTEROPTIONS"),
                 "A4|<missing>|<missing>|<missing>");
        QVERIFY(d.AnyFieldModified());
        StartAndStop(d);
        auto pages = [](const config::Settings& s) {
            return QString("%1|%2|%3|%4|%5|%6|%7|%8")
                .arg(QString::fromStdString(s.paper), QString::fromStdString(s.orientation))
                .arg(s.cpi)
                .arg(s.lpi)
                .arg(s.greenbar)
                .arg(s.lineEndLf)
                .arg(QString::fromStdString(s.jobOptions))
                .arg(s.retryDelayMs);
        };
        const QString chosen = "legal|landscape|15|8|1|1|sides=two-sided-long-edge|45000";
        QCOMPARE(pages(d.StartedSettings()), chosen);
        // Undo takes them back; OK again and Save writes them, line by line.
        d.UndoCommand();
        StartAndStop(d);
        QCOMPARE(pages(d.StartedSettings()), "a4|auto|0|0|0|0||30000");
        OnModal<AdvancedSettingsDialog>([](AdvancedSettingsDialog* a) {
            QCOMPARE(a->Choice("PAPER")->currentData().toString(), "a4");
            ChooseAll(a);
            a->accept();
        });
        B(d, control::kAdvanced)->click();
        env.saveAs = QString::fromStdString(env.file("floor.twr"));
        B(d, control::kSave)->click();
        QStringList lines;
        for (const char* key : {"PAPER", "ORIENTATION", "CPI", "LPI", "BACKGROUND", "LINEEND",
                                "PRINTEROPTIONS", "RETRYINTERVAL", "RETRYDELAY"})
            lines << Line(env, key);
        QCOMPARE(lines, QStringList({"PAPER=legal", "ORIENTATION=landscape", "CPI=15", "LPI=8",
                                     "BACKGROUND=greenbar", "LINEEND=lf",
                                     "PRINTEROPTIONS=sides=two-sided-long-edge", "RETRYINTERVAL=45",
                                     "RETRYDELAY=30"}));
        QVERIFY(!d.AnyFieldModified());
        const std::string check = testutil::Run({TWPRINTERD_PATH, "--check"});
        QVERIFY2(check.find("setting ") == std::string::npos, check.c_str());
        // The session file carries the keys the table gives it; the others stay the
        // INI file's, and a window opened on the session file starts with them.
        const QString twr = QString::fromStdString(testutil::ReadFile(env.file("floor.twr")));
        for (const char* key : {"PAPER", "ORIENTATION", "CPI", "LPI", "BACKGROUND", "LINEEND",
                                "PRINTEROPTIONS", "RETRYINTERVAL"})
            QCOMPARE(twr.contains(QString("\n") + key + "="), config::FindKey(key)->sessionFile);
        QVERIFY(twr.contains("\nHOSTNAME=127.0.0.1"));
        platform::SetCommandLine("twprinter " + env.file("floor.twr"));
        Window r;
        StartAndStop(r);
        QVERIFY(r.StartedSettings().host == "127.0.0.1");
        QCOMPARE(pages(r.StartedSettings()), chosen);
    }
};

QTEST_MAIN(AdvancedTest)
#include "advanced_test.moc"
