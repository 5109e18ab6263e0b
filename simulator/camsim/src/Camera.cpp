#include "Camera.h"

#include "Net.h"

#include <arpa/inet.h>
#include <random>

using namespace KV::Protocol::Device;

namespace camsim {

namespace {

// How long a login value stays valid after its last control connection went.
constexpr auto LoginGrace = std::chrono::seconds(30);

} // namespace

std::string nextAddress(const std::string& first, int offset)
{
    uint32_t a = 0;
    kvnet::parseIpv4(first, a);
    in_addr next {};
    next.s_addr = htonl(ntohl(a) + static_cast<uint32_t>(offset));
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &next, text, sizeof text);
    return text;
}

Camera::Camera(const Options& options, int index)
    : m_options(options)
    , m_id(options.firstId + index)
    , m_address(nextAddress(options.address, index))
    , m_port(static_cast<uint16_t>(options.port))
    , m_crowd(options.peoplePerMinute, options.abnormalShare, options.seed + static_cast<uint32_t>(index) * 7919U)
    , m_start(std::chrono::steady_clock::now())
    , m_nextLogin(std::random_device {}() & 0x3fffffffU)
{
    m_config.alarmPrompt.enable = 1;
    m_config.alarmPrompt.highTemp = options.highThreshold;
    m_config.alarmPrompt.lowTemp = 300;
    m_config.deviceName = "Thermal camera " + std::to_string(m_id);
    m_config.serialNumber = "SIM" + std::to_string(100000 + m_id);
    m_config.model = "TS-1080";
    m_config.appVersion = "2.1.0";
    m_config.hardwareVersion = "1.0";
    m_config.kernelVersion = "4.9.0";
    m_config.macAddress = "02:00:00:00:00:" + std::to_string(10 + m_id % 90);
    m_config.timeZone = options.timezone < 0 ? 65536 + options.timezone : options.timezone;
    m_config.hasThermal = options.legacyConfig ? 0 : 1;
    m_config.thermal.highTemp = options.highThreshold;
    m_config.thermal.lowTemp = 300;
    m_config.thermal.allowUnitSwitch = options.unitSwitch ? 1 : 0;
    m_config.thermal.tempUnit = options.fahrenheit ? 1 : 0;
}

int64_t Camera::sceneMs() const
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now() - m_start).count();
}

int64_t Camera::localMs() const
{
    using namespace std::chrono;
    const int64_t utc = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    return utc + static_cast<int64_t>(m_options.timezone) * 3600000;
}

int32_t Camera::login(const std::string& user, const std::string& password, int32_t& loginValue)
{
    if (user != m_options.user)
        return Code::UnknownUser;
    if (password != m_options.password)
        return Code::WrongPassword;
    std::lock_guard<std::mutex> lock(m_mutex);
    // Positive, non-zero and unique among the values handed out.
    do {
        m_nextLogin = (m_nextLogin * 1103515245U + 12345U) & 0x7fffffffU;
    } while (m_nextLogin == 0 || m_logins.count(static_cast<int32_t>(m_nextLogin)));
    loginValue = static_cast<int32_t>(m_nextLogin);
    m_logins[loginValue].openControls = 1;
    return Code::Success;
}

bool Camera::resume(int32_t loginValue)
{
    if (!isCurrent(loginValue))
        return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_logins[loginValue].openControls;
    return true;
}

void Camera::controlClosed(int32_t loginValue)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_logins.find(loginValue);
    if (it == m_logins.end())
        return;
    if (it->second.openControls > 0)
        --it->second.openControls;
    it->second.graceUntil = std::chrono::steady_clock::now() + LoginGrace;
}

void Camera::logout(int32_t loginValue)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_logins.erase(loginValue);
}

bool Camera::isCurrent(int32_t loginValue)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto now = std::chrono::steady_clock::now();
    for (auto it = m_logins.begin(); it != m_logins.end();) {
        if (it->second.openControls == 0 && it->second.graceUntil <= now)
            it = m_logins.erase(it);
        else
            ++it;
    }
    return loginValue != 0 && m_logins.count(loginValue) > 0;
}

LoginInfo Camera::loginInfo(int32_t loginValue) const
{
    LoginInfo info;
    std::lock_guard<std::mutex> lock(m_mutex);
    info.device.id = m_id;
    info.device.port = m_port;
    info.device.address = m_address;
    info.device.deviceName = m_config.deviceName;
    info.device.serialNumber = m_config.serialNumber;
    info.device.macAddress = m_config.macAddress;
    info.device.model = m_config.model;
    info.device.hardwareVersion = m_config.hardwareVersion;
    info.device.softwareVersion = m_config.appVersion;
    info.deviceType = 1;
    info.channelCount = 1;
    info.videoWidth = 1920;
    info.videoHeight = 1080;
    info.frameRate = 25;
    info.hasAudio = m_options.audio == AudioCodec::None ? 0 : 1;
    info.canMirror = 1;
    info.thermalWidth = 256;
    info.thermalHeight = 192;
    info.hasTemperature = 1;
    info.hasThermalPicture = 1;
    info.loginValue = loginValue;
    return info;
}

AllConfigInfo Camera::config() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_config;
}

int32_t Camera::setThermal(const ThermalInfo& thermal)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_config.hasThermal)
        return Code::PermissionDenied;
    if (thermal.highTemp < 200 || thermal.highTemp > 500 || thermal.lowTemp < 0 || thermal.lowTemp > 500
        || thermal.tempUnit > 1)
        return Code::InvalidArgument;
    if (thermal.tempUnit != m_config.thermal.tempUnit && !m_config.thermal.allowUnitSwitch)
        return Code::PermissionDenied;
    // The permission itself is the camera's own; a client cannot grant it.
    m_config.thermal.highTemp = thermal.highTemp;
    m_config.thermal.lowTemp = thermal.lowTemp;
    m_config.thermal.tempUnit = thermal.tempUnit;
    return Code::Success;
}

int32_t Camera::setAlarmPrompt(const AlarmPromptInfo& prompt)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (prompt.highTemp < 200 || prompt.highTemp > 500 || prompt.lowTemp < 0 || prompt.lowTemp > 500
        || prompt.enable > 1)
        return Code::InvalidArgument;
    m_config.alarmPrompt = prompt;
    return Code::Success;
}

int Camera::highThreshold() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_config.hasThermal ? m_config.thermal.highTemp : m_config.alarmPrompt.highTemp;
}

bool Camera::unitCode(int& code) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_config.hasThermal)
        return false;
    code = !m_config.thermal.allowUnitSwitch ? 0 : (m_config.thermal.tempUnit ? 1 : 10);
    return true;
}

bool Camera::mirrored() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_mirror;
}

void Camera::toggleMirror()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_mirror = !m_mirror;
}

} // namespace camsim
