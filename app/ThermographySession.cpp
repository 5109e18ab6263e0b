// The camera session of the main window: from the add-device dialog's
// choice through login and preview to the live picture and sound, the stall
// watch, the time zone and the end of the session.
#include "app/Thermography.h"

#include "ui_Thermography.h"

#include "media/GLYuvWidget.h"
#include "widgets/QSetupDig.h"
#include "widgets/QadddeviceDig.h"
#include "widgets/deviceshowDig.h"

#include <QDebug>
#include <QMutex>

namespace {

constexpr int kCameraPort = 8800;
// Speed reports (KiB/s) at or below this count as a stalled stream.
constexpr double kStalledSpeed = 0.01;
// Every this many stalled reports in a row the camera is logged in again.
constexpr int kStallReloginEvery = 10;
// The preview reports its speed once a second. The device restarts the
// stream after that re-login only when it has been still for a while.
constexpr qint64 kSpeedReportMs = 1000;
static_assert((kStallReloginEvery - 1) * kSpeedReportMs > Device::kStreamStoppedAfterMs,
    "the stall watch's re-login must find the stream stopped");
constexpr int kWrongPassword = 1012;

} // namespace

void Thermography::on_adddevicebtn_clicked()
{
    static QMutex handling;
    if (!handling.tryLock(0))
        return;
    auto* dialog = new QadddeviceDig(&m_store, this);
    connect(this, &Thermography::SigLoginResult, dialog, &QadddeviceDig::onSigLogin);
    connect(dialog, &QadddeviceDig::sigAddDevice, this, &Thermography::addDevice);
    m_addDeviceDialog = dialog;
    showDialog(dialog);
    handling.unlock();
}

QadddeviceDig* Thermography::addDeviceDialog() const
{
    return m_addDeviceDialog.data();
}

void Thermography::addDevice(int id, const QString& address, const QString& userName, const QString& password)
{
    if (!m_loginReady)
        return;
    m_loginReady = false;
    std::lock_guard<std::mutex> locker(m_deviceLock);
    disconnectDevice();

    DeviceRecord record;
    record.id = id;
    record.port = kCameraPort;
    record.address = address;
    record.userName = userName;
    record.password = password;
    auto* device = new Device(record, nullptr);
    device->setDevice(record);
    connect(device, &Device::sigLogin, this, &Thermography::onSigLogin);
    m_deviceMsg.device = device;
    device->login(false, false, 0);
}

void Thermography::disconnectDevice()
{
    if (Device* device = m_deviceMsg.device) {
        const int count = ++m_deviceMsg.devicecount;
        qDebug() << "DisconnectDisplaydevicecount " << count;
        m_deviceMsg.device = nullptr;
        for (GLYuvWidget* video : qAsConst(m_videoWidgets))
            video->setDevice(nullptr);
        // Pictures still booked are taken from the frames held now; their
        // answers reach this window after the session has gone.
        device->endScreenshots(false);
        device->stopPreview();
        m_audio.setDevice(nullptr);
        for (QSetupDig* settings : findChildren<QSetupDig*>())
            settings->endSession();
        // Cut off from the window here; the reaper joins its threads.
        m_reaper.retire(device);
        wakeFixlinkSessions();
        m_deviceMsg.stallCount = 0;
        m_videoFramesSinceReport = 0;
        m_deviceMsg.tempType = -1;
        m_deviceMsg.timezone = -1000;
    }
    for (deviceshowDig* overlay : qAsConst(m_overlays))
        overlay->showDisconnected(false);
    m_loginReady = true;
    m_setupReady = true;
    ui->unitbtn->hide();
}

void Thermography::on_disconnectbtn_clicked()
{
    std::lock_guard<std::mutex> locker(m_deviceLock);
    disconnectDevice();
}

