// Printer setup against a real scheduler: its destinations with their media,
// OK and Cancel only, the printer kept at once and the paper of a medium with
// the Advanced settings.
#include <QDialogButtonBox>
#include <QTimer>
#include <QTreeWidget>

#include "printer_choice.h"
#include "printer_setup.h"
#include "uitestutil.h"

using namespace ui;
using namespace uitest;

namespace {

// A queue description of three standard sheets and an envelope PAPER has no name for.
constexpr const char* kPpd = R"PPD(*PPD-Adobe: "4.3"
*FormatVersion: "4.3"
*FileVersion: "1.0"
*LanguageVersion: English
*LanguageEncoding: ISOLatin1
*PCFileName: "TWMEDIA.PPD"
*Manufacturer: "twprinter"
*Product: "(twprinter media test)"
*ModelName: "twprinter media test"
*ShortNickName: "twprinter media test"
*NickName: "twprinter media test"
*PSVersion: "(3010.000) 0"
*LanguageLevel: "3"
*ColorDevice: False
*DefaultColorSpace: Gray
*FileSystem: False
*Throughput: "1"
*LandscapeOrientation: Plus90
*TTRasterizer: Type42
*OpenUI *PageSize/Media Size: PickOne
*OrderDependency: 10 AnySetup *PageSize
*DefaultPageSize: A4
*PageSize Letter/US Letter: "<</PageSize[612 792]>>setpagedevice"
*PageSize A4/A4: "<</PageSize[595 842]>>setpagedevice"
*PageSize A5/A5: "<</PageSize[420 595]>>setpagedevice"
*PageSize Env10/Envelope #10: "<</PageSize[297 684]>>setpagedevice"
*CloseUI: *PageSize
*OpenUI *PageRegion: PickOne
*OrderDependency: 10 AnySetup *PageRegion
*DefaultPageRegion: A4
*PageRegion Letter/US Letter: "<</PageSize[612 792]>>setpagedevice"
*PageRegion A4/A4: "<</PageSize[595 842]>>setpagedevice"
*PageRegion A5/A5: "<</PageSize[420 595]>>setpagedevice"
*PageRegion Env10/Envelope #10: "<</PageSize[297 684]>>setpagedevice"
*CloseUI: *PageRegion
*DefaultImageableArea: A4
*ImageableArea Letter: "18 36 594 756"
*ImageableArea A4: "18 36 577 806"
*ImageableArea A5: "18 36 402 559"
*ImageableArea Env10: "18 36 279 648"
*DefaultPaperDimension: A4
*PaperDimension Letter: "612 792"
*PaperDimension A4: "595 842"
*PaperDimension A5: "420 595"
*PaperDimension Env10: "297 684"
)PPD";

// "name" of each destination, "  medium|size|PAPER" below it.
QStringList Rows(QTreeWidget* list) {
    QStringList rows;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = list->topLevelItem(i);
        rows << item->text(0);
        for (int j = 0; j < item->childCount(); ++j)
            rows << "  " + item->child(j)->text(0) + "|" + item->child(j)->text(1) + "|" +
                        item->child(j)->text(2);
    }
    return rows;
}

QTreeWidgetItem* Find(QTreeWidget* list, const QString& text) {
    const auto found = list->findItems(text, Qt::MatchStartsWith | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.first();
}

} // namespace

