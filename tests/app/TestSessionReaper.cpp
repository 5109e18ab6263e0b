// Ended sessions are destroyed off the caller's thread, one at a time,
// oldest first.
#include "app/SessionReaper.h"
#include "TestPatience.h"

#include "device/Device.h"

#include <QThread>
#include <QVector>
#include <QtTest>

#include <atomic>
#include <mutex>
#include <vector>

namespace {

struct Record {
    // Standard locks rather than Qt's, so that the thread checker sees them.
    std::mutex lock;
    std::vector<int> order;
    std::vector<Qt::HANDLE> threads;
    std::atomic<int> inside { 0 };
    std::atomic<int> overlap { 0 };
};

// A real session (its workers' threads are joined after this destructor)
// that notes when and where it was destroyed.
class FakeSession : public Device {
public:
    FakeSession(int id, Record& record)
        : Device(DeviceRecord())
        , m_id(id)
        , m_record(record)
    {
    }
    ~FakeSession() override
    {
        if (m_record.inside.fetch_add(1) != 0)
            m_record.overlap.fetch_add(1);
        QThread::msleep(20); // joining a session's threads takes a while
        {
            std::lock_guard<std::mutex> guard(m_record.lock);
            m_record.order.push_back(m_id);
            m_record.threads.push_back(QThread::currentThreadId());
        }
        m_record.inside.fetch_sub(1);
    }

private:
    int m_id;
    Record& m_record;
};

int destroyedCount(Record& record)
{
    std::lock_guard<std::mutex> guard(record.lock);
    return static_cast<int>(record.order.size());
}

} // namespace

class TestSessionReaper : public QObject {
    Q_OBJECT

private slots:
    void destroysOldestFirstOffThisThread();
    void endWaitsForPendingSessions();
};

void TestSessionReaper::destroysOldestFirstOffThisThread()
{
    Record record;
    SessionReaper reaper;
    reaper.retire(nullptr);
    for (int id = 1; id <= 5; ++id)
        reaper.retire(new FakeSession(id, record));
    QTRY_COMPARE_WITH_TIMEOUT(destroyedCount(record), 5, patient(10000));
    QTRY_COMPARE_WITH_TIMEOUT(reaper.pending(), 0, patient(1000));

    std::lock_guard<std::mutex> guard(record.lock);
    QVERIFY(record.order == std::vector<int>({ 1, 2, 3, 4, 5 }));
    for (Qt::HANDLE thread : record.threads)
        QVERIFY(thread != QThread::currentThreadId());
    QCOMPARE(record.overlap.load(), 0);
}

// The window hands sessions over and may go away before they are destroyed:
// its end waits for them, so that the process never ends under a session
// being destroyed. A session that hangs is waited for only so long.
void TestSessionReaper::endWaitsForPendingSessions()
{
    Record record;
    {
        SessionReaper reaper;
        for (int id = 1; id <= 3; ++id)
            reaper.retire(new FakeSession(id, record));
    }
    QCOMPARE(destroyedCount(record), 3);

    static std::atomic<bool> release { false };
    class HangingSession : public FakeSession {
    public:
        explicit HangingSession(Record& record)
            : FakeSession(9, record)
        {
        }
        ~HangingSession() override
        {
            for (int i = 0; i < 3000 && !release.load(); ++i)
                QThread::msleep(10);
        }
    };
    SessionReaper reaper;
    reaper.retire(new HangingSession(record));
    QVERIFY(!reaper.finish(patient(100)));
    // Retired after the end: destroyed here and now.
    reaper.retire(new FakeSession(10, record));
    QCOMPARE(destroyedCount(record), 4);
    release = true;
    QVERIFY(reaper.finish(patient(10000)));
    QCOMPARE(destroyedCount(record), 5);
}

QTEST_GUILESS_MAIN(TestSessionReaper)
#include "TestSessionReaper.moc"
