#include "device/SnapshotWriter.h"

#include "media/ThreadSync.h"

SnapshotWriter::SnapshotWriter()
    : m_context(new QObject)
{
    m_thread.setObjectName(QStringLiteral("snapshot writer"));
    m_context->moveToThread(&m_thread);
    m_thread.start();
}

SnapshotWriter::~SnapshotWriter()
{
    // A blocking call is served after every job posted before it.
    QMetaObject::invokeMethod(
        m_context, [] { ThreadSync::publish(); }, Qt::BlockingQueuedConnection);
    ThreadSync::observe();
    m_thread.quit();
    m_thread.wait();
    delete m_context;
}

void SnapshotWriter::post(std::function<void()> job)
{
    ThreadSync::publish();
    QMetaObject::invokeMethod(
        m_context,
        [job = std::move(job)] {
            ThreadSync::observe();
            job();
        },
        Qt::QueuedConnection);
}
