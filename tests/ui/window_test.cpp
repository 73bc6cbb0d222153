// The window as a user meets it: keyboard mnemonics, the LU type choice, the
// Advanced settings reaching a Start, the CUPS printer choice against a real
// scheduler, the help without a desktop launcher and the weight of messages.
#include <QGroupBox>
#include <QTextBrowser>
#include <QTimer>

#include "advanced.h"
#include "config/ini.h"
#include "platform/sysinfo.h"
#include "printer_choice.h"
#include "uitestutil.h"

using namespace ui;
using namespace uitest;

namespace {

// Letters after a single "&" of every button, group and buddy label below w,
// with the texts that use each.
QMap<QChar, QStringList> Mnemonics(QWidget* w) {
    QMap<QChar, QStringList> letters;
    auto add = [&](const QString& text) {
        for (qsizetype i = text.indexOf('&'); i >= 0 && i + 1 < text.size();
             i = text.indexOf('&', i + 2))
            if (text[i + 1] != '&') letters[text[i + 1].toLower()] << text;
    };
    for (auto* b : w->findChildren<QAbstractButton*>())
        add(b->text());
    for (auto* g : w->findChildren<QGroupBox*>())
        add(g->title());
    for (auto* l : w->findChildren<QLabel*>())
        if (l->buddy()) add(l->text());
    return letters;
}

QString Clashes(const QMap<QChar, QStringList>& letters) {
    QStringList out;
    for (auto it = letters.begin(); it != letters.end(); ++it)
        if (it.value().size() > 1) out << it.value().join(" / ");
    return out.join("; ");
}

} // namespace

class WindowTest : public QObject {
    Q_OBJECT
  private slots:
    // First: libcups keeps the scheduler it met first (CUPS_SERVER) for the process.
    void printerChoiceFromCups() {
        testutil::TempDir root;
        testutil::Cupsd cupsd(root.path());
        QVERIFY2(cupsd.Start() && cupsd.AddQueue("held"), cupsd.Log().c_str());
        Env env;
        env.Set("PRINTER=held");
        Window d;
        auto* choice = d.ControlAs<PrinterChoice>(control::kPrintername);
        QVERIFY(choice && choice->isEnabled() && d.medium() == config::Medium::Printer);
        QCOMPARE(choice->currentText(), "held");
        QCOMPARE(choice->Refresh(), "");
        QStringList items;
        for (int i = 0; i < choice->count(); ++i)
            items << choice->itemText(i);
        QCOMPARE(items, QStringList({"CUPS default printer (twtest)", "held", "twtest"}));
        QTest::keyClicks(choice, "tw");
        QCOMPARE(env.Get("PRINTER"), "twtest");
        QTest::qWait(QApplication::keyboardInputInterval() + 50);
        QTest::keyClicks(choice, "C");
        QCOMPARE(env.Get("PRINTER"), "");
        // The file medium greys the choice; the printer choice brings it back.
        R(d, control::kFilechoice)->click();
        QVERIFY(!choice->isEnabled());
        R(d, control::kPrinterchoice)->click();
        QVERIFY(choice->isEnabled());
        // Without a scheduler the list says so, and the window goes on.
        cupsd.Stop();
        const QString why = choice->Refresh();
        QVERIFY2(why.startsWith("CUPS at 127.0.0.1:"), qPrintable(why));
        QCOMPARE(choice->itemText(choice->count() - 1), why);
        QVERIFY(choice->currentText().startsWith("CUPS default printer"));
        Window again;
        QVERIFY(again.ControlAs<PrinterChoice>(control::kPrintername));
    }

    void mnemonicsAreUnique() {
        Env env;
        Window d;
        const auto main = Mnemonics(&d);
        QVERIFY2(Clashes(main).isEmpty(), qPrintable(Clashes(main)));
        // Each command button has one of its own.
        for (int id :
             {control::kStart, control::kStop, control::kHide, control::kPrintersetup,
              control::kSave, control::kUndo, control::kExit, control::kHelp, control::kAdvanced})
            QVERIFY2(B(d, id)->text().contains('&'), qPrintable(B(d, id)->text()));
        AdvancedSettingsDialog adv;
        const auto advanced = Mnemonics(&adv);
        QVERIFY2(Clashes(advanced).isEmpty(), qPrintable(Clashes(advanced)));
        QVERIFY(advanced.size() >= 12);
    }

