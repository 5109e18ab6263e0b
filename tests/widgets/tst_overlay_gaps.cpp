// The overlay's guard against layout jitter: a change of one pixel, where it
// would move the face frame, leaves the margins alone; larger changes, and
// drift that adds up, still move it.
#include "widgets/deviceshowDig.h"

#include <QLayout>
#include <QtTest>

Q_DECLARE_METATYPE(QMargins)

class OverlayGapsTest : public QObject {
    Q_OBJECT

    static QMargins marginsAfter(deviceshowDig& overlay, QWidget* right, const QSize& size)
    {
        right->resize(size);
        overlay.moveface();
        return right->layout()->contentsMargins();
    }

private slots:
    void onePixelChangesKeepTheMargins_data()
    {
        QTest::addColumn<QSize>("next");
        QTest::addColumn<QMargins>("margins");
        // From 1000 × 450 (margins 100, 40, 100, 0). At 449 high the box
        // would shrink to 49 units: margins 108, 44, 108, 4.
        QTest::newRow("one pixel lower") << QSize(1000, 449) << QMargins(100, 40, 100, 0);
        QTest::newRow("one pixel in both") << QSize(999, 449) << QMargins(100, 40, 100, 0);
        QTest::newRow("two pixels lower") << QSize(1000, 448) << QMargins(108, 43, 108, 3);
        QTest::newRow("one across, five lower") << QSize(1001, 445) << QMargins(108, 42, 108, 2);
    }

    void onePixelChangesKeepTheMargins()
    {
        QFETCH(QSize, next);
        QFETCH(QMargins, margins);
        QCOMPARE(deviceshowDig::faceMargins(QSize(1000, 449)), QMargins(108, 44, 108, 4));
        deviceshowDig overlay;
        auto* right = overlay.findChild<QWidget*>("right");
        QVERIFY(right);
        QCOMPARE(marginsAfter(overlay, right, QSize(1000, 450)), QMargins(100, 40, 100, 0));
        QCOMPARE(marginsAfter(overlay, right, next), margins);
    }

    // The guard measures against the size the margins were made for, so a
    // panel creeping one pixel at a time is followed on the second pixel.
    void driftThatAddsUpIsFollowed()
    {
        deviceshowDig overlay;
        auto* right = overlay.findChild<QWidget*>("right");
        QVERIFY(right);
        QCOMPARE(marginsAfter(overlay, right, QSize(1000, 450)), QMargins(100, 40, 100, 0));
        QCOMPARE(marginsAfter(overlay, right, QSize(1000, 449)), QMargins(100, 40, 100, 0));
        QCOMPARE(marginsAfter(overlay, right, QSize(1000, 448)), QMargins(108, 43, 108, 3));
        QCOMPARE(marginsAfter(overlay, right, QSize(1000, 449)), QMargins(108, 43, 108, 3));
    }
};

QTEST_MAIN(OverlayGapsTest)
#include "tst_overlay_gaps.moc"
