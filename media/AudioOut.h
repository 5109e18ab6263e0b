#pragma once
// Plays the decoded sound (16-bit mono PCM) of a camera session through the
// default audio output, in push mode, on a thread of its own. The source
// whose frames are played is set from the GUI thread; frames of any other
// sender are ignored. The object lives on its worker thread; construct and
// destroy it on the GUI thread.

#include "media/FrameData.h"

#include <QAudioFormat>
#include <QObject>
#include <QThread>

#include <atomic>
#include <memory>
#include <vector>

class QAudioOutput;
class QIODevice;

class AudioOut : public QObject {
    Q_OBJECT

public:
    // A parent on another thread cannot own the object in Qt's sense; its
    // destruction deletes the object all the same.
    explicit AudioOut(QObject* parent = nullptr);
    ~AudioOut() override;

    // Plays the sound of device from now on (null: none). GUI thread.
    void setDevice(FrameSource* device);

    // What the worker thread did so far; readable from any thread.
    bool isReady() const { return m_isReady.load(); }
    // The rate the current output was made for: 0 before the first sound
    // frame, then 8000 or 32000.
    int sampleRate() const { return m_sampleRate.load(); }
    int outputsBuilt() const { return m_outputsBuilt.load(); }
    int framesWritten() const { return m_framesWritten.load(); }
    qint64 bytesWritten() const { return m_bytesWritten.load(); }

public slots:
    void onSigGotFrameA(FrameData frame);

private:
    void rebuildOutput(int sampleRate);
    void closeRetiredOutputs();
    void onThreadFinished();

    std::atomic<quintptr> m_sourceDevice { 0 };
    // The connection to the source (GUI thread); a detached source keeps
    // none, so that its destruction on another thread never meets this one's.
    QMetaObject::Connection m_sourceConnection;
    QAudioOutput* m_audioOutput = nullptr;
    QIODevice* m_audioDevice = nullptr;
    // Outputs replaced by a rebuild, waiting to be closed (worker thread).
    std::vector<std::unique_ptr<QAudioOutput>> m_retiredOutputs;
    bool m_closing = false; // worker thread: the thread is ending
    std::atomic<bool> m_isReady { false };
    std::atomic<int> m_sampleRate { 0 };
    QAudioFormat m_format8k;
    QAudioFormat m_format32k;
    QThread m_thread;

    std::atomic<int> m_outputsBuilt { 0 };
    std::atomic<int> m_framesWritten { 0 };
    std::atomic<qint64> m_bytesWritten { 0 };
};
