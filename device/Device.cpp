#include "device/Device.h"

#include "device/DeviceConfig.h"
#include "device/DeviceLogin.h"
#include "device/DeviceP.h"
#include "device/DevicePreview.h"

#include "KV_DeviceLogin.h"
#include "KV_DeviceNVConfig.h"
#include "KvDevice.h"

#include <QCoreApplication>
#include <QThread>

Q_DECLARE_METATYPE(KvDevice::Device)

bool Device::isH264(qint32 type)
{
    return type == FrameH264Key || type == FrameH264 || type == FrameH264KeyAlt || type == FrameH264Alt;
}

bool Device::isH265(qint32 type)
{
    return type == FrameH265Key || type == FrameH265 || type == FrameH265KeyAlt || type == FrameH265Alt;
}

bool Device::isKeyFrame(qint32 type)
{
    return type == FrameH264Key || type == FrameH265Key || type == FrameH264KeyAlt || type == FrameH265KeyAlt;
}

bool Device::isAudio(qint32 type)
{
    return type == FramePcm || type == FrameAdpcm || type == FrameAac || type == FrameG711;
}

void Device::registerMetaTypes()
{
    registerFrameMetaType();
    qRegisterMetaType<Device::LoginState>("Device::LoginState");
    qRegisterMetaType<Device::PreviewState>("Device::PreviewState");
    qRegisterMetaType<DeviceRecord>("DeviceRecord");
    qRegisterMetaType<KvDevice::Device>("KvDevice::Device");
    qRegisterMetaType<KvDevice::Device>("KvDevice::Device&");
    qRegisterMetaType<KV::Protocol::Device::LoginHelperEx*>("KV::Protocol::Device::LoginHelperEx*");
    qRegisterMetaType<KV::Protocol::Device::NVConfigEx*>("KV::Protocol::Device::NVConfigEx*");
    qRegisterMetaType<LoginInfoPtr>("LoginInfoPtr");
}

Device::Device(const DeviceRecord& record, QObject* parent)
    : FrameSource(parent)
    , d(new DeviceP(this, record))
{
    registerMetaTypes();
    connectWorkers();
}

Device::~Device()
{
    delete d;
}

void Device::connectWorkers()
{
    connect(d, &DeviceP::sigToLogin, d->login, &DeviceLogin::Login);
    connect(d, &DeviceP::sigAgainToLogin, d->login, &DeviceLogin::RefreshLogin);
    connect(d->login, &DeviceLogin::sigLogin, this, &Device::sigLogin);
    connect(d->login, &DeviceLogin::sigLogin, this, &Device::onWorkerLogin);
    connect(this, &Device::sigPreview, this, &Device::onPreviewState);
    connect(this, &Device::sigGotFrameV, this, &Device::onPicture);

    connect(d, &DeviceP::sigToStartPreview, d->preview, &DevicePreview::StartPreview);
    connect(d, &DeviceP::sigToStopPreview, d->preview, &DevicePreview::StopPreview);
    connect(d, &DeviceP::sigToRestartPreview, d->preview, &DevicePreview::RestartPreview);
    connect(d->preview, &DevicePreview::sigPreview, this, &Device::sigPreview);
    connect(d->preview, &DevicePreview::sigGotFrameV, this, &Device::sigGotFrameV);
    connect(d->preview, &DevicePreview::sigGotFrameA, this, &Device::sigGotFrameA);
    connect(d->preview, &DevicePreview::sigTimeChanged, this, &Device::sigTimeChanged);

    connect(d, &DeviceP::sigToGetDevVersion, d->config, &DeviceConfig::GetDevVersion);
    connect(d->config, &DeviceConfig::sigGotDevVersion, this, &Device::sigGotDevVersion);

    connect(d->preview, &DevicePreview::sigSpeedChanged, this, &Device::sigSpeedChanged);
    connect(d->preview, &DevicePreview::sigTemperaChanged, this, &Device::sigTemperaChanged);
    connect(d->preview, &DevicePreview::sigTempResult, this, &Device::sigTempResult);
    // Passed on by the writer's thread itself, which the destruction waits
    // for: an answer queued to this object would be lost with it, and every
    // answer is someone's picture. The context is the private part, so that
    // prepareForDestruction() leaves this connection.
    connect(
        d->preview, &DevicePreview::sigTempScreenshotResult, d,
        [this](double viTemp, QString lensfilePath, QString temperaturePath, int state) {
            emit sigTempScreenshotResult(viTemp, lensfilePath, temperaturePath, state);
        },
        Qt::DirectConnection);

    connect(d, &DeviceP::sigGotThermalInfo, d->config, &DeviceConfig::GetThermalInfo);
    connect(d, &DeviceP::sigDeviceInfo, d->config, &DeviceConfig::GetDeviceInfo);
    connect(d, &DeviceP::sigSetThermalInfo, d->config, &DeviceConfig::SetThermalInfo);
    connect(d, &DeviceP::sigCutTempType, d->config, &DeviceConfig::CutTempType);
    connect(d->config, &DeviceConfig::sigGotThermalInfo, this, &Device::sigGotThermalInfo);
    connect(d->config, &DeviceConfig::sigGotTimezoneInfo, this, &Device::sigGotTimezoneInfo);
    connect(d->config, &DeviceConfig::sigSetThermalResult, this, &Device::sigSetThermalResult);
    connect(d->config, &DeviceConfig::sigCutTempTypeResult, this, &Device::sigCutTempTypeResult);
}

