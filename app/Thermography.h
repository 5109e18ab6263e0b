// Thermography is the program's one main window: the frameless dark shell
// with its title bar, the two video cells with their overlays, the counters,
// the seven-day chart, the tool buttons and the alarm list. It owns the one
// camera session, the picture and sound outputs, the statistics store, the
// transient tip, the alarm-service link and the reaper of ended sessions.
//
// GUI thread, except the alarm-service link: its thread and the client's
// callbacks (handleTempAlarm) run elsewhere and meet the GUI thread only
// under m_deviceLock, through atomics and through queued signals.
//
// The flows live in one file each: Thermography.cpp (window, chrome,
// counters), ThermographySession.cpp (camera session), ThermographyAlarms.cpp
// (alarm pictures and the list), ThermographyLink.cpp (alarm-service link).
#pragma once

#include "app/SessionReaper.h"
#include "device/Device.h"
#include "media/AudioOut.h"
#include "store/LocalDatabase.h"
#include "store/SiteSink.h"
#include "store/SnapshotRetention.h"

#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QVector>
#include <QWidget>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class GLYuvWidget;
class QadddeviceDig;
class QSound;
class QscreenshotDig;
class QTimer;
class QtipDig;
class TitleBarDrag;
class deviceshowDig;

// The camera session as the window sees it. Fields the alarm-service thread
// reads are atomic or read under the window's device lock.
struct DeviceMsg {
    qint32 id = 0; // preview id of the last started preview
    Device* device = nullptr; // the current session; null when none
    std::atomic<qint32> devicecount { 0 }; // sessions ended so far
    qint32 stallCount = 0; // consecutive speed reports of no data
    std::atomic<qint32> tempType { -1 }; // unit code of the camera: -1, 1 or 10
    std::atomic<qint32> timezone { -1000 }; // hours; -1000 while unknown
};

namespace Ui {
class ThermographyClass;
}

class Thermography : public QWidget {
    Q_OBJECT

public:
    // Tips last this long unless a caller asks otherwise.
    static constexpr int TipMs = 1000;

    explicit Thermography(QWidget* parent = nullptr);
    ~Thermography() override;

    // The window that dialogs and alarm callbacks report to; null until one
    // is built.
    static Thermography* instance();

    // Shows text in the centre of the window for ms milliseconds; a new tip
    // replaces the one showing and gets its own full time.
    void showTip(const QString& text, int ms, bool alarmStyle);
    // Opens a dialog of this window: application-modal, centred on the
    // window, deleted when closed.
    void showDialog(QWidget* dialog);
    // Copies the store's figures to the six counters and the chart.
    void updateCounters();

    bool isMaximizedLook() const { return m_maximized; }
    LocalDatabase& store() { return m_store; }

    // Ends any session and logs in to the camera at address (port 8800).
    void addDevice(int id, const QString& address, const QString& userName, const QString& password);
    // Ends the current session, if any, and shows the disconnected look.
    // The caller holds the device lock.
    void disconnectDevice();

    // For tests and diagnostics: the session record and the alarm link.
    const DeviceMsg& deviceMsg() const { return m_deviceMsg; }
    int fixlinkState() const { return m_fixlinkState.load(); }
    const QVector<GLYuvWidget*>& videoWidgets() const { return m_videoWidgets; }
    AudioOut& audioOut() { return m_audio; }
    QadddeviceDig* addDeviceDialog() const;
    const QList<QscreenshotDig*>& alarmItems() const { return m_alarmItems; }

    // One alarm of the alarm service: books the picture of its moment.
    // Runs on the alarm client's thread.
    struct TempAlarm {
        bool hasType = false;
        qint32 viAlarmType = 0;
        bool hasTemp = false;
        qint32 viTemp = 0; // tenths of a degree Celsius
        bool hasTimestamp = false;
        qint32 timestamp = 0; // UTC seconds
    };
    void handleTempAlarm(const TempAlarm& alarm);
    // Before the process ends: alarms that arrive from now on are left
    // alone, the session's pictures still booked are taken from the frames
    // held, and every picture being written is waited for (at most 3 s) and
    // recorded. GUI thread.
    void finishSessionPictures();

    // The threshold setting ("CONFIG/temperature", °C); 37 when the stored
    // value is not a sane temperature.
    static double readThreshold();
    // "SCREENSHOT/keepDays" and "SCREENSHOT/minFreeMB"; read again at every
    // pass of the retention thread.
    static SnapshotRetention::Policy readRetentionPolicy();
    double threshold() const { return m_threshold; }
    bool alarmSoundOn() const { return m_alarmSoundOn; }
    bool remindOn() const { return m_remindOn; }
    // Alarm sounds started so far (the sound itself plays asynchronously).
    int alarmSoundsPlayed() const { return m_alarmSoundsPlayed; }

    // Markers of the re-logins this window asks for, echoed back with
    // LoginRefreshed: the settings request and the unit switch.
    static constexpr int kReloginForSettings = 1234;
    static constexpr int kReloginForUnit = 1235;

