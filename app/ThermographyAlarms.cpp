// Alarm pictures of the main window: each measured person becomes a snapshot
// of that moment, a card in the list of the newest pictures, a count in the
// store, a tip and, when abnormal, the alarm sound. Also the manual snapshot
// and the folder button.
#include "app/Thermography.h"

#include "ui_Thermography.h"

#include "app/ConfigFile.h"
#include "device/AlarmSnapshot.h"
#include "store/AppPaths.h"
#include "widgets/QscreenshotDig.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMutex>
#include <QSound>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <cmath>
#include <limits>

namespace {

const char* const kAlarmSound = ":/Thermography/Resources/Alarm.wav";
constexpr int kAbnormalTipMs = 3000;
// Longest wait a timed snapshot accepts, so a damaged setting cannot stall
// the window.
constexpr int kMaxTimedWaitMs = 10000;
constexpr qint32 kUnknownTimezone = -1000;

// The camera-local second an alarm's picture is booked for: the camera
// stamps its pictures in local time, the alarm service sends UTC seconds.
// 0 when there is no plausible one: the time zone is still unknown, the
// stamp lies before 1970, or the second is beyond what a booking can name.
qint64 bookedSecond(qint32 timezone, qint32 timestamp)
{
    if (timezone == kUnknownTimezone || timestamp <= 0)
        return 0;
    const qint64 second = qint64(timezone) * 3600 + timestamp;
    return second > 0 && second <= std::numeric_limits<qint32>::max() ? second : 0;
}

// The name a picture that could not be written would have had, so that its
// row carries the person's day, time, state and temperature as any other.
QString unwrittenPictureName(const QString& dir, int camera, double temperature, int alarmType, int unit)
{
    AlarmSnapshot::Request request;
    request.dir = dir;
    request.id = qMax(0, camera);
    request.temperature = std::isfinite(temperature) && temperature >= 0 ? temperature : 0;
    request.state = alarmType;
    request.istate = unit;
    return AlarmSnapshot::buildNames(request, QDateTime::currentMSecsSinceEpoch()).output();
}

} // namespace

void Thermography::handleTempAlarm(const TempAlarm& alarm)
{
    std::lock_guard<std::mutex> locker(m_deviceLock);
    Device* device = m_deviceMsg.device;
    if (!device || m_picturesFinished)
        return;
    qDebug().noquote() << QStringLiteral("viTemp %1 viAlarmType %2").arg(alarm.viTemp).arg(alarm.viAlarmType);
    QString lens;
    QString temp;
    const int tempType = m_deviceMsg.tempType;
    if (alarm.hasTimestamp) {
        const qint64 second = bookedSecond(m_deviceMsg.timezone, alarm.timestamp);
        if (second == 0)
            qDebug() << "alarm time stamp not bookable" << alarm.timestamp << "time zone" << m_deviceMsg.timezone;
        else if (device->screenshot(
                     m_autoShotDir, alarm.viTemp, lens, temp, alarm.viAlarmType, tempType, static_cast<int>(second)))
            return;
    }
    // Otherwise the picture is taken from the frames held now. Only the
    // request is made here, under the device lock; the device converts and
    // writes it after the pictures booked before, and it comes back through
    // TempScreenshotResult like a booked one.
    if (device->queueScreenshot(m_autoShotDir, alarm.viTemp, alarm.viAlarmType, tempType))
        return;
    qDebug() << "截图失败";
    emit SigscreenshotResult(0, alarm.viTemp, lens, temp, alarm.viAlarmType);
}

