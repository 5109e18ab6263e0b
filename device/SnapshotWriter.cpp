#include "device/SnapshotWriter.h"

void SnapshotJobs::add(SnapshotJob job)
{
    std::lock_guard<std::mutex> locker(m_mutex);
    m_jobs.push_back(std::move(job));
}

bool SnapshotJobs::writeAllowed()
{
    return !m_hasDeadline || Clock::now() < m_deadline;
}

void SnapshotJobs::runJobs()
{
    std::lock_guard<std::mutex> running(m_runMutex);
    for (;;) {
        SnapshotJob job;
        bool write = true;
        {
            std::lock_guard<std::mutex> locker(m_mutex);
            if (m_jobs.empty())
                return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
            write = writeAllowed();
            m_busy = true;
        }
        job(write);
        {
            std::lock_guard<std::mutex> locker(m_mutex);
            m_busy = false;
        }
        m_idle.notify_all();
    }
}

void SnapshotJobs::setDeadline(Clock::time_point deadline)
{
    {
        std::lock_guard<std::mutex> locker(m_mutex);
        if (m_hasDeadline)
            return;
        m_hasDeadline = true;
        m_deadline = deadline;
    }
    // A waiter without a deadline so far waits for this one now.
    m_idle.notify_all();
}

bool SnapshotJobs::waitIdle()
{
    std::deque<SnapshotJob> late;
    {
        std::unique_lock<std::mutex> locker(m_mutex);
        const auto idle = [this] { return m_jobs.empty() && !m_busy; };
        while (!idle()) {
            if (!m_hasDeadline) {
                m_idle.wait(locker);
            } else if (m_idle.wait_until(locker, m_deadline) == std::cv_status::timeout) {
                break;
            }
        }
        if (idle())
            return true;
        late.swap(m_jobs);
    }
    // The writer is stuck on one job or far behind: the rest learn now that
    // their time is up, even if that one never returns.
    for (SnapshotJob& job : late)
        job(false);
    return false;
}

SnapshotWriter::SnapshotWriter()
    : m_jobs(new SnapshotJobs)
{
    m_thread.setObjectName(QStringLiteral("snapshot writer"));
    m_jobs->moveToThread(&m_thread);
    m_thread.start();
}

SnapshotWriter::~SnapshotWriter()
{
    // A job in progress finishes first; the ones still waiting run here.
    m_thread.quit();
    m_thread.wait();
    m_jobs->runJobs();
    delete m_jobs;
}

void SnapshotWriter::post(SnapshotJob job)
{
    m_jobs->add(std::move(job));
    // The wake-up carries nothing: the job travels under the queue's lock.
    QMetaObject::invokeMethod(m_jobs, "runJobs", Qt::QueuedConnection);
}

void SnapshotWriter::finishWithin(int ms)
{
    m_jobs->setDeadline(SnapshotJobs::Clock::now() + std::chrono::milliseconds(ms));
}

bool SnapshotWriter::waitIdle()
{
    return m_jobs->waitIdle();
}
