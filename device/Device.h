#pragma once
// One camera session, seen from the GUI. Device is a thin facade created and
// used on the GUI thread: each request becomes a queued call to one of three
// workers (login, preview, configuration) that run on threads of their own,
// and every worker report comes back as a signal of Device with the same name.
// A Device may be destroyed on another thread than the one it was created on
// (the main window retires sessions to a reaper thread), see the destructor.

#include "device/DeviceRecord.h"
#include "media/FrameData.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

class DeviceP;

// Device::FrameData is the frame record of media/FrameData.h; the decoded
// frame signals sigGotFrameV and sigGotFrameA come from FrameSource.
class Device : public FrameSource {
    Q_OBJECT

public:
    enum LoginState : qint32 { LoginSuccess = 0, LoginFailed = 1, LoginRunning = 2, LoginRefreshed = 3 };
    Q_ENUM(LoginState)

    enum PreviewState : qint32 {
        PreviewStarted = 0,
        PreviewStarting = 1,
        PreviewStopped = 2,
        PreviewFailed = 3,
        PreviewFirstFrame = 4,
        PreviewBusy = 5
    };
    Q_ENUM(PreviewState)

    // Frame types as the camera sends them.
    enum FrameType : qint32 {
        FrameH264Key = 0,
        FrameH264 = 1,
        FrameTemperature = 10,
        FramePcm = 21,
        FrameAdpcm = 22,
        FrameAac = 24,
        FrameG711 = 26,
        FrameH265Key = 40,
        FrameH265 = 41,
        FrameH264KeyAlt = 50,
        FrameH264Alt = 51,
        FrameH265KeyAlt = 52,
        FrameH265Alt = 53
    };

    static bool isH264(qint32 type);
    static bool isH265(qint32 type);
    static bool isVideo(qint32 type) { return isH264(type) || isH265(type); }
    static bool isKeyFrame(qint32 type);
    static bool isAudio(qint32 type);

    // Registers the types that cross threads in queued calls. Idempotent.
    static void registerMetaTypes();

    explicit Device(const DeviceRecord& record, QObject* parent = nullptr);
    // Blocks until every worker has finished its current call. May run on
    // any thread, provided prepareForDestruction() was called first (or the
    // Device is destroyed on its own thread).
    ~Device() override;

    // Cuts the forwarding of worker reports and drops those still queued, so
    // that the thread this Device lives on never touches it again; with a
    // thread given, also moves it there. Call on the thread the Device lives
    // on, before handing it to the thread that deletes it. The answers to
    // snapshots (sigTempScreenshotResult) go on until the Device is gone.
    void prepareForDestruction(QThread* thread = nullptr);

    bool setDevice(const DeviceRecord& record);
    void login(bool flag, bool again, int istate);
    void startPreview(bool isHD, bool isShowthermal);
    void stopPreview();
    void setAudioEnabled(bool on);
    bool flip();
    bool screenshot(QString dir, double temperature, QString& lensfilePath, QString& temperaturePath, int state,
        int istate, int timestamp);
    // A snapshot from the frames held now that the caller does not wait for:
    // written on the session's snapshot writer after the snapshots booked
    // before it and answered like a booking by sigTempScreenshotResult. False
    // when the stream is not running or the snapshots have ended. Any thread.
    bool queueScreenshot(QString dir, double temperature, int state, int istate);
    // The session ends: bookings still waiting are served at once from the
    // frames held, later requests are refused, and the writer has at most 3 s
    // to write what it holds (what it has not started by then is answered as
    // failed). With `wait`, blocks until every answer is out, at most those
    // 3 s. Destroying the Device does the same. Any thread.
    bool endScreenshots(bool wait);
    void getThermalInfo();
    void setThermalInfo(int high, int low);
    void cutTempType();
    void getDeviceInfo(int itype);
    DeviceRecord* deviceRecord();
    // Safe from any thread: read from a copy of the last successful login.
    qint32 loginInfoValue() const;

    // The re-login marker of the stall watch and the alarm link; its success
    // restarts a stream that was asked for and has stopped: it failed to
    // start, or no new video picture came for kStreamStoppedAfterMs. A
    // flowing stream keeps running on the old login.
    static constexpr int kRefreshRestartsPreview = 1;
    // Shorter than the stall watch's ten still seconds, so that its re-login
    // always finds the stream stopped.
    static constexpr qint64 kStreamStoppedAfterMs = 5000;

signals:
    void sigLogin(int id, Device::LoginState state, int result);
    void sigPreview(int id, Device::PreviewState state, int result);
    void sigTimeChanged(QString msTime);
    void sigGotConfig(int id, bool isSuc, int result);
    void sigGotDevVersion(int id, bool isSuc, int result, QString appVersion, QString hwVersion, QString kernelVersion);
    void sigSpeedChanged(double dSpeed);
    void sigTemperaChanged(double dTempera, QString lensfilePath, QString temperaturePath);
    void sigGotThermalInfo(int highTemp, int lowTemp);
    void sigSetThermalResult(int iresult);
    void sigTempResult(int itype);
    void sigCutTempTypeResult(int iresult);
    // Emitted on the snapshot writer's thread, never queued through this
    // object: receivers get it queued to their own thread, also while the
    // Device is being destroyed elsewhere. An empty lensfilePath is a failure.
    void sigTempScreenshotResult(double viTemp, QString lensfilePath, QString temperaturePath, int state);
    void sigGotTimezoneInfo(int itimezone);

private:
    void connectWorkers();
    void onWorkerLogin(int id, Device::LoginState state, int result);
    void onPreviewState(int id, Device::PreviewState state, int result);
    void onPicture(const Device::FrameData& frame);
    bool streamStopped() const;

    DeviceP* d;
    // What the last startPreview asked for, until stopPreview (GUI thread).
    bool m_previewWanted = false;
    bool m_previewHD = true;
    bool m_previewThermal = false;
    // The stream as seen here (GUI thread): whether its start failed, and
    // the time since it was asked for or last brought a video picture.
    bool m_previewFailed = false;
    QElapsedTimer m_sincePicture;
};

Q_DECLARE_METATYPE(Device::LoginState)
Q_DECLARE_METATYPE(Device::PreviewState)
