#include "KvDevice.h"

namespace KvDevice {

Device::Device() = default;

} // namespace KvDevice