void Thermography::onSigLogin(int id, Device::LoginState state, int result)
{
    Device* device = m_deviceMsg.device;
    if (!device || sender() != device)
        return;
    emit SigLoginResult(id, state, result);
    switch (state) {
    case Device::LoginSuccess: {
        const DeviceRecord record = *device->deviceRecord();
        m_store.saveAccount(record.id, record.userName, record.password);
        connect(device, &Device::sigPreview, this, &Thermography::onSigPreview, Qt::UniqueConnection);
        connect(device, &Device::sigTemperaChanged, this, &Thermography::onTemperaChanged, Qt::UniqueConnection);
        connect(device, &Device::sigGotThermalInfo, this, &Thermography::onSigGetThermal, Qt::UniqueConnection);
        connect(device, &Device::sigCutTempTypeResult, this, &Thermography::OnTempTypeResult, Qt::UniqueConnection);
        device->startPreview(true, false);
        m_overlays[0]->showConnected(false);
        m_overlays[1]->showConnected(true);
        break;
    }
    case Device::LoginRefreshed:
        qDebug() << "其他登录状态" << result;
        if (result == kReloginForSettings) {
            qDebug() << "获取温度" << result;
            device->getThermalInfo();
        } else if (result == kReloginForUnit) {
            device->cutTempType();
        } else if (result == kWrongPassword) {
            showTip(tr("密码错误"), TipMs, false);
            on_disconnectbtn_clicked();
            return;
        } else if (result == Device::kRefreshRestartsPreview) {
            // The device restarts a stopped stream on the new login by itself.
            qDebug() << "刷新登录句柄" << result;
        } else {
            showTip(tr("登录失败"), TipMs, false);
        }
        break;
    case Device::LoginFailed:
    case Device::LoginRunning:
        break;
    }
    m_loginReady = true;
}

void Thermography::onSigPreview(int id, Device::PreviewState state, int result)
{
    Device* device = m_deviceMsg.device;
    if (!device || sender() != device)
        return;
    if (state != Device::PreviewStarted) {
        qDebug() << "state" << state << result;
        return;
    }
    m_deviceMsg.id = id;
    if (audioButtonOn()) {
        device->setAudioEnabled(true);
        m_audio.setDevice(device);
    }
    m_videoWidgets[0]->setDevice(device);
    if (device->deviceRecord()->hasThermalPicture)
        m_videoWidgets[1]->setDevice(device);
    connect(device, &Device::sigSpeedChanged, this, &Thermography::GetSpeeddate, Qt::UniqueConnection);
    connect(device, &Device::sigGotFrameV, this, &Thermography::onVideoFrameShown, Qt::UniqueConnection);
    connect(device, &Device::sigTempResult, this, &Thermography::GetTempType, Qt::UniqueConnection);
    connect(device, &Device::sigTempScreenshotResult, this, &Thermography::TempScreenshotResult, Qt::UniqueConnection);
    connect(device, &Device::sigGotTimezoneInfo, this, &Thermography::GotTimezoneInfo, Qt::UniqueConnection);
    device->getDeviceInfo(1);
    startFixlinkSession();
}

void Thermography::onVideoFrameShown(const FrameData& frame)
{
    if (frame.type != Device::FrameTemperature && sender() == m_deviceMsg.device)
        ++m_videoFramesSinceReport;
}

void Thermography::GetSpeeddate(double dSpeed)
{
    // Sound and the temperature picture may go on while the video has
    // stopped: a second without a new picture counts as stalled as well.
    const bool videoStalled = m_videoFramesSinceReport == 0 && sender() == m_deviceMsg.device;
    m_videoFramesSinceReport = 0;
    if (dSpeed > kStalledSpeed && !videoStalled) {
        m_deviceMsg.stallCount = 0;
        return;
    }
    Device* device = m_deviceMsg.device;
    if (!device || sender() != device)
        return;
    // The count is not reset by the re-login: a stream that stays dead is
    // logged in again every tenth report.
    if (++m_deviceMsg.stallCount % kStallReloginEvery == 0)
        device->login(false, true, Device::kRefreshRestartsPreview);
}

void Thermography::GotTimezoneInfo(int itimezone)
{
    if (itimezone == -1000) {
        if (m_deviceMsg.device)
            m_deviceMsg.device->getDeviceInfo(1);
        return;
    }
    m_deviceMsg.timezone = itimezone;
}

void Thermography::onTemperaChanged(double dTempera, QString lensfilePath, QString temperaturePath)
{
    Q_UNUSED(dTempera)
    Q_UNUSED(lensfilePath)
    Q_UNUSED(temperaturePath)
}
