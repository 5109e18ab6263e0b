#pragma once
// Logs in to the camera on a thread of its own and keeps the current login
// helper, which the preview and the configuration requests build on. Fills
// the device record with what the login reports.
//
// Lives on its own thread; reached only by queued calls. Other threads never
// touch the helper (a new login deletes it): they read lastGoodInfo(), a
// copy of what the last successful login reported, from any thread.

#include "device/Device.h"
#include "device/LoginInfo.h"

#include <QObject>
#include <QThread>

#include <atomic>
#include <mutex>
#include <vector>

namespace KV {
namespace Protocol {
namespace Device {
class LoginHelperEx;
struct LoginInfo;
} // namespace Device
} // namespace Protocol
} // namespace KV

class DeviceLogin : public QObject {
    Q_OBJECT

public:
    explicit DeviceLogin(DeviceRecord* record, QObject* parent = nullptr);
    ~DeviceLogin() override;

    LoginInfoPtr lastGoodInfo() const;
    // Any thread, before the helper is sent to Login or RefreshLogin: a call
    // still queued when the worker goes never runs, and its helper is freed
    // with the worker instead.
    void expectHelper(KV::Protocol::Device::LoginHelperEx* loginHelper);

public slots:
    void Login(KV::Protocol::Device::LoginHelperEx* loginHelper);
    void RefreshLogin(KV::Protocol::Device::LoginHelperEx* loginHelper, int istate = 0);

signals:
    void sigLogin(int id, Device::LoginState state, int result);

private:
    // Takes over a helper that has arrived, and frees the one held before.
    void replaceHelper(KV::Protocol::Device::LoginHelperEx* loginHelper);
    void copyLoginInfo(const KV::Protocol::Device::LoginInfo& info);
    void keepGoodInfo(const KV::Protocol::Device::LoginInfo& info);

    std::atomic<KV::Protocol::Device::LoginHelperEx*> m_helper { nullptr };
    mutable std::mutex m_infoMutex;
    LoginInfoPtr m_lastGood;
    std::mutex m_pendingMutex;
    std::vector<KV::Protocol::Device::LoginHelperEx*> m_pending; // sent, not yet arrived
    QThread m_thread;
    DeviceRecord* m_record;
};