void Device::prepareForDestruction(QThread* thread)
{
    // Reports still on their way would otherwise be delivered on this thread
    // while another one deletes the object. The answers to snapshots never
    // pass through this thread and go on.
    disconnect(d->login, nullptr, this, nullptr);
    disconnect(d->preview, nullptr, this, nullptr);
    disconnect(d->config, nullptr, this, nullptr);
    QCoreApplication::removePostedEvents(this);
    if (thread && thread != this->thread())
        moveToThread(thread);
    ThreadSync::publish(this);
}

bool Device::setDevice(const DeviceRecord& record)
{
    if (d->preview->isRunning())
        return false;
    DeviceRecord& own = d->record;
    const qint32 videoWidth = own.videoWidth;
    const qint32 videoHeight = own.videoHeight;
    const quint8 loginField = own.loginField;
    const quint8 hasThermalPicture = own.hasThermalPicture;
    own = record;
    own.videoWidth = videoWidth;
    own.videoHeight = videoHeight;
    own.loginField = loginField;
    own.hasThermalPicture = hasThermalPicture;
    d->refreshConnectionInfo();
    return true;
}

void Device::login(bool flag, bool again, int istate)
{
    auto* helper = new KV::Protocol::Device::LoginHelperEx(
        d->info, d->record.userName.toUtf8().toStdString(), d->record.password.toUtf8().toStdString(), flag);
    d->login->expectHelper(helper);
    if (again)
        emit d->sigAgainToLogin(helper, istate);
    else
        emit d->sigToLogin(helper);
}

void Device::startPreview(bool isHD, bool isShowthermal)
{
    m_previewWanted = true;
    m_previewHD = isHD;
    m_previewThermal = isShowthermal;
    m_previewFailed = false;
    m_sincePicture.start();
    emit d->sigToStartPreview(d->login->lastGoodInfo(), isHD, isShowthermal);
}

void Device::stopPreview()
{
    m_previewWanted = false;
    emit d->sigToStopPreview();
}

void Device::onWorkerLogin(int id, Device::LoginState state, int result)
{
    Q_UNUSED(id)
    // A re-login replaces the helper the running stream was started on, and
    // the camera forgets that login with it: a stream that stalled (or whose
    // start failed) would never come back. After a successful re-login of the
    // stall watch or the alarm link, such a stream starts again on the new
    // one. A flowing stream goes on: a restart would blank the pictures until
    // the next key frame.
    if (state == LoginRefreshed && result == kRefreshRestartsPreview && m_previewWanted && streamStopped()) {
        m_previewFailed = false;
        m_sincePicture.start();
        emit d->sigToRestartPreview(d->login->lastGoodInfo(), m_previewHD, m_previewThermal);
    }
}

void Device::onPreviewState(int id, Device::PreviewState state, int result)
{
    Q_UNUSED(id)
    if (state == PreviewFailed || (state == PreviewStarted && result != 0))
        m_previewFailed = true;
}

void Device::onPicture(const Device::FrameData& frame)
{
    if (frame.type != FrameTemperature)
        m_sincePicture.start();
}

bool Device::streamStopped() const
{
    return m_previewFailed || !m_sincePicture.isValid() || m_sincePicture.elapsed() >= kStreamStoppedAfterMs;
}

void Device::setAudioEnabled(bool on)
{
    d->preview->setAudioEnabled(on);
}

bool Device::flip()
{
    return d->preview->flip();
}

bool Device::screenshot(QString dir, double temperature, QString& lensfilePath, QString& temperaturePath, int state,
    int istate, int timestamp)
{
    if (timestamp == 0)
        return d->preview->takeSnapshot(dir, temperature, lensfilePath, temperaturePath, state, istate);
    return d->preview->bookSnapshot(dir, temperature, lensfilePath, temperaturePath, state, istate, timestamp);
}

bool Device::queueScreenshot(QString dir, double temperature, int state, int istate)
{
    return d->preview->queueSnapshot(dir, temperature, state, istate);
}

bool Device::endScreenshots(bool wait)
{
    return d->preview->endSnapshots(wait);
}

namespace {

KV::Protocol::Device::NVConfigEx* newConfig(const DeviceP* d)
{
    const LoginInfoPtr login = d->login->lastGoodInfo();
    KV::Protocol::Device::LoginInfo info;
    if (login)
        info = *login;
    else
        info.device = d->info;
    return new KV::Protocol::Device::NVConfigEx(info);
}

} // namespace

void Device::getThermalInfo()
{
    emit d->sigGotThermalInfo(newConfig(d));
}

void Device::setThermalInfo(int high, int low)
{
    emit d->sigSetThermalInfo(newConfig(d), high, low);
}

void Device::cutTempType()
{
    emit d->sigCutTempType(newConfig(d));
}

void Device::getDeviceInfo(int itype)
{
    emit d->sigDeviceInfo(newConfig(d), itype);
}

DeviceRecord* Device::deviceRecord()
{
    return &d->record;
}

qint32 Device::loginInfoValue() const
{
    const LoginInfoPtr login = d->login->lastGoodInfo();
    return login ? login->loginValue : 0;
}
