// The one title-bar drag rule shared by the main window and the dialogs:
// where a press starts a drag, how far a move must go, what a maximised
// window does, and that every event still reaches the title bar.
#include "widgets/TitleBarDrag.h"

#include <QDateEdit>
#include <QDateTimeEdit>
#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTimeEdit>
#include <QVBoxLayout>
#include <QtTest>

namespace {

// A title bar that counts the mouse events it gets itself.
class CountingBar : public QWidget {
public:
    using QWidget::QWidget;
    int presses = 0;
    int moves = 0;
    int releases = 0;

protected:
    void mousePressEvent(QMouseEvent* e) override
    {
        ++presses;
        QWidget::mousePressEvent(e);
    }
    void mouseMoveEvent(QMouseEvent* e) override
    {
        ++moves;
        QWidget::mouseMoveEvent(e);
    }
    void mouseReleaseEvent(QMouseEvent* e) override
    {
        ++releases;
        QWidget::mouseReleaseEvent(e);
    }
};

struct Window {
    QWidget window;
    CountingBar* bar;
    TitleBarDrag* drag;
    bool maximised = false;

    Window()
    {
        window.setWindowFlags(Qt::FramelessWindowHint);
        auto* layout = new QVBoxLayout(&window);
        layout->setContentsMargins(0, 0, 0, 0);
        bar = new CountingBar(&window);
        bar->setFixedHeight(54);
        layout->addWidget(bar);
        layout->addStretch();
        window.setGeometry(100, 100, 600, 300);
        drag = new TitleBarDrag(bar, &window, [this] { return maximised; });
    }

    void send(QEvent::Type type, const QPoint& local, const QPoint& global, Qt::MouseButton button = Qt::LeftButton)
    {
        const Qt::MouseButton b = type == QEvent::MouseMove ? Qt::NoButton : button;
        const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
        QMouseEvent event(type, local, global, b, held, Qt::NoModifier);
        QApplication::sendEvent(bar, &event);
    }
    void press(const QPoint& local, Qt::MouseButton button = Qt::LeftButton)
    {
        send(QEvent::MouseButtonPress, local, bar->mapToGlobal(local), button);
    }
    // Moves the pointer to global = press point + delta.
    void moveBy(const QPoint& from, const QPoint& delta)
    {
        send(QEvent::MouseMove, from + delta, bar->mapToGlobal(from) + delta);
    }
};

} // namespace

