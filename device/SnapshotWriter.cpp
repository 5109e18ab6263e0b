#include "device/SnapshotWriter.h"

void SnapshotJobs::add(std::function<void()> job)
{
    std::lock_guard<std::mutex> locker(m_mutex);
    m_jobs.push_back(std::move(job));
}

void SnapshotJobs::runJobs()
{
    std::lock_guard<std::mutex> running(m_runMutex);
    for (;;) {
        std::function<void()> job;
        {
            std::lock_guard<std::mutex> locker(m_mutex);
            if (m_jobs.empty())
                return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        job();
    }
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

void SnapshotWriter::post(std::function<void()> job)
{
    m_jobs->add(std::move(job));
    // The wake-up carries nothing: the job travels under the queue's lock.
    QMetaObject::invokeMethod(m_jobs, "runJobs", Qt::QueuedConnection);
}