void Thermography::finishSessionPictures()
{
    {
        std::lock_guard<std::mutex> locker(m_deviceLock);
        m_picturesFinished = true;
        if (m_deviceMsg.device)
            m_deviceMsg.device->endScreenshots(true);
    }
    // The answers wait here as queued calls, each a hop to
    // TempScreenshotResult and one on to onscreenshotResult.
    for (int hop = 0; hop < 2; ++hop)
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

void Thermography::TempScreenshotResult(double viTemp, QString lensfilePath, QString temperaturePath, int state)
{
    // A booked picture that could not be had comes back without a path.
    emit SigscreenshotResult(lensfilePath.isEmpty() ? 0 : 1, viTemp, lensfilePath, temperaturePath, state);
}

void Thermography::onscreenshotResult(
    int state, double temperature, QString lensfilePath, QString temperaturePath, int istate)
{
    // A person whose picture could not be written was measured all the
    // same: counted and recorded under the name the picture would have had,
    // with a card that says the picture failed. The operator hears of it
    // once per run of failures, after the person's own tip.
    const bool pictured = state == 1;
    if (!pictured) {
        if (lensfilePath.isEmpty())
            lensfilePath
                = unwrittenPictureName(m_autoShotDir, m_deviceMsg.id, temperature, istate, m_deviceMsg.tempType.load());
        temperaturePath.clear();
        if (!m_pictureFailing) {
            QTimer::singleShot(istate == 0 || !m_remindOn ? TipMs : kAbnormalTipMs, this,
                [this] { showTip(tr("截图失败"), TipMs, false); });
        }
    }
    m_pictureFailing = !pictured;
    addAlarmpush(lensfilePath, temperaturePath);
    // The operator hears of a statistics file that refuses writes once, not
    // with every person, after the person's own tip; the person is counted
    // on screen all the same.
    if (!m_store.addPicture(lensfilePath) && m_store.newWriteFailure()) {
        qDebug() << "统计保存失败";
        QTimer::singleShot(istate == 0 || !m_remindOn ? TipMs : kAbnormalTipMs, this,
            [this] { showTip(tr("统计保存失败"), TipMs, false); });
    }
    updateCounters();
    if (istate == 0) {
        showTip(tr("体温正常"), TipMs, false);
        return;
    }
    if (m_remindOn)
        showTip(tr("体温异常"), kAbnormalTipMs, true);
    else
        showTip(tr("体温异常"), TipMs, false);
    if (m_alarmSoundOn) {
        // One sound object for the window's life: QSound::play() makes one
        // per call that goes only when its sound has finished, which without
        // a sound server is never. A new alarm restarts the sound.
        if (!m_alarmSound)
            m_alarmSound = new QSound(QString::fromLatin1(kAlarmSound), this);
        m_alarmSound->play();
        ++m_alarmSoundsPlayed;
    }
}

void Thermography::addAlarmpush(QString lensfilePath, QString temperaturePath)
{
    QElapsedTimer clock;
    clock.start();
    // A picture not on disk gets a card only when it could not be written,
    // which comes without a partner; one removed since is passed over.
    if (lensfilePath.isEmpty() || (!temperaturePath.isEmpty() && !QFileInfo(lensfilePath).isFile()))
        return;
    if (m_placeholderShown) {
        ui->ScreenshotWidget->hide();
        m_placeholderShown = false;
    }
    auto* item = new QscreenshotDig(lensfilePath, temperaturePath, ui->scrollAreaWidgetContents);
    m_alarmItems.append(item);
    qDebug() << "耗时1 addAlarmpush" << clock.elapsed() << "ms";
    clock.restart();
    ui->idlistlayout->insertWidget(0, item);
    while (m_alarmItems.size() > kMaxAlarmItems) {
        QscreenshotDig* oldest = m_alarmItems.takeFirst();
        ui->idlistlayout->removeWidget(oldest);
        delete oldest;
    }
    qDebug() << "耗时2 addAlarmpush" << clock.elapsed() << "ms";
}

void Thermography::fillAlarmList()
{
    QElapsedTimer clock;
    clock.start();
    QStringList paths;
    m_store.recentPictures(paths);
    if (!paths.isEmpty()) {
        ui->ScreenshotWidget->hide();
        m_placeholderShown = false;
    }
    // Oldest first, so that the newest stored picture ends at the top; the
    // entries are built once construction has finished.
    for (int i = paths.size() - 1; i >= 0; --i) {
        const QString& path = paths.at(i);
        emit SigaddAlarmpush(path, QStringLiteral("%1-2.jpg").arg(path.left(path.size() - 6)));
    }
    qDebug() << "itime 耗时" << clock.elapsed();
}

void Thermography::on_screenshotbnt_clicked()
{
    static QMutex handling;
    if (!handling.tryLock(0))
        return;
    Device* device = m_deviceMsg.device;
    if (device) {
        QString lens;
        QString temp;
        const bool ok = device->screenshot(m_manualShotDir, m_threshold, lens, temp, 0, m_deviceMsg.tempType, 0);
        showTip(ok ? tr("截图成功") : tr("截图失败"), TipMs, false);
    }
    handling.unlock();
}

void Thermography::on_folderbtn_clicked()
{
    static QMutex handling;
    if (!handling.tryLock(0))
        return;
    const QString path = QDir::toNativeSeparators(AppPaths::autoShotDir());
    if (!QFileInfo(path).isDir())
        showTip(tr("当前路径不存在"), TipMs, false);
    else
        QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    handling.unlock();
}

void Thermography::onGetAlarmRemindstate()
{
    m_alarmSoundOn = readConfigInt(ConfigKey::Alarm) == 1;
    m_remindOn = readConfigInt(ConfigKey::Remind) == 1;
}

void Thermography::timingScreenshot()
{
    const int wait = readConfigInt(ConfigKey::ScreenshotInterval);
    if (wait > 0)
        QThread::msleep(static_cast<unsigned long>(qMin(wait, kMaxTimedWaitMs)));
    Device* device = m_deviceMsg.device;
    if (!device)
        return;
    QString lens;
    QString temp;
    const bool ok = device->screenshot(m_autoShotDir, 0, lens, temp, 0, m_deviceMsg.tempType, 0);
    // A picture that could not be written is reported as such, not as one
    // that exists.
    emit SigscreenshotResult(ok ? 1 : 0, 0, lens, temp, 0);
}
