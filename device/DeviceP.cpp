#include "device/DeviceP.h"

#include "device/DeviceConfig.h"
#include "device/DeviceLogin.h"
#include "device/DevicePreview.h"

DeviceP::DeviceP(Device* device, const DeviceRecord& deviceRecord)
    : QObject(device)
    , q(device)
    , record(deviceRecord)
{
    refreshConnectionInfo();
    login = new DeviceLogin(&record);
    preview = new DevicePreview(&record);
    config = new DeviceConfig(&record);
}

DeviceP::~DeviceP()
{
    disconnect(this, nullptr, login, nullptr);
    // Each worker finishes its current call before it goes.
    delete config;
    delete preview;
    delete login;
}

void DeviceP::refreshConnectionInfo()
{
    info = KV::Protocol::Device::Info();
    info.id = record.id;
    info.port = record.port;
    info.address = record.address.toUtf8().toStdString();
}
