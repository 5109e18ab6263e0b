// A camera as a plain value: what callers pass around when they need to name
// one without holding a login.
#pragma once

#include <cstdint>
#include <string>

namespace KvDevice {

class Device {
public:
    Device();

    int32_t id = 0;
    int32_t port = 0;
    std::string address;
    std::string name;
};

} // namespace KvDevice
