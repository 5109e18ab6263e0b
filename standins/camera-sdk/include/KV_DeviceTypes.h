// Records and result codes shared by the camera SDK libraries: the connection
// description of a camera, what a login reports, one received frame and the
// configuration blocks. Plain values, usable from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace KV {
namespace Protocol {
namespace Device {

// Result of LoginHelperEx::Login().
using LoginResult = int32_t;
// Result of PreviewHelperEx::Start(); 0 means the stream is open.
using PreviewResult = int32_t;
// Result of the NVConfigEx calls.
using ConfigResult = int32_t;

namespace Code {
constexpr int32_t Success = 1001; // login and configuration calls
constexpr int32_t ConnectFailed = 1002; // nothing answers at the address
constexpr int32_t Timeout = 1003; // the camera did not answer in time
constexpr int32_t ProtocolError = 1004; // the answer made no sense
constexpr int32_t NotLoggedIn = 1005; // the login value is not (or no longer) valid
constexpr int32_t PermissionDenied = 1006; // the camera refuses the change
constexpr int32_t InvalidArgument = 1007; // a value out of range, or an empty address
constexpr int32_t UnknownUser = 1011;
constexpr int32_t WrongPassword = 1012;

constexpr int32_t PreviewOk = 0;
constexpr int32_t PreviewConnectFailed = -1;
constexpr int32_t PreviewTimeout = -2;
constexpr int32_t PreviewRefused = -3; // not logged in, or the camera has no such stream
constexpr int32_t PreviewAlreadyStarted = -4;
} // namespace Code

// Frame types as the camera labels them.
namespace FrameType {
constexpr int32_t H264Key = 0;
constexpr int32_t H264 = 1;
constexpr int32_t Temperature = 10;
constexpr int32_t AudioPcm = 21;
constexpr int32_t AudioAdpcm = 22;
constexpr int32_t AudioAac = 24;
constexpr int32_t AudioG711 = 26;
constexpr int32_t H265Key = 40;
constexpr int32_t H265 = 41;
} // namespace FrameType

// Where a camera is and what the search told about it.
struct Info {
    int32_t id = 0; // the camera's device number
    int32_t port = 0; // camera port, 8800 for the cameras we know
    std::string address;
    std::string deviceName;
    std::string serialNumber;
    std::string macAddress;
    std::string model;
    std::string hardwareVersion;
    std::string softwareVersion;
    uint8_t reserved[32] = {};
};

// What a successful login reports. The connection description and the login
// value identify the login to the preview and configuration calls.
struct LoginInfo {
    Info device;
    uint8_t deviceType = 0;
    int32_t channelCount = 0;
    int32_t videoWidth = 0;
    int32_t videoHeight = 0;
    int32_t frameRate = 0;
    uint8_t hasAudio = 0;
    uint8_t canMirror = 0;
    int32_t thermalWidth = 0;
    int32_t thermalHeight = 0;
    uint8_t hasTemperature = 0;
    uint8_t hasThermalPicture = 0;
    int32_t loginValue = 0; // proves this login to the camera's other services
};

// One received frame. The payload is the coded frame as the camera sent it.
struct FrameData {
    int32_t frameType = 0;
    int32_t frameRate = 0;
    std::vector<uint8_t> data;
    int64_t timestamp = 0; // camera local time, milliseconds since 1970
};

// The alarm block of cameras without a thermal block.
struct AlarmPromptInfo {
    uint8_t enable = 0;
    int32_t highTemp = 0; // tenths of a degree Celsius
    int32_t lowTemp = 0;
};

struct ThermalInfo {
    int32_t highTemp = 0; // tenths of a degree Celsius
    int32_t lowTemp = 0;
    uint8_t allowUnitSwitch = 0;
    uint8_t tempUnit = 0; // 0 Celsius, 1 Fahrenheit
};

struct AllConfigInfo {
    AlarmPromptInfo alarmPrompt;
    std::string deviceName;
    std::string serialNumber;
    std::string model;
    std::string appVersion;
    std::string hardwareVersion;
    std::string kernelVersion;
    std::string macAddress;
    int32_t timeZone = 0; // whole hours, negative zones stored as 16-bit (65528 is -8)
    uint8_t hasThermal = 0;
    ThermalInfo thermal;
};

} // namespace Device
} // namespace Protocol
} // namespace KV
