#include "device/DeviceConfig.h"

#include "media/ThreadSync.h"

#include "KV_DeviceNVConfig.h"

#include <QDebug>

namespace {
constexpr int kSuccess = KV::Protocol::Device::Code::Success;
// Negative zones are stored as 16-bit values (65528 is -8).
constexpr int kNegativeZoneFrom = 65500;
constexpr int kTimezoneRequest = 1;
} // namespace

DeviceConfig::DeviceConfig(DeviceRecord* record, QObject* parent)
    : QObject(parent)
    , m_record(record)
{
    m_thread.start(QThread::InheritPriority);
    moveToThread(&m_thread);
}

DeviceConfig::~DeviceConfig()
{
    disconnect();
    m_thread.quit();
    m_thread.wait();
    ThreadSync::observeFinished(&m_thread);
    delete m_config;
}

void DeviceConfig::replaceConfig(KV::Protocol::Device::NVConfigEx* nvConfig)
{
    if (nvConfig != m_config)
        delete m_config;
    m_config = nvConfig;
}

int DeviceConfig::readAll(KV::Protocol::Device::AllConfigInfo& all)
{
    all = KV::Protocol::Device::AllConfigInfo();
    const int result = m_config ? m_config->GetAllConfig(all) : 0;
    // A failed read says nothing about the camera: what the last good one
    // found stays, or the next write would go to the wrong block.
    if (result != kSuccess)
        return result;
    m_hasRead = true;
    m_hasThermalBlock = all.hasThermal != 0;
    if (m_hasThermalBlock)
        m_thermal = all.thermal;
    else
        m_alarmPrompt = all.alarmPrompt;
    return result;
}

void DeviceConfig::GetDevVersion(KV::Protocol::Device::NVConfigEx* nvConfig)
{
    // Versions are not asked for; the object stays with the sender.
    Q_UNUSED(nvConfig)
}

void DeviceConfig::GetThermalInfo(KV::Protocol::Device::NVConfigEx* nvConfig)
{
    replaceConfig(nvConfig);
    if (!m_record)
        return;
    KV::Protocol::Device::AllConfigInfo all;
    const int result = readAll(all);
    qDebug() << "highTemp" << m_alarmPrompt.highTemp << "lowTemp" << m_alarmPrompt.lowTemp;
    if (result != kSuccess)
        emit sigGotThermalInfo(kNoValue, kNoValue);
    else if (m_hasThermalBlock)
        emit sigGotThermalInfo(m_thermal.highTemp, m_thermal.lowTemp);
    else
        emit sigGotThermalInfo(m_alarmPrompt.highTemp, m_alarmPrompt.lowTemp);
}

void DeviceConfig::GetDeviceInfo(KV::Protocol::Device::NVConfigEx* nvConfig, int itype)
{
    replaceConfig(nvConfig);
    if (!m_record)
        return;
    KV::Protocol::Device::AllConfigInfo all;
    const int result = readAll(all);
    if (itype != kTimezoneRequest)
        return;
    int zone = kNoValue;
    if (result == kSuccess) {
        zone = all.timeZone;
        if (zone > kNegativeZoneFrom)
            zone -= 65536;
    }
    emit sigGotTimezoneInfo(zone);
}

void DeviceConfig::SetThermalInfo(KV::Protocol::Device::NVConfigEx* nvConfig, int highTemp, int lowTemp)
{
    Q_UNUSED(lowTemp) // the camera keeps its own low threshold
    replaceConfig(nvConfig);
    if (!m_record)
        return;
    int result = 0;
    // Writing a block means writing all of it: until a read has told which
    // kind of camera this is and what the rest of its block holds, a write
    // would go to the wrong block or overwrite its other fields with zeros.
    if (!m_hasRead) {
        KV::Protocol::Device::AllConfigInfo all;
        result = readAll(all);
        if (result != kSuccess) {
            emit sigSetThermalResult(result);
            return;
        }
    }
    if (m_hasThermalBlock) {
        m_thermal.highTemp = highTemp;
        result = m_config ? m_config->SetThermalInfoConfig(m_thermal) : 0;
    } else {
        m_alarmPrompt.highTemp = highTemp;
        m_alarmPrompt.enable = 1;
        result = m_config ? m_config->SetAlarmPromptInfoConfig(m_alarmPrompt) : 0;
    }
    emit sigSetThermalResult(result);
}

void DeviceConfig::CutTempType(KV::Protocol::Device::NVConfigEx* nvConfig)
{
    replaceConfig(nvConfig);
    if (!m_record)
        return;
    KV::Protocol::Device::AllConfigInfo all;
    const int result = readAll(all);
    if (result == kSuccess && m_thermal.allowUnitSwitch != 0) {
        m_thermal.tempUnit = m_thermal.tempUnit == 0 ? 1 : 0;
        emit sigCutTempTypeResult(m_config->SetThermalInfoConfig(m_thermal));
        return;
    }
    emit sigCutTempTypeResult(0);
}