    void codePageAndCharsetAreChosenFromLists() {
        Env env;
        env.Set("CODEPAGE=273");
        AdvancedSettingsDialog adv;
        adv.Load();
        auto* pages = qobject_cast<QComboBox*>(adv.Edit("CODEPAGE")->parentWidget());
        QVERIFY(pages && adv.Edit("CODEPAGE")->text() == "273");
        const int japanese = pages->findData("930");
        QVERIFY(japanese > 0 && pages->itemText(japanese).contains("Japanese"));
        emit pages->activated(japanese);
        auto* sets = qobject_cast<QComboBox*>(adv.Edit("OUTPUTCHARSET")->parentWidget());
        QVERIFY(sets);
        emit sets->activated(sets->findData("SHIFT_JIS"));
        adv.Save();
        QCOMPARE(env.Get("CODEPAGE OUTPUTCHARSET"), "930|SHIFT_JIS");
        // Any other value can still be typed.
        adv.Edit("OUTPUTCHARSET")->setText("IBM-943");
        adv.Save();
        QCOMPARE(env.Get("OUTPUTCHARSET"), "IBM-943");
    }

    void luTypeIsAChoiceOfOneOrThree() {
        Env env;
        env.Set("HOSTNAME=127.0.0.1 SERVERNAME=1 LUTYPE=2 PRINTTOFILE=1");
        Window d;
        auto* lu = d.ControlAs<QComboBox>(control::kLutype);
        // A file's other value stays visible for the validation to name it.
        QCOMPARE(lu->currentText(), "2");
        QVERIFY(!d.ValidateFields() && d.validationMessage() == config::MSG_BAD_LU_TYPE);
        d.StartClient();
        QCOMPARE(env.shown, QStringList{UiText(config::MSG_BAD_LU_TYPE)});
        QCOMPARE(env.kinds, QList{MessageKind::Warning});
        QVERIFY(!d.running() && !B(d, control::kStart)->isEnabled());
        Type(d, {control::kLutype}, "3");
        QCOMPARE(lu->count(), 2);
        QVERIFY(d.ValidateFields() && B(d, control::kStart)->isEnabled() && d.AnyFieldModified());
        B(d, control::kUndo)->click(); // back to the file's value
        QCOMPARE(lu->currentText(), "2");
        Type(d, {control::kLutype}, "1");
        d.SaveFieldsToIni();
        QCOMPARE(env.Get("LUTYPE"), "1");
        Type(d, {control::kLutype}, "3");
        StartAndStop(d);
        QVERIFY(d.StartedSettings().luType == 3 && d.sessionFileInForce());
        // "3x" was always read as 3: it shows as 3.
        env.Set("LUTYPE=3x");
        d.LoadFieldsFromIni();
        QVERIFY(lu->currentText() == "3" && lu->count() == 2);
    }

