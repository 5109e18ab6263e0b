#include "device/DevicePreview.h"

#include "device/TemperatureFrame.h"
#include "device/ThermalPalette.h"
#include "media/AudioDecoders.h"
#include "media/ThreadSync.h"
#include "media/VideoDecoders.h"

#include "KV_DeviceLogin.h"
#include "KV_DevicePreview.h"

#include <QDateTime>
#include <QDebug>
#include <QTimer>

#include <chrono>
#include <climits>
#include <memory>

namespace {

constexpr int kSpeedPeriodMs = 1000;
constexpr int kRefusedWithoutLogin = KV::Protocol::Device::Code::PreviewRefused;

constexpr int kBookingCheckMs = 500;

// Wall time for bookings that no frame serves; immune to clock changes.
qint64 steadyNowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

DevicePreview::DevicePreview(DeviceRecord* record, QObject* parent)
    : QObject(parent)
    , m_record(record)
    , m_writer(std::make_unique<SnapshotWriter>())
{
    m_thread.start(QThread::InheritPriority);
    moveToThread(&m_thread);
}

void DevicePreview::onShutdown()
{
    StopPreview();
    delete m_speedTimer;
    m_speedTimer = nullptr;
    // Bookings still waiting are served from the frames held, not dropped.
    endSnapshots(false);
    m_shuttingDown = true;
    delete m_bookingTimer;
    m_bookingTimer = nullptr;
    ThreadSync::publish(this);
}

DevicePreview::~DevicePreview()
{
    // The stream and its timer are stopped on the worker's own thread, after
    // the call it is running now. The call goes through the meta-object by
    // name: one through a member pointer reads the caller's argument array
    // after the slot has returned, which the thread checker cannot order
    // before this frame's later writes (the blocking call's semaphore is
    // inside Qt).
    if (m_thread.isRunning() && QThread::currentThread() != &m_thread) {
        ThreadSync::publish(this);
        QMetaObject::invokeMethod(this, "onShutdown", Qt::BlockingQueuedConnection);
        ThreadSync::observe(this);
    }
    // Snapshots handed to the writer are finished (or, past their time,
    // answered as failed) and reported; nothing new reaches it once the
    // snapshots have ended.
    endSnapshots(false);
    m_writer.reset();
    disconnect();
    m_thread.quit();
    m_thread.wait();
    ThreadSync::observeFinished(&m_thread);
    stopStream(); // in case the thread had already gone
}

int DevicePreview::recordId() const
{
    return m_record ? m_record->id : 0;
}

void DevicePreview::StartPreview(LoginInfoPtr login, bool isHD, bool isShowthermal)
{
    Q_UNUSED(isShowthermal)
    {
        std::lock_guard<std::mutex> locker(m_streamMutex);
        if (m_helper) {
            emit sigPreview(recordId(), Device::PreviewBusy, 0);
            return;
        }
        // No helper means no stream; a flag left from a failed start must not
        // let the new helper's first callbacks through before it is published.
        m_running = false;
    }
    emit sigPreview(recordId(), Device::PreviewStarting, 0);
    int result = kRefusedWithoutLogin;
    // The camera's answer may take up to the SDK's time-out: start without
    // the stream lock, so that the GUI thread's direct calls (flip, sound,
    // snapshots) never wait on the network. Only this thread starts and stops
    // streams, so nobody else can publish a helper meanwhile.
    std::unique_ptr<KV::Protocol::Device::PreviewHelperEx> helper;
    if (login) {
        helper = std::make_unique<KV::Protocol::Device::PreviewHelperEx>(
            *login, [this](const KV::Protocol::Device::FrameData& frame) { onSdkFrame(frame); });
        result = helper->Start(isHD);
    }
    {
        std::lock_guard<std::mutex> locker(m_streamMutex);
        if (result == 0) {
            m_helper = helper.release();
            // Sound switched on for an earlier stream, or while this one was
            // starting, stays on.
            if (m_audioOn)
                m_helper->SetAudioState(true);
        }
        if (result != 0)
            emit sigPreview(recordId(), Device::PreviewFailed, result);
        // A failed start is reported as started too; the caller's stall watch
        // notices that no data flows.
        m_running = true;
        emit sigPreview(recordId(), Device::PreviewStarted, result);
    }
    // A helper whose start failed delivers no frames; its destructor may wait
    // for the SDK, so it goes without the lock.
    helper.reset();
    if (!m_speedTimer) {
        m_speedTimer = new QTimer(this);
        connect(m_speedTimer, &QTimer::timeout, this, &DevicePreview::onSpeedTimer);
    }
    m_speedTimer->start(kSpeedPeriodMs);
}

void DevicePreview::stopStream()
{
    KV::Protocol::Device::PreviewHelperEx* helper = nullptr;
    {
        std::lock_guard<std::mutex> locker(m_streamMutex);
        helper = m_helper;
        m_helper = nullptr;
        if (helper)
            m_running = false;
    }
    // The helper's destructor waits for a callback in progress, and that
    // callback may be waiting for the stream mutex: delete it unlocked.
    delete helper;
    std::lock_guard<std::mutex> locker(m_streamMutex);
    delete m_videoDecoder;
    m_videoDecoder = nullptr;
    delete m_audioDecoder;
    m_audioDecoder = nullptr;
}

void DevicePreview::StopPreview()
{
    {
        std::lock_guard<std::mutex> locker(m_streamMutex);
        if (!m_helper)
            return;
    }
    stopStream();
    {
        std::lock_guard<std::mutex> locker(m_streamMutex);
        m_firstFramePending = true;
        if (m_record) {
            m_record->videoWidth = -1;
            m_record->videoHeight = -1;
        }
        emit sigPreview(recordId(), Device::PreviewStopped, 0);
    }
    if (m_speedTimer)
        m_speedTimer->stop();
}

void DevicePreview::RestartPreview(LoginInfoPtr login, bool isHD, bool isShowthermal)
{
    StopPreview();
    StartPreview(std::move(login), isHD, isShowthermal);
}

void DevicePreview::onSdkFrame(const KV::Protocol::Device::FrameData& sdkFrame)
{
    if (!m_running.load())
        return;
    if (static_cast<quint64>(sdkFrame.timestamp) > kLatestTimestamp)
        return;
    Device::FrameData frame;
    frame.type = sdkFrame.frameType;
    frame.frameRate = sdkFrame.frameRate;
    frame.pts = sdkFrame.timestamp;
    if (sdkFrame.data.size() > size_t(INT_MAX))
        return;
    frame.data = QByteArray(reinterpret_cast<const char*>(sdkFrame.data.data()), int(sdkFrame.data.size()));
    std::lock_guard<std::mutex> locker(m_streamMutex);
    dispatchFrame(frame);
}

void DevicePreview::dispatchFrame(Device::FrameData& frame)
{
    m_bytesTotal.fetch_add(static_cast<quint32>(frame.data.size()));
    if (Device::isVideo(frame.type))
        dispatchVideo(frame);
    else if (Device::isAudio(frame.type))
        dispatchAudio(frame);
    else if (frame.type == Device::FrameTemperature)
        dispatchTemperature(frame);
}

void DevicePreview::dispatchVideo(Device::FrameData& frame)
{
    if (m_record) {
        if ((m_record->videoWidth < 0 || m_record->videoHeight < 0) && m_helper) {
            m_record->videoWidth = m_helper->width();
            m_record->videoHeight = m_helper->height();
        }
        frame.width = m_record->videoWidth;
        frame.height = m_record->videoHeight;
    }
    if (!m_videoDecoder) {
        // The first video frame decides the codec until the next stop.
        if (Device::isH264(frame.type))
            m_videoDecoder = new H264Decoder();
        else
            m_videoDecoder = new H265Decoder();
        connect(m_videoDecoder, &FrameDecoder::sigDecodedFrame, this, &DevicePreview::onSigDecodedFrameV,
            Qt::QueuedConnection);
    }
    if (admitVideoFrame(m_videoDecoder->frameCount(), Device::isKeyFrame(frame.type), m_waitKeyFrame))
        m_videoDecoder->addFrame(frame);
}

bool DevicePreview::admitVideoFrame(int waiting, bool key, bool& waitKeyFrame)
{
    if (waiting < kKeyFramesOnlyFrom) {
        if (!waitKeyFrame)
            return true;
        if (!key)
            return false;
        waitKeyFrame = false;
        return true;
    }
    if (waiting < kDropAllFrom) {
        if (key)
            waitKeyFrame = false;
        return key;
    }
    if (key)
        waitKeyFrame = true;
    return false;
}

void DevicePreview::dispatchAudio(const Device::FrameData& frame)
{
    if (!m_audioDecoder) {
        switch (frame.type) {
        case Device::FramePcm:
            m_audioDecoder = new PCMDecoder();
            break;
        case Device::FrameAdpcm:
            m_audioDecoder = new ADPCMDecoder();
            break;
        case Device::FrameAac:
            m_audioDecoder = new AACDecoder();
            break;
        default:
            m_audioDecoder = new G711Decoder();
            break;
        }
        connect(m_audioDecoder, &FrameDecoder::sigDecodedFrame, this, &DevicePreview::onSigDecodedFrameA,
            Qt::QueuedConnection);
    }
    if (m_audioDecoder->frameCount() < kDropAllFrom)
        m_audioDecoder->addFrame(frame);
}

void DevicePreview::dispatchTemperature(Device::FrameData& frame)
{
    const QByteArray& raw = frame.data;
    // A frame shorter than its header says would be read past its end: it
    // only counts for the data rate.
    TemperatureFrame header;
    if (!TemperatureFrame::readHeader(raw, header))
        return;
    // The header is complete: its unit counts even when the pixels that
    // follow are short and dropped.
    if (header.unit != m_lastTempType) {
        m_lastTempType = header.unit;
        emit sigTempResult(header.unit);
    }
    if (!header.pixelsComplete)
        return;
    frame.width = header.width;
    frame.height = header.height;
    frame.data = ThermalPalette::toRgb(raw.constData() + header.headerLength, header.width, header.height);
    // The measured temperature is taken per person by the alarm service.
    showTemperatureFrame(frame);
}

void DevicePreview::showTemperatureFrame(const Device::FrameData& frame)
{
    if (!m_running.load())
        return;
    {
        std::lock_guard<std::mutex> media(m_mediaMutex);
        m_curFrameO = frame;
    }
    emit sigGotFrameV(frame);
}

void DevicePreview::onSigDecodedFrameO(Device::FrameData frameData, double temperature)
{
    Q_UNUSED(temperature)
    std::lock_guard<std::mutex> locker(m_streamMutex);
    showTemperatureFrame(frameData);
}

void DevicePreview::onSigDecodedFrameV(Device::FrameData frameData)
{
    std::lock_guard<std::mutex> locker(m_streamMutex);
    if (!m_running.load() || !m_videoDecoder)
        return;
    {
        std::lock_guard<std::mutex> media(m_mediaMutex);
        m_curFrameV = frameData;
        std::vector<SnapshotBooking> due = m_bookings.takeServedBy(frameData.pts);
        for (const SnapshotBooking& booking : due)
            qDebug() << "m_curFrameV.pts" << frameData.pts / 1000 << "m_tempmsg.itimestamp" << booking.second;
        // Copies share the payloads: cheap under the lock; the writer
        // converts and encodes outside it.
        if (!due.empty())
            serveBookings(std::move(due), m_curFrameV, m_curFrameO);
    }
    emit sigGotFrameV(frameData);
    if (m_firstFramePending) {
        m_firstFramePending = false;
        if (m_reportFirstFrame) {
            m_reportFirstFrame = false;
            emit sigPreview(recordId(), Device::PreviewFirstFrame, 0);
        }
    }
    if (!m_audioClockSynced && m_audioDecoder) {
        // Sound and picture are paced against one reference from now on.
        m_audioClockSynced = true;
        m_audioDecoder->setBaseTimestamp(m_videoDecoder->baseTimestamp());
        m_audioDecoder->setBaseTime(m_videoDecoder->baseTime());
    }
    emit sigTimeChanged(QDateTime::fromMSecsSinceEpoch(frameData.pts, Qt::UTC).toString("yyyy-MM-dd HH:mm:ss"));
}

void DevicePreview::onSigDecodedFrameA(Device::FrameData frameData)
{
    std::lock_guard<std::mutex> locker(m_streamMutex);
    // Sound waits for the first picture.
    if (m_running.load() && m_audioDecoder && !m_firstFramePending)
        emit sigGotFrameA(frameData);
}

void DevicePreview::onSpeedTimer()
{
    const quint32 delta = m_bytesTotal.load() - m_bytesAtLastTick;
    m_bytesAtLastTick += delta;
    emit sigSpeedChanged(delta / 1024.0);
}

void DevicePreview::setAudioEnabled(bool on)
{
    std::lock_guard<std::mutex> locker(m_streamMutex);
    if (on == m_audioOn)
        return;
    m_audioOn = on;
    if (m_helper)
        m_helper->SetAudioState(on);
}

bool DevicePreview::flip()
{
    std::lock_guard<std::mutex> locker(m_streamMutex);
    if (!m_running.load() || !m_helper)
        return false;
    m_helper->SetReverse();
    return true;
}

bool DevicePreview::takeSnapshot(
    const QString& dir, double temperature, QString& lensfilePath, QString& temperaturePath, int state, int istate)
{
    {
        std::lock_guard<std::mutex> locker(m_streamMutex);
        if (!m_running.load())
            return false;
    }
    Device::FrameData video;
    Device::FrameData thermal;
    {
        std::lock_guard<std::mutex> media(m_mediaMutex);
        video = m_curFrameV;
        thermal = m_curFrameO;
    }
    AlarmSnapshot::Request request;
    request.dir = dir;
    request.temperature = temperature;
    request.state = state;
    request.istate = istate;
    request.id = recordId();
    const AlarmSnapshot::Result result = AlarmSnapshot::write(request, video, thermal);
    if (!result.ok)
        return false;
    lensfilePath = result.lensfilePath;
    temperaturePath = result.temperaturePath;
    return true;
}

bool DevicePreview::bookSnapshot(const QString& dir, double temperature, QString& lensfilePath,
    QString& temperaturePath, int state, int istate, int timestamp)
{
    Q_UNUSED(lensfilePath)
    Q_UNUSED(temperaturePath)
    SnapshotBooking booking;
    booking.request.dir = dir;
    booking.request.temperature = temperature;
    booking.request.state = state;
    booking.request.istate = istate;
    booking.request.id = recordId();
    booking.second = timestamp;
    {
        std::lock_guard<std::mutex> media(m_mediaMutex);
        if (m_snapshotsEnded || m_curFrameV.pts / 1000 > timestamp)
            return false;
        booking.dueMs = SnapshotBookings::dueTime(timestamp, m_curFrameV.pts, steadyNowMs());
        if (!m_bookings.add(booking))
            return false;
    }
    // The call carries nothing: the booking waits under the media mutex.
    QMetaObject::invokeMethod(this, "armBookingTimer", Qt::QueuedConnection);
    return true;
}

bool DevicePreview::queueSnapshot(const QString& dir, double temperature, int state, int istate)
{
    {
        std::lock_guard<std::mutex> locker(m_streamMutex);
        if (!m_running.load())
            return false;
    }
    std::vector<SnapshotBooking> now(1);
    AlarmSnapshot::Request& request = now.front().request;
    request.dir = dir;
    request.temperature = temperature;
    request.state = state;
    request.istate = istate;
    request.id = recordId();
    std::lock_guard<std::mutex> media(m_mediaMutex);
    if (m_snapshotsEnded)
        return false;
    serveBookings(std::move(now), m_curFrameV, m_curFrameO);
    return true;
}

bool DevicePreview::endSnapshots(bool wait)
{
    {
        std::lock_guard<std::mutex> media(m_mediaMutex);
        if (!m_snapshotsEnded) {
            m_snapshotsEnded = true;
            m_writer->finishWithin(kFinishSnapshotsMs);
            std::vector<SnapshotBooking> waiting = m_bookings.takeAll();
            for (const SnapshotBooking& booking : waiting)
                qDebug() << "snapshot at session end: second" << booking.second << "served from frame"
                         << m_curFrameV.pts / 1000;
            serveBookings(std::move(waiting), m_curFrameV, m_curFrameO);
        }
    }
    return !wait || m_writer->waitIdle();
}

void DevicePreview::armBookingTimer()
{
    if (m_shuttingDown)
        return;
    if (!m_bookingTimer) {
        m_bookingTimer = new QTimer(this);
        connect(m_bookingTimer, &QTimer::timeout, this, &DevicePreview::onBookingTimer);
    }
    if (!m_bookingTimer->isActive())
        m_bookingTimer->start(kBookingCheckMs);
}

void DevicePreview::onBookingTimer()
{
    if (m_shuttingDown)
        return;
    std::lock_guard<std::mutex> media(m_mediaMutex);
    std::vector<SnapshotBooking> overdue = m_bookings.takeOverdue(steadyNowMs(), kOverdueGraceMs);
    for (const SnapshotBooking& booking : overdue)
        qDebug() << "snapshot overdue: second" << booking.second << "served from frame" << m_curFrameV.pts / 1000;
    if (!overdue.empty())
        serveBookings(std::move(overdue), m_curFrameV, m_curFrameO);
    if (m_bookings.isEmpty())
        m_bookingTimer->stop();
}

void DevicePreview::serveBookings(
    std::vector<SnapshotBooking> bookings, const Device::FrameData& video, const Device::FrameData& thermal)
{
    for (SnapshotBooking& booking : bookings) {
        m_writer->post([this, request = std::move(booking.request), video, thermal](bool write) {
            AlarmSnapshot::Result result;
            if (write)
                result = AlarmSnapshot::write(request, video, thermal);
            else
                qDebug() << "写入失败"
                         << "no time left to write the snapshot";
            // An empty path tells the receiver that this person's picture failed.
            emit sigTempScreenshotResult(request.temperature, result.ok ? result.lensfilePath : QString(),
                result.ok ? result.temperaturePath : QString(), request.state);
        });
    }
}
