// Reads and writes a camera's stored configuration. Every call opens its own
// connection, blocks the calling thread for at most the configuration
// time-out ($KVSDK_CONFIG_TIMEOUT_MS, default 5000) and closes it again.
#pragma once

#include "KV_DeviceTypes.h"

#include <memory>

namespace KV {
namespace Protocol {
namespace Device {

class NVConfigEx {
public:
    explicit NVConfigEx(const LoginInfo& info);
    virtual ~NVConfigEx();
    NVConfigEx(const NVConfigEx&) = delete;
    NVConfigEx& operator=(const NVConfigEx&) = delete;

    // All return Code::Success (1001) or a failure code.
    ConfigResult GetAllConfig(AllConfigInfo& all);
    ConfigResult SetThermalInfoConfig(const ThermalInfo& thermal);
    ConfigResult SetAlarmPromptInfoConfig(const AlarmPromptInfo& prompt);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace Device
} // namespace Protocol
} // namespace KV
