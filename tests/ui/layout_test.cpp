// The setup window on a small, magnified screen: twice the scale on the
// offscreen screen leaves 400 x 300 points, far less than the setup needs.
// The window must fit and reach every button by scrolling.
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>

#include "uitestutil.h"

using namespace ui;
using namespace uitest;

class LayoutTest : public QObject {
    Q_OBJECT
  private slots:
    void fitsAndScrollsAtScaleTwo() {
        Env env;
        Window d;
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        QCOMPARE(d.devicePixelRatio(), 2.0);
        const QRect screen = d.screen()->availableGeometry();
        QVERIFY2(d.width() <= screen.width() && d.height() <= screen.height(),
                 qPrintable(QString("%1x%2 on %3x%4")
                                .arg(d.width())
                                .arg(d.height())
                                .arg(screen.width())
                                .arg(screen.height())));
        auto* area = d.findChild<QScrollArea*>();
        QVERIFY(area && area->verticalScrollBar()->maximum() > 0);
        // Each button can be scrolled wholly into view.
        for (int id :
             {control::kStart, control::kStop, control::kHide, control::kPrintersetup,
              control::kAdvanced, control::kSave, control::kUndo, control::kExit, control::kHelp}) {
            QPushButton* b = B(d, id);
            area->ensureWidgetVisible(b, 0, 0);
            const QRect shown(b->mapTo(area->viewport(), QPoint(0, 0)), b->size());
            QVERIFY2(area->viewport()->rect().contains(shown), qPrintable(b->text()));
        }
        // It grows with the screen it is given: no fixed size.
        d.resize(screen.size() * 2);
        QVERIFY(d.width() > screen.width() || d.maximumWidth() > screen.width());
        QVERIFY(d.minimumHeight() < screen.height());
    }
};

int main(int argc, char** argv) {
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    LayoutTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "layout_test.moc"