class TitleBarDragTest : public QObject {
    Q_OBJECT

private slots:
    void emptyBarDragsAndEveryEventGetsThrough()
    {
        Window w;
        w.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));
        const QPoint start = w.window.pos();
        const QPoint at(300, 27);
        const QPoint global = w.bar->mapToGlobal(at);
        w.press(at);
        QVERIFY(w.drag->isDragging());
        w.moveBy(at, QPoint(25, -10));
        QCOMPARE(w.window.pos(), global + QPoint(25, -10) - at);
        w.send(QEvent::MouseButtonRelease, at, global);
        QVERIFY(!w.drag->isDragging());
        QVERIFY(w.window.pos() != start);
        QCOMPARE(w.bar->presses, 1);
        QCOMPARE(w.bar->moves, 1);
        QCOMPARE(w.bar->releases, 1);
    }

    void noDragFrom_data()
    {
        QTest::addColumn<QString>("kind");
        for (const char* kind : { "QSpinBox", "QDoubleSpinBox", "QTimeEdit", "QDateEdit", "QDateTimeEdit", "QLabel" })
            QTest::newRow(kind) << kind;
    }

    void noDragFrom()
    {
        QFETCH(QString, kind);
        Window w;
        auto* row = new QHBoxLayout(w.bar);
        QWidget* child = nullptr;
        if (kind == "QSpinBox")
            child = new QSpinBox;
        else if (kind == "QDoubleSpinBox")
            child = new QDoubleSpinBox;
        else if (kind == "QTimeEdit")
            child = new QTimeEdit;
        else if (kind == "QDateEdit")
            child = new QDateEdit;
        else if (kind == "QDateTimeEdit")
            child = new QDateTimeEdit;
        else
            child = new QLabel("title");
        auto* button = new QPushButton("b");
        row->addWidget(child);
        row->addStretch();
        row->addWidget(button);
        w.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));

        // Where the child itself (not a part inside it) lies under the press.
        QPoint own(-1, -1);
        const QRect area = child->geometry();
        for (int y = area.top(); y <= area.bottom() && own.x() < 0; ++y) {
            for (int x = area.left(); x <= area.right(); ++x) {
                if (w.bar->childAt(QPoint(x, y)) == child) {
                    own = QPoint(x, y);
                    break;
                }
            }
        }
        QVERIFY(own.x() >= 0);
        QVERIFY(!w.drag->pressStartsDrag(own));
        // A push button is no exception.
        QVERIFY(w.drag->pressStartsDrag(button->geometry().center()));
        QVERIFY(w.drag->pressStartsDrag(QPoint(w.bar->width() / 2, 27)));
    }

    void marginKeepsEdgesAndSmallMovesStill()
    {
        Window w;
        w.drag->setMargin(5);
        w.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));
        // Strictly inside the bar shrunk by 10 on each side.
        QVERIFY(!w.drag->pressStartsDrag(QPoint(10, 27)));
        QVERIFY(w.drag->pressStartsDrag(QPoint(11, 27)));
        QVERIFY(!w.drag->pressStartsDrag(QPoint(300, 10)));
        QVERIFY(w.drag->pressStartsDrag(QPoint(300, 11)));
        QVERIFY(!w.drag->pressStartsDrag(QPoint(w.bar->width() - 11, 27)));
        QVERIFY(!w.drag->pressStartsDrag(QPoint(300, 43)));
        QVERIFY(w.drag->pressStartsDrag(QPoint(300, 42)));

        const QPoint at(300, 27);
        const QPoint start = w.window.pos();
        w.press(at);
        // Offset from the press point, not from the window: moves count from
        // the global position minus the press position.
        const QPoint global = w.bar->mapToGlobal(at);
        w.send(QEvent::MouseMove, at, QPoint(6, 4) + at);
        QCOMPARE(w.window.pos(), start);
        w.send(QEvent::MouseMove, at, QPoint(6, 5) + at);
        QCOMPARE(w.window.pos(), QPoint(6, 5));
        w.send(QEvent::MouseButtonRelease, at, global);
    }

    void maximisedOrOtherButtonsDoNotDrag()
    {
        Window w;
        w.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));
        const QPoint at(300, 27);
        const QPoint start = w.window.pos();

        w.maximised = true;
        w.press(at);
        QVERIFY(!w.drag->isDragging());
        w.moveBy(at, QPoint(50, 50));
        QCOMPARE(w.window.pos(), start);
        w.send(QEvent::MouseButtonRelease, at, w.bar->mapToGlobal(at));

        w.maximised = false;
        w.press(at, Qt::RightButton);
        QVERIFY(!w.drag->isDragging());
        w.moveBy(at, QPoint(50, 50));
        QCOMPARE(w.window.pos(), start);
        w.send(QEvent::MouseButtonRelease, at, w.bar->mapToGlobal(at), Qt::RightButton);

        // Without a check of its own, the helper asks the window.
        QWidget other;
        auto* bar = new QWidget(&other);
        bar->setGeometry(0, 0, 400, 54);
        TitleBarDrag plain(bar, &other);
        other.resize(400, 200);
        QVERIFY(plain.pressStartsDrag(QPoint(200, 27)));
    }

    void releaseAnywhereEndsTheDrag()
    {
        Window w;
        w.window.installEventFilter(w.drag);
        w.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));
        const QPoint at(300, 27);
        w.press(at);
        QVERIFY(w.drag->isDragging());
        QMouseEvent release(QEvent::MouseButtonRelease, QPoint(5, 100), w.window.mapToGlobal(QPoint(5, 100)),
            Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&w.window, &release);
        QVERIFY(!w.drag->isDragging());
        const QPoint before = w.window.pos();
        w.moveBy(at, QPoint(40, 40));
        QCOMPARE(w.window.pos(), before);
    }

    void doubleClickIsTheOwners()
    {
        Window w;
        w.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));
        QSignalSpy spy(w.drag, &TitleBarDrag::sigDoubleClicked);
        QTest::mouseDClick(w.bar, Qt::LeftButton, Qt::NoModifier, QPoint(300, 27));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(w.window.pos(), QPoint(100, 100));
    }
};

QTEST_MAIN(TitleBarDragTest)
#include "tst_titlebardrag.moc"
