// One simulated camera: its identity, stored configuration and the logins
// it has issued. Shared by the connection threads of that camera; every
// member function is thread-safe.
#pragma once

#include "../media/Crowd.h"
#include "Options.h"

#include "KV_DeviceTypes.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace camsim {

class Camera {
public:
    Camera(const Options& options, int index);

    int32_t id() const { return m_id; }
    const std::string& address() const { return m_address; }
    uint16_t port() const { return m_port; }
    void setPort(uint16_t port) { m_port = port; }
    const Options& options() const { return m_options; }
    const Crowd& crowd() const { return m_crowd; }
    // Milliseconds since the camera started, the crowd's clock.
    int64_t sceneMs() const;
    // The camera's own clock: local time (UTC + time zone) in ms since 1970.
    int64_t localMs() const;

    // Returns 1001 and a fresh login value, or 1011 / 1012.
    int32_t login(const std::string& user, const std::string& password, int32_t& loginValue);
    // A control connection holding `loginValue` opened or closed.
    bool resume(int32_t loginValue);
    void controlClosed(int32_t loginValue);
    void logout(int32_t loginValue);
    // Whether `loginValue` belongs to a login that has not ended.
    bool isCurrent(int32_t loginValue);

    KV::Protocol::Device::LoginInfo loginInfo(int32_t loginValue) const;
    KV::Protocol::Device::AllConfigInfo config() const;
    int32_t setThermal(const KV::Protocol::Device::ThermalInfo& thermal);
    int32_t setAlarmPrompt(const KV::Protocol::Device::AlarmPromptInfo& prompt);
    // The threshold that sorts people into normal and abnormal.
    int highThreshold() const;
    // The unit code of temperature frames (1 Fahrenheit, 10 Celsius, 0 no
    // switch); false when frames carry no unit byte at all.
    bool unitCode(int& code) const;

    bool mirrored() const;
    void toggleMirror();

private:
    struct LoginEntry {
        int openControls = 0;
        std::chrono::steady_clock::time_point graceUntil;
    };

    const Options& m_options;
    const int32_t m_id;
    const std::string m_address;
    uint16_t m_port;
    const Crowd m_crowd;
    const std::chrono::steady_clock::time_point m_start;

    mutable std::mutex m_mutex; // guards everything below
    KV::Protocol::Device::AllConfigInfo m_config;
    std::map<int32_t, LoginEntry> m_logins;
    uint32_t m_nextLogin;
    bool m_mirror = false;
};

// The address `offset` places after `first` (127.0.0.2 + 1 is 127.0.0.3).
std::string nextAddress(const std::string& first, int offset);

} // namespace camsim
