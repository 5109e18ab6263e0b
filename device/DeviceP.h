#pragma once
// The private part of Device: the camera's description, the SDK connection
// information and the three workers. Its signals are the queued requests to
// the workers. Lives with its Device.

#include "device/Device.h"
#include "device/LoginInfo.h"

#include "KV_DeviceTypes.h"

#include <QObject>

class DeviceConfig;
class DeviceLogin;
class DevicePreview;

namespace KV {
namespace Protocol {
namespace Device {
class LoginHelperEx;
class NVConfigEx;
} // namespace Device
} // namespace Protocol
} // namespace KV

class DeviceP : public QObject {
    Q_OBJECT

public:
    DeviceP(Device* device, const DeviceRecord& record);
    ~DeviceP() override;

    void refreshConnectionInfo();

    Device* q;
    DeviceRecord record;
    KV::Protocol::Device::Info info;
    DeviceLogin* login;
    DevicePreview* preview;
    DeviceConfig* config;

signals:
    void sigToLogin(KV::Protocol::Device::LoginHelperEx* loginHelper);
    void sigAgainToLogin(KV::Protocol::Device::LoginHelperEx* loginHelper, int istate);
    void sigToGetDevVersion(KV::Protocol::Device::NVConfigEx* nvConfig);
    void sigToStartPreview(LoginInfoPtr login, bool isHD, bool isShowthermal);
    void sigToStopPreview();
    void sigToRestartPreview(LoginInfoPtr login, bool isHD, bool isShowthermal);
    void sigGotThermalInfo(KV::Protocol::Device::NVConfigEx* nvConfig);
    void sigDeviceInfo(KV::Protocol::Device::NVConfigEx* nvConfig, int itype);
    void sigSetThermalInfo(KV::Protocol::Device::NVConfigEx* nvConfig, int highTemp, int lowTemp);
    void sigCutTempType(KV::Protocol::Device::NVConfigEx* nvConfig);
};