    void advancedSettingsReachTheStart() {
        Env env;
        env.Set("HOSTNAME=127.0.0.1 SERVERNAME=1 PRINTTOFILE=1 USECOMMAND=1 SOCKETPORT=9100");
        Window d;
        d.show();
        QVERIFY(B(d, control::kAdvanced)->isVisible());
        // Cancel changes nothing.
        OnModal<AdvancedSettingsDialog>([](AdvancedSettingsDialog* a) {
            a->Edit("PRINTCOMMAND")->setText("never");
            a->reject();
        });
        B(d, control::kAdvanced)->click();
        QCOMPARE(env.Get("PRINTCOMMAND"), "<missing>");
        OnModal<AdvancedSettingsDialog>([&env](AdvancedSettingsDialog* a) {
            QStringList groups;
            for (auto* g : a->findChildren<QGroupBox*>())
                groups << g->title();
            QCOMPARE(groups,
                     QStringList({"Connection and TLS", "Output", "Pages", "Job handling"}));
            // The TLS files, names and their buttons only with TLS or STARTTLS.
            auto tlsFields = [a] {
                QString s;
                for (const char* key : {"TLSCAFILE", "TLSSERVERNAME", "TLSCERTFILE", "TLSKEYFILE"})
                    s += a->Edit(key)->isEnabled() ? '1' : '0';
                for (const char* key : {"TLSCAFILE", "TLSCERTFILE", "TLSKEYFILE"})
                    s += a->Browse(key)->isEnabled() ? '1' : '0';
                return s + (a->Check("TLSVERIFY")->isEnabled() ? '1' : '0');
            };
            QCOMPARE(tlsFields(), "00000000");
            a->Check("TLS")->click();
            QCOMPARE(tlsFields(), "11111111");
            // Browse fills the field; a cancelled chooser leaves it.
            env.openAs = "/etc/ssl/ca.pem";
            a->Browse("TLSCAFILE")->click();
            env.openAs.clear();
            a->Browse("TLSCAFILE")->click();
            QCOMPARE(a->Edit("TLSCAFILE")->text(), "/etc/ssl/ca.pem");
            a->Check("TLS")->click();
            a->StartTls()->setCurrentIndex(2);
            QCOMPARE(tlsFields(), "11111111");
            a->StartTls()->setCurrentIndex(0);
            QCOMPARE(tlsFields(), "00000000");
            // The socket printer as the window showed it, host and port side by side.
            QCOMPARE(a->SocketHost()->text() + "|" + a->SocketPortEdit()->text(), "|9100");
            a->SocketHost()->setText("prt1");
            a->SocketPortEdit()->setText("9101");
            a->Edit("PRINTCOMMAND")->setText("lp -d floor2");
            // The dialog says how its OK is saved.
            auto* note = a->findChild<QLabel*>("saveModel");
            QVERIFY(note && note->text().contains("Save writes them to the INI file"));
            a->accept();
        });
        B(d, control::kAdvanced)->click();
        QCOMPARE(E(d, control::kSocketport)->text(), "prt1:9101");
        // One save model: OK writes nothing, the next Start uses the values, and they are
        // changes of the window, shown again by the dialog until Save writes them.
        QCOMPARE(env.Get("PRINTCOMMAND SOCKETPORT TLSCAFILE STARTTLS TLS"),
                 "<missing>|9100|<missing>|<missing>|<missing>");
        QVERIFY(d.AnyFieldModified());
        StartAndStop(d);
        const config::Settings& s = d.StartedSettings();
        QCOMPARE(QString::fromStdString(s.socketPort), "prt1:9101");
        QVERIFY(s.medium == config::Medium::Command);
        QCOMPARE(QString::fromStdString(s.printerCmds), "lp -d floor2");
        QCOMPARE(QString::fromStdString(s.tls.caFile), "/etc/ssl/ca.pem");
        OnModal<AdvancedSettingsDialog>([](AdvancedSettingsDialog* a) {
            QCOMPARE(a->Edit("PRINTCOMMAND")->text(), "lp -d floor2");
            a->reject();
        });
        B(d, control::kAdvanced)->click();
        d.SaveCommand(); // what OK changed; TLS and STARTTLS went back to as they were
        QCOMPARE(env.Get("PRINTCOMMAND SOCKETPORT TLSCAFILE STARTTLS TLS"),
                 "lp -d floor2|prt1:9101|/etc/ssl/ca.pem|<missing>|<missing>");
        QVERIFY(!d.AnyFieldModified());
        // Undo takes OK's values back.
        OnModal<AdvancedSettingsDialog>([](AdvancedSettingsDialog* a) {
            a->Edit("PRINTCOMMAND")->setText("lp -d basement");
            a->accept();
        });
        B(d, control::kAdvanced)->click();
        d.UndoCommand();
        QVERIFY(!d.AnyFieldModified());
        StartAndStop(d);
        QCOMPARE(QString::fromStdString(d.StartedSettings().printerCmds), "lp -d floor2");
        // The LU-name file's PRINTERCMD stays in charge of its LU.
        testutil::WriteFile(env.file("lu.cfg"), "PRINTERCMD=shopprint\n");
        platform::SetCommandLine("twprinter -c " + env.file("lu.cfg"));
        StartAndStop(d);
        QCOMPARE(QString::fromStdString(d.StartedSettings().printerCmds), "shopprint");
    }

    void helpWithoutLauncherAndMessageWeight() {
        Env env;
        Window d;
        d.SetHelpPath(TWPRINTER_HELP);
        env.launcher = true;
        B(d, control::kHelp)->click();
        QVERIFY(!d.HelpViewer() && env.shown.isEmpty());
        env.launcher = false;
        B(d, control::kHelp)->click();
        QVERIFY(d.HelpViewer() && d.HelpViewer()->isVisible());
        auto* browser = d.HelpViewer()->findChild<QTextBrowser*>();
        QVERIFY(browser && browser->toPlainText().contains("Advanced settings"));
        d.HelpViewer()->hide();
        B(d, control::kHelp)->click();
        QVERIFY(d.HelpViewer()->isVisible() && env.shown.isEmpty());
        // Nowhere to be found: the message says where it was looked for.
        Window other;
        other.SetHelpPath("twprinter.html");
        B(other, control::kHelp)->click();
        QVERIFY(!other.HelpViewer() && env.shown.size() == 1);
        QVERIFY(env.shown[0].contains("twprinter.html") &&
                env.shown[0].contains("share/twprinter"));
        QCOMPARE(env.kinds, QList{MessageKind::Warning});
        // Exit while the stop winds down: one question, and the window goes once stopped.
        env.answers = {true};
        QSignalSpy exited(&d, &Dialog::exited);
        d.StartClient(); // no host: the computer's own name
        d.StopClient();
        d.RequestExit();
        QCOMPARE(env.kinds.mid(1), QList({MessageKind::Question}));
        QTRY_VERIFY_WITH_TIMEOUT(!d.stopping(), 10000);
        QCOMPARE(exited.size(), 1);
    }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
