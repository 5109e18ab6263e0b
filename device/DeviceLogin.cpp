#include "device/DeviceLogin.h"

#include "media/ThreadSync.h"

#include "KV_DeviceLogin.h"

#include <algorithm>

namespace {
constexpr int kLoginSuccess = KV::Protocol::Device::Code::Success;
}

DeviceLogin::DeviceLogin(DeviceRecord* record, QObject* parent)
    : QObject(parent)
    , m_record(record)
{
    m_thread.start(QThread::InheritPriority);
    moveToThread(&m_thread);
}

DeviceLogin::~DeviceLogin()
{
    disconnect();
    // Quitting first lets a login in progress finish; the helper goes once
    // nothing on the thread can use it any more.
    m_thread.quit();
    m_thread.wait();
    ThreadSync::observeFinished(&m_thread);
    delete m_helper.exchange(nullptr);
    // Requests that were still queued when the thread ended.
    std::lock_guard<std::mutex> locker(m_pendingMutex);
    for (KV::Protocol::Device::LoginHelperEx* helper : m_pending)
        delete helper;
    m_pending.clear();
}

void DeviceLogin::expectHelper(KV::Protocol::Device::LoginHelperEx* loginHelper)
{
    if (!loginHelper)
        return;
    std::lock_guard<std::mutex> locker(m_pendingMutex);
    m_pending.push_back(loginHelper);
}

void DeviceLogin::replaceHelper(KV::Protocol::Device::LoginHelperEx* loginHelper)
{
    {
        std::lock_guard<std::mutex> locker(m_pendingMutex);
        m_pending.erase(std::remove(m_pending.begin(), m_pending.end(), loginHelper), m_pending.end());
    }
    delete m_helper.exchange(loginHelper);
}

LoginInfoPtr DeviceLogin::lastGoodInfo() const
{
    std::lock_guard<std::mutex> locker(m_infoMutex);
    return m_lastGood;
}

void DeviceLogin::keepGoodInfo(const KV::Protocol::Device::LoginInfo& info)
{
    auto copy = std::make_shared<const KV::Protocol::Device::LoginInfo>(info);
    std::lock_guard<std::mutex> locker(m_infoMutex);
    m_lastGood = std::move(copy);
}

void DeviceLogin::copyLoginInfo(const KV::Protocol::Device::LoginInfo& info)
{
    if (!m_record)
        return;
    m_record->loginField = info.deviceType;
    m_record->channelCount = info.channelCount;
    m_record->announcedWidth = info.videoWidth;
    m_record->announcedHeight = info.videoHeight;
    m_record->frameRate = info.frameRate;
    m_record->hasAudio = info.hasAudio;
    m_record->canMirror = info.canMirror;
    m_record->thermalWidth = info.thermalWidth;
    m_record->thermalHeight = info.thermalHeight;
    m_record->hasTemperature = info.hasTemperature;
    m_record->hasThermalPicture = info.hasThermalPicture;
}

void DeviceLogin::Login(KV::Protocol::Device::LoginHelperEx* loginHelper)
{
    replaceHelper(loginHelper);
    const int id = m_record ? m_record->id : 0;
    emit sigLogin(id, Device::LoginRunning, 0);
    if (!loginHelper) {
        emit sigLogin(id, Device::LoginFailed, 0);
        return;
    }
    const int result = loginHelper->Login();
    if (result == kLoginSuccess) {
        copyLoginInfo(loginHelper->info());
        keepGoodInfo(loginHelper->info());
        emit sigLogin(id, Device::LoginSuccess, result);
    } else {
        emit sigLogin(id, Device::LoginFailed, result);
    }
}

void DeviceLogin::RefreshLogin(KV::Protocol::Device::LoginHelperEx* loginHelper, int istate)
{
    replaceHelper(loginHelper);
    const int id = m_record ? m_record->id : 0;
    if (!loginHelper) {
        emit sigLogin(id, Device::LoginRefreshed, 0);
        return;
    }
    const int result = loginHelper->Login();
    if (result == kLoginSuccess) {
        copyLoginInfo(loginHelper->info());
        keepGoodInfo(loginHelper->info());
        emit sigLogin(id, Device::LoginRefreshed, istate);
    } else {
        emit sigLogin(id, Device::LoginRefreshed, result);
    }
}
