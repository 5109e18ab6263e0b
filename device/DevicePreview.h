#pragma once
// Runs the live stream of one camera: receives the camera's frames on an SDK
// thread, queues video and audio frames to decoder threads, turns temperature
// frames into a false-colour picture itself, and re-emits decoded frames, the
// picture time and the data rate towards the GUI.
//
// Lives on its own thread (slots, speed timer). The frame callback and the
// dispatch run on the SDK's thread; isRunning(), setAudioEnabled(), flip()
// and the snapshot calls are called directly from other threads (the GUI
// thread, the alarm link's thread). Booked and queued snapshots are written on
// a snapshot writer thread of their own. Lock order: stream mutex, then media
// mutex.

#include "device/Device.h"
#include "device/LoginInfo.h"
#include "device/SnapshotBookings.h"
#include "device/SnapshotWriter.h"

#include <QObject>
#include <QThread>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

class FrameDecoder;
class QTimer;

namespace KV {
namespace Protocol {
namespace Device {
class PreviewHelperEx;
struct FrameData;
} // namespace Device
} // namespace Protocol
} // namespace KV

class DevicePreview : public QObject {
    Q_OBJECT

public:
    // Decoder backlog limits: above the first only key frames are queued,
    // above the second nothing is.
    static constexpr int kKeyFramesOnlyFrom = 48;
    static constexpr int kDropAllFrom = 72;
    // Time stamps beyond 2100-01-01 are garbage.
    static constexpr quint64 kLatestTimestamp = 4102416000000ULL;

    // Whether a video frame joins a decoder queue of `waiting` frames. Keeps
    // `waitKeyFrame` up to date: after a dropped key frame, video resumes at
    // the next key frame.
    static bool admitVideoFrame(int waiting, bool key, bool& waitKeyFrame);

    explicit DevicePreview(DeviceRecord* record, QObject* parent = nullptr);
    ~DevicePreview() override;

    bool isRunning() const { return m_running.load(); }
    void setAudioEnabled(bool on);
    bool flip();
    // A booking not served by a frame within this long after it fell due
    // (the stream stopped or stalled) is served from the frames held then.
    static constexpr qint64 kOverdueGraceMs = 3000;

    // Alarm snapshot at once from the frames held now: the composite is
    // converted and written on the calling thread, outside the locks. False
    // (paths untouched) when the stream is not running, a frame is missing or
    // unusable, or the file cannot be written; else the paths of the written
    // file and of its thermal partner name.
    bool takeSnapshot(
        const QString& dir, double temperature, QString& lensfilePath, QString& temperaturePath, int state, int istate);
    // Books a snapshot for the first decoded video frame at least 1.5 s into
    // camera second `timestamp`. False at once for a second the stream has
    // passed already (or when too many bookings wait); the paths are not
    // touched. Every accepted booking is answered by exactly one
    // sigTempScreenshotResult, in booking order: with the written file, or
    // with an EMPTY lensfilePath (and temperaturePath) when no picture could
    // be written. A booking that no frame serves within kOverdueGraceMs after
    // it fell due is served from the frames held then.
    bool bookSnapshot(const QString& dir, double temperature, QString& lensfilePath, QString& temperaturePath,
        int state, int istate, int timestamp);
    // A snapshot from the frames held now, converted and written on the
    // snapshot writer after the snapshots booked before it, and answered
    // like a booking by one sigTempScreenshotResult. The caller only takes
    // copies of the frames. False (nothing to answer) when the stream is not
    // running or the snapshots have ended.
    bool queueSnapshot(const QString& dir, double temperature, int state, int istate);

    // How long the writer has to finish once the snapshots have ended.
    static constexpr int kFinishSnapshotsMs = 3000;
    // The session ends: bookings still waiting are served at once from the
    // frames held, later requests are refused, and the writer gets
    // kFinishSnapshotsMs to write what it holds; what it has not started by
    // then is answered as failed. Every request is still answered. With
    // `wait`, blocks until every answer is out, at most until that time (a
    // write still running then is not waited for); true when none was late.
    // Any thread; the destruction does the same without waiting.
    bool endSnapshots(bool wait);

    // Frame entry of the SDK thread; public so that a stream can be fed
    // without a camera.
    void onSdkFrame(const KV::Protocol::Device::FrameData& sdkFrame);

public slots:
    // Starts the stream on the given login; without one the start is
    // refused (reported as failed, then started).
    void StartPreview(LoginInfoPtr login, bool isHD, bool isShowthermal);
    void StopPreview();
    void RestartPreview(LoginInfoPtr login, bool isHD, bool isShowthermal);
    void onSigDecodedFrameV(Device::FrameData frameData);
    void onSigDecodedFrameA(Device::FrameData frameData);
    void onSigDecodedFrameO(Device::FrameData frameData, double temperature);
    void onSpeedTimer();

signals:
    void sigPreview(int id, Device::PreviewState state, int result);
    void sigGotFrameV(Device::FrameData frame);
    void sigGotFrameA(Device::FrameData frame);
    void sigTimeChanged(QString msTime);
    void sigSpeedChanged(double dSpeed);
    void sigTemperaChanged(double dTempera, QString lensfilePath, QString temperaturePath);
    void sigTempResult(int itype);
    // The answer to a booking or a queued snapshot; emitted from the
    // snapshot writer's thread (or, past the writer's time, from the thread
    // that waits in endSnapshots). An empty lensfilePath means the snapshot
    // failed.
    void sigTempScreenshotResult(double viTemp, QString lensfilePath, QString temperaturePath, int state);

private:
    // Stops the stream on the worker's thread; the destructor waits for it.
    Q_INVOKABLE void onShutdown();
    // All three expect the stream mutex held.
    void dispatchFrame(Device::FrameData& frame);
    void dispatchVideo(Device::FrameData& frame);
    void dispatchAudio(const Device::FrameData& frame);
    void dispatchTemperature(Device::FrameData& frame);
    void showTemperatureFrame(const Device::FrameData& frame);
    void stopStream();
    int recordId() const;
    // Preview thread: the overdue check runs while bookings wait.
    Q_INVOKABLE void armBookingTimer();
    void onBookingTimer();
    // Hands the bookings to the writer with copies of the frames to use.
    void serveBookings(
        std::vector<SnapshotBooking> bookings, const Device::FrameData& video, const Device::FrameData& thermal);

    DeviceRecord* m_record;
    KV::Protocol::Device::PreviewHelperEx* m_helper = nullptr;

    std::mutex m_streamMutex;
    std::atomic<bool> m_running { false };
    bool m_audioOn = false;
    FrameDecoder* m_videoDecoder = nullptr;
    FrameDecoder* m_audioDecoder = nullptr;
    bool m_firstFramePending = true;
    bool m_reportFirstFrame = true;
    bool m_audioClockSynced = false;
    bool m_waitKeyFrame = false;

    std::mutex m_mediaMutex;
    Device::FrameData m_curFrameV;
    Device::FrameData m_curFrameO;
    SnapshotBookings m_bookings;

    std::atomic<quint32> m_bytesTotal { 0 };
    quint32 m_bytesAtLastTick = 0;
    QTimer* m_speedTimer = nullptr;
    int m_lastTempType = -1; // touched by the SDK thread only
    QTimer* m_bookingTimer = nullptr; // preview thread
    bool m_shuttingDown = false; // preview thread: the booking timer is gone
    bool m_snapshotsEnded = false; // under the media mutex

    std::unique_ptr<SnapshotWriter> m_writer;

    QThread m_thread;
};
