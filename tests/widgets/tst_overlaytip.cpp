#include "widgets/QtipDig.h"
#include "widgets/deviceshowDig.h"
#include "TestPatience.h"

#include <QLabel>
#include <QLayout>
#include <QtTest>

Q_DECLARE_METATYPE(QMargins)

class OverlayTipTest : public QObject {
    Q_OBJECT

    static QMargins marginsAfter(deviceshowDig& overlay, QWidget* right, const QSize& size)
    {
        right->resize(size);
        overlay.moveface();
        return right->layout()->contentsMargins();
    }

private slots:
    void faceMarginsKeepA16by9Box_data()
    {
        QTest::addColumn<QSize>("panel");
        QTest::addColumn<QMargins>("margins");
        QTest::newRow("tall panel: width decides") << QSize(800, 490) << QMargins(0, 60, 0, 20);
        QTest::newRow("wide panel: height decides") << QSize(1000, 450) << QMargins(100, 40, 100, 0);
        QTest::newRow("exact 16:9") << QSize(1600, 900) << QMargins(0, 40, 0, 0);
        QTest::newRow("odd leftover rounds down") << QSize(803, 450) << QMargins(1, 40, 1, 0);
        QTest::newRow("empty panel") << QSize(0, 0) << QMargins(0, 40, 0, 0);
        QTest::newRow("too small for one unit") << QSize(15, 8) << QMargins(7, 44, 7, 4);
        QTest::newRow("invalid size is treated as empty") << QSize(-1, -1) << QMargins(0, 40, 0, 0);
    }

    void faceMarginsKeepA16by9Box()
    {
        QFETCH(QSize, panel);
        QFETCH(QMargins, margins);
        QCOMPARE(deviceshowDig::faceMargins(panel), margins);
    }

    void movefaceFollowsThePanelButNotOnePixelJitter()
    {
        deviceshowDig overlay;
        auto* right = overlay.findChild<QWidget*>("right");
        QVERIFY(right);
        QCOMPARE(right->layout()->contentsMargins(), QMargins(0, 40, 0, 0));

        right->resize(800, 490);
        overlay.moveface();
        QCOMPARE(right->layout()->contentsMargins(), QMargins(0, 60, 0, 20));

        right->resize(801, 491);
        overlay.moveface();
        QCOMPARE(right->layout()->contentsMargins(), QMargins(0, 60, 0, 20));

        right->resize(1000, 450);
        overlay.moveface();
        QCOMPARE(right->layout()->contentsMargins(), QMargins(100, 40, 100, 0));
    }

    // The guard against layout jitter: a change of one pixel, where it would
    // move the face frame, leaves the margins alone; larger changes, and
    // drift that adds up, still move it.
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

    void overlayTimerAppliesMarginsOnItsOwn()
    {
        deviceshowDig overlay;
        overlay.showConnected(false);
        overlay.resize(1000, 450);
        overlay.show();
        auto* right = overlay.findChild<QWidget*>("right");
        QTRY_COMPARE_WITH_TIMEOUT(right->size(), QSize(1000, 450), patient(2000));
        QTRY_COMPARE_WITH_TIMEOUT(right->layout()->contentsMargins(), QMargins(100, 40, 100, 0), patient(2000));
    }

    void overlayPanelsFollowTheSessionState()
    {
        QWidget host;
        auto* overlay = new deviceshowDig(&host);
        auto* left = overlay->findChild<QWidget*>("left");
        auto* right = overlay->findChild<QWidget*>("right");
        QVERIFY(left && right);
        // Fresh overlay: the disconnected caption only.
        QVERIFY(left->isVisibleTo(overlay));
        QVERIFY(!right->isVisibleTo(overlay));

        overlay->showConnected(false);
        QVERIFY(!left->isVisibleTo(overlay));
        QVERIFY(right->isVisibleTo(overlay));

        overlay->showConnected(true); // thermal picture: no face frame
        QVERIFY(!left->isVisibleTo(overlay));
        QVERIFY(!right->isVisibleTo(overlay));

        overlay->showDisconnected(false);
        QVERIFY(left->isVisibleTo(overlay));
        QVERIFY(!right->isVisibleTo(overlay));
    }

    void tipStylesShowTheSameText()
    {
        QWidget host;
        auto* tip = new QtipDig(&host);
        auto* box = tip->findChild<QWidget*>("lbwidget");
        auto* plain = tip->findChild<QLabel*>("label");
        auto* alarmText = tip->findChild<QLabel*>("labeltip");
        QVERIFY(box && plain && alarmText);

        tip->setMessage(QStringLiteral("High temperature 38.2"), true);
        QVERIFY(box->isVisibleTo(tip));
        QVERIFY(!plain->isVisibleTo(tip));
        QCOMPARE(alarmText->text(), QStringLiteral("High temperature 38.2"));
        QCOMPARE(plain->text(), QStringLiteral("High temperature 38.2"));

        tip->setMessage(QStringLiteral("Saved"), false);
        QVERIFY(!box->isVisibleTo(tip));
        QVERIFY(plain->isVisibleTo(tip));
        QCOMPARE(alarmText->text(), QStringLiteral("Saved"));
        QCOMPARE(plain->text(), QStringLiteral("Saved"));
    }

    void tipSizeFollowsTheLatestMessage()
    {
        // Callers centre the tip by its size, so a second message must not
        // keep the size of the first.
        QWidget host;
        auto* tip = new QtipDig(&host);
        tip->setMessage(QStringLiteral("A rather long message for the operator to read"), false);
        const int longWidth = tip->width();
        tip->setMessage(QStringLiteral("Short"), false);
        QVERIFY2(tip->width() < longWidth, qPrintable(QString("%1 vs %2").arg(tip->width()).arg(longWidth)));
        tip->setMessage(QStringLiteral("A rather long message for the operator to read"), true);
        QVERIFY(tip->width() > 0);
        QVERIFY(tip->height() > 0);
    }

    void alarmTipHoldsItsWholeText()
    {
        // The alarm style's text is styled larger than the default font; the
        // box must be sized in that font, the first time it shows too.
        QWidget host;
        host.resize(1200, 800);
        host.show();
        auto* tip = new QtipDig(&host);
        tip->show();
        const QString text = QStringLiteral("Abnormal temperature");
        tip->setMessage(text, true);
        auto* alarmText = tip->findChild<QLabel*>("labeltip");
        QVERIFY2(alarmText->width() >= alarmText->fontMetrics().horizontalAdvance(text),
            qPrintable(
                QString("%1 < %2").arg(alarmText->width()).arg(alarmText->fontMetrics().horizontalAdvance(text))));
        QVERIFY(alarmText->font().pixelSize() >= 20);
    }
};

QTEST_MAIN(OverlayTipTest)
#include "tst_overlaytip.moc"
