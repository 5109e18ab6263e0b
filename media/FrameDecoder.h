#pragma once
// Base of the decoder threads: one thread per stream kind decodes the frames
// queued by the preview worker and emits each decoded frame when it is due,
// paced against a clock that maps camera time to wall-clock time.
//
// Lives on its own thread (the object is moved onto itself). addFrame(),
// frameCount() and the clock accessors may be called from any thread; the
// thread body, the timers and sigDecodedFrame run on the decoder thread.
//
// A subclass starts the thread at the end of its constructor with startThread()
// and calls stopThread() first thing in its destructor: the thread body is a
// virtual of the subclass and must neither start before the subclass exists
// nor run on while it is being torn down.

#include "media/FrameData.h"

#include <QList>
#include <QThread>

#include <atomic>
#include <functional>
#include <mutex>

class FrameDecoder : public QThread {
    Q_OBJECT

public:
    explicit FrameDecoder(QObject* parent = nullptr);
    ~FrameDecoder() override;

    void addFrame(const FrameData& frame);
    int frameCount();

    void setBaseTimestamp(qint64 timestamp);
    qint64 baseTimestamp() const;
    void setBaseTime(qint64 time);
    qint64 baseTime() const;

signals:
    void sigDecodedFrame(FrameData frameData);

protected:
    // Decodes frame.data in place; false drops the frame.
    using DecodeStep = std::function<bool(FrameData& frame)>;

    void startThread();
    void stopThread();
    // The loop every thread body shares: take, decode, pace, emit, until the
    // decoder is destroyed.
    void processFrames(const DecodeStep& decode);
    // Holds the frame back until it is due; 1 when the decoder is being destroyed.
    int waitUntilDue(qint64 pts);
    void timerEvent(QTimerEvent* event) override;

private:
    void onThreadFinished();
    int waitForTimer(int ms);

    std::mutex m_queueLock;
    QList<FrameData> m_queue;
    std::atomic<qint64> m_baseTimestamp { -1 };
    std::atomic<qint64> m_baseTime { -1 };
    int m_timerId = 0; // touched on the decoder thread only
};
