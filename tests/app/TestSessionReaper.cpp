// Ended sessions are destroyed off the caller's thread, one at a time,
// oldest first.
#include "app/SessionReaper.h"

#include <QMutex>
#include <QThread>
#include <QVector>
#include <QtTest>

#include <atomic>

namespace {

struct Record {
    QMutex lock;
    QVector<int> order;
    QVector<Qt::HANDLE> threads;
    std::atomic<int> inside { 0 };
    std::atomic<int> overlap { 0 };
};

class FakeSession : public QObject {
public:
    FakeSession(int id, Record& record)
        : m_id(id)
        , m_record(record)
    {
    }
    ~FakeSession() override
    {
        if (m_record.inside.fetch_add(1) != 0)
            m_record.overlap.fetch_add(1);
        QThread::msleep(20); // joining a session's threads takes a while
        {
            QMutexLocker guard(&m_record.lock);
            m_record.order.append(m_id);
            m_record.threads.append(QThread::currentThreadId());
        }
        m_record.inside.fetch_sub(1);
    }

private:
    int m_id;
    Record& m_record;
};

int destroyedCount(Record& record)
{
    QMutexLocker guard(&record.lock);
    return record.order.size();
}

} // namespace

class TestSessionReaper : public QObject {
    Q_OBJECT

private slots:
    void destroysOldestFirstOffThisThread();
    void pendingSessionsOutliveTheReaper();
};

void TestSessionReaper::destroysOldestFirstOffThisThread()
{
    Record record;
    SessionReaper reaper;
    reaper.retire(nullptr);
    for (int id = 1; id <= 5; ++id)
        reaper.retire(new FakeSession(id, record));
    QTRY_COMPARE_WITH_TIMEOUT(destroyedCount(record), 5, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(reaper.pending(), 0, 1000);

    QMutexLocker guard(&record.lock);
    QCOMPARE(record.order, QVector<int>({ 1, 2, 3, 4, 5 }));
    for (Qt::HANDLE thread : record.threads)
        QVERIFY(thread != QThread::currentThreadId());
    QCOMPARE(record.overlap.load(), 0);
}

// The window hands sessions over and may go away before they are destroyed;
// the reaper's thread still finishes them.
void TestSessionReaper::pendingSessionsOutliveTheReaper()
{
    Record record;
    {
        SessionReaper reaper;
        for (int id = 1; id <= 3; ++id)
            reaper.retire(new FakeSession(id, record));
    }
    QTRY_COMPARE_WITH_TIMEOUT(destroyedCount(record), 3, 10000);
}

QTEST_GUILESS_MAIN(TestSessionReaper)
#include "TestSessionReaper.moc"
