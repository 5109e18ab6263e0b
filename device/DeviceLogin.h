#pragma once
// Logs in to the camera on a thread of its own and keeps the current login
// helper, which the preview and the configuration requests build on. Fills
// the device record with what the login reports.
//
// Lives on its own thread; reached only by queued calls, except currentHelper(),
// which the GUI thread reads while no login runs.

#include "device/Device.h"

#include <QObject>
#include <QThread>

#include <atomic>

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

    KV::Protocol::Device::LoginHelperEx* currentHelper() const { return m_helper.load(); }

public slots:
    void Login(KV::Protocol::Device::LoginHelperEx* loginHelper);
    void RefreshLogin(KV::Protocol::Device::LoginHelperEx* loginHelper, int istate = 0);

signals:
    void sigLogin(int id, Device::LoginState state, int result);

private:
    void replaceHelper(KV::Protocol::Device::LoginHelperEx* loginHelper);
    void copyLoginInfo(const KV::Protocol::Device::LoginInfo& info);

    std::atomic<KV::Protocol::Device::LoginHelperEx*> m_helper { nullptr };
    QThread m_thread;
    DeviceRecord* m_record;
};