    // Alarm pictures kept in the list at most.
    static constexpr int kMaxAlarmItems = 30;

signals:
    void SigLoginResult(int id, Device::LoginState state, int result);
    void SigscreenshotResult(int state, double temperature, QString lensfilePath, QString temperaturePath, int istate);
    void SigaddAlarmpush(QString lensfilePath, QString temperaturePath);

public slots:
    void onSigLogin(int id, Device::LoginState state, int result);
    void onSigPreview(int id, Device::PreviewState state, int result);
    void on_screenshotbnt_clicked();
    void onscreenshotResult(int state, double temperature, QString lensfilePath, QString temperaturePath, int istate);
    void on_adddevicebtn_clicked();
    void on_maxbtn_clicked();
    void on_rebtn_clicked();
    void on_closebtn_clicked();
    // A stop signal (SIGTERM and the like) ends the program as the close
    // button does.
    void onSigStopRequested(int signalNumber);
    void on_disconnectbtn_clicked();
    void on_folderbtn_clicked();
    void onTemperaChanged(double dTempera, QString lensfilePath, QString temperaturePath);
    void addAlarmpush(QString lensfilePath, QString temperaturePath);
    void showhide();
    void timingScreenshot();
    void GetSpeeddate(double dSpeed);
    void onGetAlarmRemindstate();
    void TempScreenshotResult(double viTemp, QString lensfilePath, QString temperaturePath, int state);
    void GotTimezoneInfo(int itimezone);
    void onSigGetThermal(int highTemp, int lowTemp);
    void on_setupbtn_clicked();
    void on_resetdatabtn_clicked();
    void OnTempSet(double Temp);
    void OnResetdataSet();
    void on_flipbtn_clicked();
    void on_languagebtn_clicked();
    void on_cutvoicebtn_clicked();
    void on_unitbtn_clicked();
    void OnTempunit();
    void GetTempType(int itype);
    void OnTempTypeResult(int itype);
    void onVideoFrameShown(const FrameData& frame);
    // The pictures' disk stays below its minimum free space with nothing
    // left to remove: one tip.
    void onSigSpaceLow(qint64 freeMB);
    // The chart's export menu (ThermographyExport.cpp): asks for a file and
    // writes the daily counts of the whole history to it as CSV.
    void on_defectWaveform_sigExportRequested();
    bool exportDailyCsv(const QString& path);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void setUpWindow();
    void setUpToolButtons();
    void applyScreenSize();
    void maximize();
    void restore();
    void followDate();
    void fillAlarmList();
    bool audioButtonOn() const;
    void startSiteSink();

    // Alarm-service link (ThermographyLink.cpp).
    void startFixlinkSession();
    void runFixlinkSession();
    void stopFixlinkSessions();
    int fillReqInfo(struct FixlinkRequest& req);

    int m_dragMargin;
    bool m_maximized;
    QRect m_normalGeometry;
    Ui::ThermographyClass* ui;
    TitleBarDrag* m_titleDrag;
    QVector<GLYuvWidget*> m_videoWidgets;
    QVector<deviceshowDig*> m_overlays;
    AudioOut m_audio;
    DeviceMsg m_deviceMsg;
    int m_videoFramesSinceReport = 0;
    // Standard locks rather than Qt's, so that the thread checker sees them.
    std::mutex m_deviceLock;
    std::mutex m_fixlinkLock;
    SessionReaper m_reaper;
    QPointer<QadddeviceDig> m_addDeviceDialog;
    QString m_autoShotDir;
    QString m_manualShotDir;
    LocalDatabase m_store;
    // Feeds the site database when Config.ini names one.
    std::unique_ptr<SiteSink> m_siteSink;
    // Removes old day folders of alarm pictures, on a thread of its own.
    std::unique_ptr<SnapshotRetention> m_retention;
    QList<QscreenshotDig*> m_alarmItems;
    bool m_placeholderShown;
    bool m_pictureFailing = false; // the last alarm picture could not be written
    bool m_picturesFinished = false; // the process is ending: alarms are left alone (m_deviceLock)
    std::atomic<int> m_fixlinkState { 0 };
    // The session generation the newest link thread serves; a stream
    // restart within a session starts no second one.
    std::atomic<int> m_linkGeneration { -1 };
    std::atomic<bool> m_closing { false };
    // Link threads are joined, not detached, so that none outlives the
    // window; finished ones are joined when the next one starts.
    struct LinkThread {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::mutex m_linkThreadsLock;
    std::vector<LinkThread> m_linkThreads;
    // Wakes the link thread's pauses when its session ends.
    std::mutex m_linkWakeLock;
    std::condition_variable m_linkWake;
    void wakeFixlinkSessions();
    QtipDig* m_tipDialog;
    QTimer* m_tipTimer;
    double m_threshold;
    int m_dayTimerId;
    bool m_alarmSoundOn;
    bool m_remindOn;
    int m_alarmSoundsPlayed = 0;
    QSound* m_alarmSound = nullptr;
    bool m_loginReady;
    bool m_setupReady;
};
