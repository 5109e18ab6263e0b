#pragma once
// Reads and changes the camera's alarm thresholds and temperature unit and
// reads its time zone. Cameras carry either a thermal block or, older ones,
// only an alarm-prompt block; the worker remembers which kind the last read
// found and writes to the matching block.
//
// Lives on its own thread; reached only by queued calls. Each slot takes
// ownership of the configuration object it receives.

#include "device/Device.h"

#include "KV_DeviceTypes.h"

#include <QObject>
#include <QThread>

namespace KV {
namespace Protocol {
namespace Device {
class NVConfigEx;
} // namespace Device
} // namespace Protocol
} // namespace KV

class DeviceConfig : public QObject {
    Q_OBJECT

public:
    // Reported for thresholds and the time zone when the camera gave none.
    static constexpr int kNoValue = -1000;

    explicit DeviceConfig(DeviceRecord* record, QObject* parent = nullptr);
    ~DeviceConfig() override;

public slots:
    void GetDevVersion(KV::Protocol::Device::NVConfigEx* nvConfig);
    void GetThermalInfo(KV::Protocol::Device::NVConfigEx* nvConfig);
    void GetDeviceInfo(KV::Protocol::Device::NVConfigEx* nvConfig, int itype);
    void SetThermalInfo(KV::Protocol::Device::NVConfigEx* nvConfig, int highTemp, int lowTemp);
    void CutTempType(KV::Protocol::Device::NVConfigEx* nvConfig);

signals:
    void sigGotDevVersion(int id, bool isSuc, int result, QString appVersion, QString hwVersion, QString kernelVersion);
    void sigGotThermalInfo(int highTemp, int lowTemp);
    void sigGotTimezoneInfo(int itimezone);
    void sigSetThermalResult(int iresult);
    void sigCutTempTypeResult(int iresult);

private:
    void replaceConfig(KV::Protocol::Device::NVConfigEx* nvConfig);
    // Reads everything into `all` and notes which kind of camera answered,
    // keeping its thermal block when it has one; 1001 on success. A failed
    // read leaves what the last good one found.
    int readAll(KV::Protocol::Device::AllConfigInfo& all);

    DeviceRecord* m_record;
    KV::Protocol::Device::NVConfigEx* m_config = nullptr;
    bool m_hasThermalBlock = false;
    bool m_hasRead = false; // a read succeeded: the blocks below are the camera's
    KV::Protocol::Device::AlarmPromptInfo m_alarmPrompt;
    KV::Protocol::Device::ThermalInfo m_thermal;
    QThread m_thread;
};
