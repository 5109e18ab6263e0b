#include "media/AudioOut.h"

#include "media/ThreadSync.h"

#include <QAudioDeviceInfo>
#include <QAudioOutput>
#include <QIODevice>

#include <utility>

namespace {

// Sound frame types and the rate their decoders deliver.
int sampleRateFor(qint32 frameType)
{
    switch (frameType) {
    case 21: // PCM
    case 22: // ADPCM
    case 26: // G.711
        return 8000;
    case 24: // AAC
        return 32000;
    default:
        return 0; // keep whatever output there is
    }
}

QAudioFormat monoPcm(int sampleRate)
{
    QAudioFormat format;
    format.setCodec("audio/pcm");
    format.setChannelCount(1);
    format.setSampleSize(16);
    format.setByteOrder(QAudioFormat::LittleEndian);
    format.setSampleType(QAudioFormat::SignedInt);
    format.setSampleRate(sampleRate);
    return format;
}

} // namespace

AudioOut::AudioOut(QObject* parent)
    : QObject(nullptr)
    , m_format8k(monoPcm(8000))
    , m_format32k(monoPcm(32000))
{
    registerFrameMetaType();
    if (parent)
        connect(
            parent, &QObject::destroyed, this, [this] { delete this; }, Qt::DirectConnection);
    // The output was made on the worker thread and must go there too.
    connect(&m_thread, &QThread::finished, this, &AudioOut::onThreadFinished, Qt::DirectConnection);
    m_thread.start(QThread::InheritPriority);
    moveToThread(&m_thread);
}

AudioOut::~AudioOut()
{
    m_thread.quit();
    m_thread.wait();
    // Whatever the worker did is over now; tell the thread sanitizer so.
    ThreadSync::observeFinished(&m_thread);
}

void AudioOut::setDevice(FrameSource* device)
{
    m_sourceDevice.store(reinterpret_cast<quintptr>(device));
    disconnect(m_sourceConnection);
    m_sourceConnection = QMetaObject::Connection();
    if (device)
        m_sourceConnection
            = connect(device, &FrameSource::sigGotFrameA, this, &AudioOut::onSigGotFrameA, Qt::QueuedConnection);
}

void AudioOut::onSigGotFrameA(FrameData frame)
{
    if (m_closing || reinterpret_cast<quintptr>(sender()) != m_sourceDevice.load())
        return;
    const int rate = sampleRateFor(frame.type);
    if (rate != 0 && rate != m_sampleRate.load())
        rebuildOutput(rate);
    // What the output's buffer cannot take now is dropped: live sound must
    // not fall behind the picture.
    if (m_isReady.load() && m_audioDevice) {
        const qint64 written = m_audioDevice->write(frame.data);
        ++m_framesWritten;
        if (written > 0)
            m_bytesWritten += written;
    }
}

void AudioOut::rebuildOutput(int sampleRate)
{
    // Set before trying, so that a failed attempt is not repeated for every
    // following frame of the same rate.
    m_sampleRate.store(sampleRate);
    QAudioFormat& format = sampleRate == 8000 ? m_format8k : m_format32k;
    const QAudioDeviceInfo device = QAudioDeviceInfo::defaultOutputDevice();
    if (!device.isFormatSupported(format)) {
        // Without a device there is no nearest format; keep ours for a later attempt.
        const QAudioFormat nearest = device.nearestFormat(format);
        if (nearest.isValid())
            format = nearest;
    }

    m_isReady.store(false);
    m_audioDevice = nullptr;
    // Closing an output waits for its sound to drain and runs this thread's
    // events meanwhile, frames included. Closed by a call of its own, it
    // cannot re-enter this one half way.
    if (m_audioOutput) {
        m_retiredOutputs.emplace_back(m_audioOutput);
        QMetaObject::invokeMethod(this, &AudioOut::closeRetiredOutputs, Qt::QueuedConnection);
    }
    m_audioOutput = new QAudioOutput(format);
    ++m_outputsBuilt;
    m_audioDevice = m_audioOutput->start();
    if (m_audioDevice)
        m_audioDevice->open(QIODevice::ReadWrite);
    m_isReady.store(
        m_audioDevice && m_audioOutput->state() == QAudio::IdleState && m_audioOutput->error() == QAudio::NoError);
}

void AudioOut::closeRetiredOutputs()
{
    // Each is taken off the list before it closes: the events run meanwhile
    // may call this again or retire another.
    while (!m_retiredOutputs.empty()) {
        std::unique_ptr<QAudioOutput> output = std::move(m_retiredOutputs.back());
        m_retiredOutputs.pop_back();
        output.reset();
    }
}

void AudioOut::onThreadFinished()
{
    // Frames that the closing below lets through find no output and make none.
    m_closing = true;
    m_isReady.store(false);
    m_audioDevice = nullptr;
    if (QAudioOutput* output = std::exchange(m_audioOutput, nullptr)) {
        output->stop();
        delete output;
    }
    closeRetiredOutputs();
}