class PrinterSetupTest : public QObject {
    Q_OBJECT
  private slots:
    void destinationsAndTheirMedia() {
        testutil::TempDir root;
        testutil::Cupsd cupsd(root.path());
        QVERIFY2(cupsd.Start(), cupsd.Log().c_str());
        testutil::WriteFile(root.file("media.ppd"), kPpd);
        const std::string add = "lpadmin -h " + cupsd.server() +
                                " -p media -E -v file:///dev/null -P " + root.file("media.ppd") +
                                " >/dev/null 2>&1";
        QVERIFY2(std::system(add.c_str()) == 0, cupsd.Log().c_str());
        Env env;
        env.Set("HOSTNAME=127.0.0.1 SERVERNAME=1 PAPER=letter");
        Window d;
        d.show();
        OnModal<PrinterSetupDialog>([&](PrinterSetupDialog* s) {
            // OK and Cancel: nothing prints from here.
            auto* box = s->findChild<QDialogButtonBox*>();
            QCOMPARE(box->standardButtons(), QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
            QCOMPARE(s->findChildren<QPushButton*>().size(), 2);
            const QStringList rows = Rows(s->List());
            QCOMPARE(rows.first(), "CUPS default printer (twtest)");
            const QString listed = rows.join('\n');
            QVERIFY2(listed.contains("\nmedia\n") && listed.contains("\ntwtest"),
                     qPrintable(listed));
            // Each medium with its size and the PAPER value of that size, once.
            QStringList media;
            const QTreeWidgetItem* queue = s->List()->findItems("media", Qt::MatchExactly).value(0);
            QVERIFY(queue);
            for (int j = 0; j < queue->childCount(); ++j)
                media << queue->child(j)->text(0).section(' ', 0, 0) + "|" +
                             queue->child(j)->text(1) + "|" + queue->child(j)->text(2);
            media.sort();
            QCOMPARE(media, QStringList({"iso_a4_210x297mm|210 x 297 mm|a4",
                                         "iso_a5_148x210mm|148 x 210 mm|a5",
                                         "na_letter_8.5x11in|216 x 279 mm|letter",
                                         "na_number-10_4.125x9.5in|105 x 241 mm|"}));
            QCOMPARE(listed.count(" (default)|"), 1);
            // The current choice is selected: CUPS's default printer.
            QCOMPARE(s->List()->currentItem(), s->List()->topLevelItem(0));
            // A medium without a PAPER value sets the printer only, and says so.
            s->List()->setCurrentItem(Find(s->List(), "na_number-10"));
            QVERIFY2(s->Note()->text().contains("PAPER has no value"),
                     qPrintable(s->Note()->text()));
            s->List()->setCurrentItem(Find(s->List(), "iso_a5"));
            QCOMPARE(s->Note()->text(), "Printer: media; PAPER=a5");
            s->accept();
        });
        B(d, control::kPrintersetup)->click();
        // The printer at once, as the printer list keeps it; the paper until Save.
        QCOMPARE(env.Get("PRINTER PAPER"), "media|letter");
        QCOMPARE(d.ControlAs<PrinterChoice>(control::kPrintername)->currentText(), "media");
        QVERIFY(d.AnyFieldModified());
        StartAndStop(d);
        QVERIFY(d.StartedSettings().printer == "media" && d.StartedSettings().paper == "a5");
        // Opened again on that choice; Cancel changes nothing.
        OnModal<PrinterSetupDialog>([](PrinterSetupDialog* s) {
            QVERIFY(s->List()->currentItem());
            QCOMPARE(s->List()->currentItem()->text(0), "iso_a5_148x210mm");
            s->List()->setCurrentItem(Find(s->List(), "twtest"));
            s->reject();
        });
        B(d, control::kPrintersetup)->click();
        QCOMPARE(env.Get("PRINTER"), "media");
        d.SaveFieldsToIni();
        QCOMPARE(env.Get("PAPER"), "a5");
        // The default entry and a queue without media set the printer alone.
        OnModal<PrinterSetupDialog>([](PrinterSetupDialog* s) {
            s->List()->setCurrentItem(s->List()->topLevelItem(0));
            QCOMPARE(s->Note()->text(), "Printer: CUPS default printer");
            s->accept();
        });
        B(d, control::kPrintersetup)->click();
        QVERIFY(env.Get("PRINTER PAPER") == "|a5" && !d.AnyFieldModified());
        // Without a scheduler the list says why, and the default entry still answers.
        cupsd.Stop();
        PrinterSetupDialog alone("media", "a5");
        const QString why = alone.Refresh();
        QVERIFY2(why.startsWith("CUPS at 127.0.0.1:"), qPrintable(why));
        QCOMPARE(Rows(alone.List()), QStringList({"CUPS default printer", why}));
        alone.List()->setCurrentItem(alone.List()->topLevelItem(1));
        QVERIFY(!alone.Pick().chosen);
    }
};

QTEST_MAIN(PrinterSetupTest)
#include "printer_setup_test.moc"
