#include "widgets/Sizeable.h"
#include "TestPatience.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPushButton>
#include <QtTest>

// Drives the helper the way the window system would: synthetic mouse events
// with local and global positions.
class SizeableTest : public QObject {
    Q_OBJECT

private:
    static void send(QWidget* w, QEvent::Type type, const QPoint& local, Qt::MouseButton button = Qt::NoButton)
    {
        const Qt::MouseButtons buttons
            = (type == QEvent::MouseButtonRelease || button == Qt::NoButton) ? Qt::NoButton : Qt::MouseButtons(button);
        QMouseEvent event(type, local, w->mapToGlobal(local), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(w, &event);
    }
    static void hover(QWidget* w, const QPoint& p) { send(w, QEvent::MouseMove, p); }
    // Press at from, move by delta (global), release.
    static void drag(QWidget* w, const QPoint& from, const QPoint& delta, Qt::MouseButton button = Qt::LeftButton)
    {
        const QPoint globalFrom = w->mapToGlobal(from);
        QMouseEvent press(QEvent::MouseButtonPress, from, globalFrom, button, button, Qt::NoModifier);
        QApplication::sendEvent(w, &press);
        const QPoint globalTo = globalFrom + delta;
        QMouseEvent move(QEvent::MouseMove, w->mapFromGlobal(globalTo), globalTo, Qt::NoButton, button, Qt::NoModifier);
        QApplication::sendEvent(w, &move);
        QMouseEvent release(
            QEvent::MouseButtonRelease, w->mapFromGlobal(globalTo), globalTo, button, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(w, &release);
    }

    std::unique_ptr<QWidget> makeWindow(int borderWidth, Sizeable** helper = nullptr)
    {
        auto w = std::make_unique<QWidget>();
        w->setGeometry(100, 100, 400, 300);
        auto* s = new Sizeable(w.get());
        s->setBorderWidth(borderWidth);
        w->show();
        if (!QTest::qWaitForWindowExposed(w.get()))
            return nullptr;
        if (helper)
            *helper = s;
        return w;
    }

private slots:
    void attachingMakesWindowFramelessAndTracking()
    {
        QWidget w;
        auto* child = new QPushButton(&w);
        auto* grandChild = new QPushButton(child);
        new Sizeable(&w);
        const Qt::WindowFlags hints = w.windowFlags() & ~Qt::WindowType_Mask;
        QCOMPARE(hints, Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint);
        QVERIFY(w.hasMouseTracking());
        QVERIFY(child->hasMouseTracking());
        QVERIFY(!grandChild->hasMouseTracking());
    }

    void zeroBorderIsAllCentreAndNeverResizes()
    {
        auto w = makeWindow(0);
        QVERIFY(w);
        auto* s = w->findChild<Sizeable*>();
        for (const QPoint& p : { QPoint(0, 0), QPoint(399, 0), QPoint(399, 299), QPoint(0, 299), QPoint(200, 150),
                 QPoint(399, 150), QPoint(200, 299) }) {
            QCOMPARE(s->regionAt(p), int(Sizeable::Centre));
            hover(w.get(), p);
            QCOMPARE(w->cursor().shape(), Qt::ArrowCursor);
        }
        QCOMPARE(s->regionAt(QPoint(400, 150)), int(Sizeable::NoRegion));

        const QRect before = w->geometry();
        drag(w.get(), QPoint(399, 299), QPoint(50, 40));
        drag(w.get(), QPoint(0, 0), QPoint(-30, -30));
        QCOMPARE(w->geometry(), before);
    }

    void regionsAndCursors_data()
    {
        QTest::addColumn<QPoint>("point");
        QTest::addColumn<int>("region");
        QTest::addColumn<int>("cursor");
        // A 400 x 300 window with border width 5: corners are 10 px squares,
        // the right and bottom strips straddle the edge.
        QTest::newRow("top-left") << QPoint(2, 2) << 0 << int(Qt::SizeFDiagCursor);
        QTest::newRow("top edge is no strip") << QPoint(200, 2) << 1 << int(Qt::ArrowCursor);
        QTest::newRow("top-right") << QPoint(397, 2) << 2 << int(Qt::SizeBDiagCursor);
        QTest::newRow("right edge") << QPoint(398, 150) << 3 << int(Qt::SizeHorCursor);
        QTest::newRow("right edge inner bound") << QPoint(395, 150) << 3 << int(Qt::SizeHorCursor);
        QTest::newRow("centre inner bound") << QPoint(389, 150) << 8 << int(Qt::ArrowCursor);
        // The right and bottom strips are b wide inside the widget, the centre
        // stops 2b short: the pixels between belong to no region.
        QTest::newRow("between centre and right edge") << QPoint(392, 150) << -1 << int(Qt::ArrowCursor);
        QTest::newRow("between centre and bottom edge") << QPoint(200, 292) << -1 << int(Qt::ArrowCursor);
        QTest::newRow("bottom-right") << QPoint(397, 297) << 4 << int(Qt::SizeFDiagCursor);
        QTest::newRow("bottom edge") << QPoint(200, 298) << 5 << int(Qt::SizeVerCursor);
        QTest::newRow("bottom-left") << QPoint(2, 297) << 6 << int(Qt::SizeBDiagCursor);
        QTest::newRow("left edge is a full 2b wide") << QPoint(9, 150) << 7 << int(Qt::SizeHorCursor);
        QTest::newRow("centre") << QPoint(200, 150) << 8 << int(Qt::ArrowCursor);
        QTest::newRow("corner beats edges") << QPoint(9, 9) << 0 << int(Qt::SizeFDiagCursor);
    }

    void regionsAndCursors()
    {
        QFETCH(QPoint, point);
        QFETCH(int, region);
        QFETCH(int, cursor);
        auto w = makeWindow(5);
        QVERIFY(w);
        auto* s = w->findChild<Sizeable*>();
        QCOMPARE(s->regionAt(point), region);
        hover(w.get(), point);
        QCOMPARE(int(w->cursor().shape()), cursor);
    }

    void regionsOutsideTheWidget()
    {
        auto w = makeWindow(5);
        QVERIFY(w);
        auto* s = w->findChild<Sizeable*>();
        // The right and bottom strips reach b pixels past the edge; nothing
        // else exists outside.
        QCOMPARE(s->regionAt(QPoint(404, 150)), int(Sizeable::Right));
        QCOMPARE(s->regionAt(QPoint(405, 150)), int(Sizeable::NoRegion));
        QCOMPARE(s->regionAt(QPoint(200, 304)), int(Sizeable::Bottom));
        QCOMPARE(s->regionAt(QPoint(-1, 150)), int(Sizeable::NoRegion));
    }

    void cursorReturnsToArrowOnLeaveAndRelease()
    {
        auto w = makeWindow(5);
        QVERIFY(w);
        hover(w.get(), QPoint(398, 150));
        QCOMPARE(w->cursor().shape(), Qt::SizeHorCursor);
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(w.get(), &leave);
        QCOMPARE(w->cursor().shape(), Qt::ArrowCursor);

        hover(w.get(), QPoint(2, 2));
        QCOMPARE(w->cursor().shape(), Qt::SizeFDiagCursor);
        send(w.get(), QEvent::MouseButtonRelease, QPoint(2, 2), Qt::RightButton);
        QCOMPARE(w->cursor().shape(), Qt::ArrowCursor);
    }

    void hoverCheckRestoresArrowOnceCursorIsInside()
    {
        auto w = makeWindow(5);
        QVERIFY(w);
        hover(w.get(), QPoint(398, 150));
        QCOMPARE(w->cursor().shape(), Qt::SizeHorCursor);
        // The pointer reaches the centre without a move event (e.g. a child
        // took it); the periodic check still puts the arrow back.
        QCursor::setPos(w->mapToGlobal(QPoint(200, 150)));
        if (w->mapFromGlobal(QCursor::pos()) != QPoint(200, 150))
            QSKIP("this platform cannot place the pointer");
        QTRY_COMPARE_WITH_TIMEOUT(w->cursor().shape(), Qt::ArrowCursor, patient(2000));
    }

    void dragsResizeByRegion_data()
    {
        QTest::addColumn<QPoint>("from");
        QTest::addColumn<QPoint>("delta");
        QTest::addColumn<QRect>("expected");
        const QPoint d(30, 20);
        QTest::newRow("top-left") << QPoint(2, 2) << d << QRect(130, 120, 370, 280);
        QTest::newRow("top edge changes nothing") << QPoint(200, 2) << d << QRect(100, 100, 400, 300);
        QTest::newRow("top-right") << QPoint(397, 2) << d << QRect(100, 120, 430, 280);
        QTest::newRow("right") << QPoint(398, 150) << d << QRect(100, 100, 430, 300);
        QTest::newRow("bottom-right") << QPoint(397, 297) << d << QRect(100, 100, 430, 320);
        QTest::newRow("bottom") << QPoint(200, 298) << d << QRect(100, 100, 400, 320);
        QTest::newRow("bottom-left") << QPoint(2, 297) << d << QRect(130, 100, 370, 320);
        QTest::newRow("left") << QPoint(2, 150) << d << QRect(130, 100, 370, 300);
        QTest::newRow("centre changes nothing") << QPoint(200, 150) << d << QRect(100, 100, 400, 300);
    }

    void dragsResizeByRegion()
    {
        QFETCH(QPoint, from);
        QFETCH(QPoint, delta);
        QFETCH(QRect, expected);
        auto w = makeWindow(5);
        QVERIFY(w);
        drag(w.get(), from, delta);
        QCOMPARE(w->geometry(), expected);
    }

    void rightButtonStartsNoDrag()
    {
        auto w = makeWindow(5);
        QVERIFY(w);
        drag(w.get(), QPoint(397, 297), QPoint(30, 20), Qt::RightButton);
        QCOMPARE(w->geometry(), QRect(100, 100, 400, 300));
    }

    void sizeBoundsHoldPerMove()
    {
        auto w = makeWindow(5);
        QVERIFY(w);
        w->setMinimumSize(350, 250);
        w->setMaximumSize(450, 350);
        const QPoint from(397, 297);
        const QPoint global = w->mapToGlobal(from);
        QMouseEvent press(QEvent::MouseButtonPress, from, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w.get(), &press);
        auto moveBy = [&](int dx, int dy) {
            const QPoint to = global + QPoint(dx, dy);
            QMouseEvent move(QEvent::MouseMove, w->mapFromGlobal(to), to, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(w.get(), &move);
        };
        moveBy(-60, -60); // 340 x 240: below the minimum
        QCOMPARE(w->size(), QSize(400, 300));
        moveBy(-50, -50); // exactly the minimum: bounds are inclusive
        QCOMPARE(w->size(), QSize(350, 250));
        moveBy(60, 0); // height fits, width too large
        QCOMPARE(w->size(), QSize(350, 250));
        moveBy(50, 50); // exactly the maximum
        QCOMPARE(w->size(), QSize(450, 350));
        moveBy(10, 10); // back within bounds relative to the press
        QCOMPARE(w->size(), QSize(410, 310));
        send(w.get(), QEvent::MouseButtonRelease, QPoint(1, 1), Qt::LeftButton);
    }

    void resizeRecomputesRegions()
    {
        auto w = makeWindow(5);
        QVERIFY(w);
        auto* s = w->findChild<Sizeable*>();
        w->resize(600, 500);
        QTRY_COMPARE(w->size(), QSize(600, 500));
        QCOMPARE(s->regionAt(QPoint(598, 250)), int(Sizeable::Right));
        QCOMPARE(s->regionAt(QPoint(398, 150)), int(Sizeable::Centre));
        // Changing the width at run time takes effect at once.
        s->setBorderWidth(0);
        QCOMPARE(s->regionAt(QPoint(598, 250)), int(Sizeable::Centre));
    }

    void disabledHelperIgnoresEvents()
    {
        auto w = makeWindow(5);
        QVERIFY(w);
        auto* s = w->findChild<Sizeable*>();
        s->setEnabled(false);
        hover(w.get(), QPoint(398, 150));
        QCOMPARE(w->cursor().shape(), Qt::ArrowCursor);
        drag(w.get(), QPoint(397, 297), QPoint(30, 20));
        QCOMPARE(w->geometry(), QRect(100, 100, 400, 300));
    }
};

QTEST_MAIN(SizeableTest)
#include "tst_sizeable.moc"
