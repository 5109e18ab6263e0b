// The thread sanitizer's view of queued calls rests on reading each call's
// origin off the event: the sender and signal of an emission, none for
// invokeMethod, nothing for other events.
#include "media/ThreadSync.h"
#include "TestPatience.h"

#include <QEvent>
#include <QMetaMethod>
#include <QThread>
#include <QtTest>

namespace {

class Emitter : public QObject {
    Q_OBJECT
signals:
    void first(int value);
    void second(QString text);
};

// Signal indices count the signals only, in the order of the methods.
int signalIndex(const QMetaMethod& signal)
{
    int index = 0;
    for (int i = 0; i < signal.methodIndex(); ++i)
        index += signal.enclosingMetaObject()->method(i).methodType() == QMetaMethod::Signal ? 1 : 0;
    return index;
}

class Recorder : public QObject {
public:
    struct Origin {
        bool queuedCall;
        const QObject* sender;
        int signal;
    };
    QList<Origin> origins;

protected:
    bool event(QEvent* e) override
    {
        Origin o { false, nullptr, -2 };
        o.queuedCall = ThreadSync::queuedCallOrigin(e, o.sender, o.signal);
        if (e->type() == QEvent::MetaCall || e->type() == QEvent::User)
            origins.append(o);
        return QObject::event(e);
    }
};

} // namespace

class TestThreadSync : public QObject {
    Q_OBJECT

private slots:
    void queuedCallsTellTheirOrigin()
    {
        Emitter emitter;
        Recorder receiver;
        QThread other;
        other.start();
        emitter.moveToThread(&other);
        int got = 0;
        connect(&emitter, &Emitter::first, &receiver, [&](int) { ++got; });
        connect(&emitter, &Emitter::second, &receiver, [&](const QString&) { ++got; });
        // A call posted without a signal is ordered by its caller.
        ThreadSync::publish(&emitter);
        QMetaObject::invokeMethod(&emitter, [&] {
            emit emitter.first(1);
            emit emitter.second("x");
        });
        QTRY_COMPARE_WITH_TIMEOUT(got, 2, patient(5000));
        QMetaObject::invokeMethod(
            &receiver, [&] { ++got; }, Qt::QueuedConnection);
        QCoreApplication::postEvent(&receiver, new QEvent(QEvent::User));
        QTRY_COMPARE_WITH_TIMEOUT(got, 3, patient(5000));
        QCoreApplication::sendPostedEvents(&receiver);
        other.quit();
        other.wait();
        ThreadSync::observeFinished(&other);

        QCOMPARE(receiver.origins.size(), 4);
        QVERIFY(receiver.origins[0].queuedCall);
        QCOMPARE(receiver.origins[0].sender, &emitter);
        QCOMPARE(receiver.origins[0].signal, signalIndex(QMetaMethod::fromSignal(&Emitter::first)));
        QCOMPARE(receiver.origins[1].sender, &emitter);
        QCOMPARE(receiver.origins[1].signal, signalIndex(QMetaMethod::fromSignal(&Emitter::second)));
        QVERIFY(receiver.origins[1].signal != receiver.origins[0].signal);
        QVERIFY(receiver.origins[2].queuedCall);
        QCOMPARE(receiver.origins[2].sender, nullptr);
        QCOMPARE(receiver.origins[2].signal, -1);
        QVERIFY(!receiver.origins[3].queuedCall);
    }
};

QTEST_GUILESS_MAIN(TestThreadSync)
#include "TestThreadSync.moc"
