#include "media/FrameDecoder.h"

#include "media/ThreadSync.h"

#include <QDateTime>
#include <QDebug>
#include <QTimerEvent>

namespace {
constexpr int kPollMs = 40;
constexpr quint64 kLogDelayMs = 1000;
constexpr quint64 kMaxDelayMs = 4000;
constexpr int kExitDestroy = 1;
} // namespace

FrameDecoder::FrameDecoder(QObject* parent)
    : QThread(parent)
{
    registerFrameMetaType();
    connect(this, &QThread::finished, this, &FrameDecoder::onThreadFinished, Qt::DirectConnection);
    // Timers and the event loop the body waits in belong to the decoder thread.
    moveToThread(this);
}

FrameDecoder::~FrameDecoder()
{
    stopThread();
    std::lock_guard<std::mutex> locker(m_queueLock);
    m_queue.clear();
}

void FrameDecoder::startThread()
{
    QThread::start(QThread::InheritPriority);
}

void FrameDecoder::stopThread()
{
    if (isRunning()) {
        requestInterruption();
        exit(kExitDestroy);
        wait();
        ThreadSync::observeFinished(this);
    }
}

void FrameDecoder::onThreadFinished()
{
    if (m_timerId != 0) {
        killTimer(m_timerId);
        m_timerId = 0;
    }
}

void FrameDecoder::addFrame(const FrameData& frame)
{
    std::lock_guard<std::mutex> locker(m_queueLock);
    m_queue.append(frame);
}

int FrameDecoder::frameCount()
{
    std::lock_guard<std::mutex> locker(m_queueLock);
    return m_queue.size();
}

void FrameDecoder::setBaseTimestamp(qint64 timestamp)
{
    m_baseTimestamp.store(timestamp);
}

qint64 FrameDecoder::baseTimestamp() const
{
    return m_baseTimestamp.load();
}

void FrameDecoder::setBaseTime(qint64 time)
{
    m_baseTime.store(time);
}

qint64 FrameDecoder::baseTime() const
{
    return m_baseTime.load();
}

int FrameDecoder::waitForTimer(int ms)
{
    m_timerId = startTimer(ms, Qt::CoarseTimer);
    return exec();
}

void FrameDecoder::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != m_timerId || m_timerId == 0)
        return;
    killTimer(m_timerId);
    m_timerId = 0;
    exit(0);
}

void FrameDecoder::processFrames(const DecodeStep& decode)
{
    while (!isInterruptionRequested()) {
        m_queueLock.lock();
        if (m_queue.isEmpty()) {
            m_queueLock.unlock();
            if (waitForTimer(kPollMs) == kExitDestroy)
                break;
            continue;
        }
        FrameData frame = m_queue.takeFirst();
        m_queueLock.unlock();

        if (!decode(frame))
            continue;
        if (waitUntilDue(frame.pts) == kExitDestroy)
            break;
        emit sigDecodedFrame(frame);
    }
}

int FrameDecoder::waitUntilDue(qint64 pts)
{
    if (pts == 0)
        return 0;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (m_baseTimestamp.load() == -1) {
        m_baseTimestamp.store(pts);
        m_baseTime.store(now);
        return 0;
    }
    // Unsigned on purpose: a frame stamped before the reference comes out as a
    // huge distance and is passed on at once by the limit below.
    const quint64 streamDistance = quint64(pts) - quint64(m_baseTimestamp.load());
    const quint64 wallDistance = quint64(now) - quint64(m_baseTime.load());
    if (streamDistance <= wallDistance)
        return 0;
    const quint64 wait = streamDistance - wallDistance;
    if (wait > kLogDelayMs)
        qDebug() << "id:"
                 << "delay time:" << wait;
    if (wait >= kMaxDelayMs)
        return 0;
    return waitForTimer(int(wait));
}
