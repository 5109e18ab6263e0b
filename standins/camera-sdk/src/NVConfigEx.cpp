#include "KV_DeviceNVConfig.h"

#include "Protocol.h"

namespace KV {
namespace Protocol {
namespace Device {

struct NVConfigEx::Private {
    LoginInfo login;

    // One request on a connection of its own; the answer's payload in `answer`.
    ConfigResult exchange(
        uint16_t type, const std::vector<uint8_t>& payload, uint16_t answerType, std::vector<uint8_t>& answer) const;
};

NVConfigEx::NVConfigEx(const LoginInfo& info)
    : d(new Private)
{
    d->login = info;
}

NVConfigEx::~NVConfigEx() = default;

ConfigResult NVConfigEx::Private::exchange(
    uint16_t type, const std::vector<uint8_t>& payload, uint16_t answerType, std::vector<uint8_t>& answer) const
{
    const Info& dev = login.device;
    if (dev.address.empty() || dev.port <= 0 || dev.port > 65535)
        return Code::InvalidArgument;
    const int timeoutMs = kvproto::envTimeoutMs("KVSDK_CONFIG_TIMEOUT_MS", 5000);
    const int64_t deadline = kvnet::monotonicMs() + timeoutMs;
    auto left = [deadline] { return static_cast<int>(std::max<int64_t>(1, deadline - kvnet::monotonicMs())); };
    kvnet::Socket s;
    kvnet::IoResult r = s.connectTo(dev.address, static_cast<uint16_t>(dev.port), timeoutMs);
    if (r == kvnet::IoResult::Ok)
        r = kvproto::sendMessage(s, type, payload, left());
    kvproto::Message m;
    if (r == kvnet::IoResult::Ok)
        r = kvproto::readMessage(s, m, left());
    if (r == kvnet::IoResult::Timeout)
        return Code::Timeout;
    if (r == kvnet::IoResult::Error)
        return Code::ProtocolError;
    if (r != kvnet::IoResult::Ok)
        return Code::ConnectFailed;
    if (m.type != answerType)
        return Code::ProtocolError;
    kvwire::ByteReader rd(m.payload);
    const int32_t result = rd.i32();
    if (!rd.ok())
        return Code::ProtocolError;
    answer = rd.rest();
    return result;
}

ConfigResult NVConfigEx::GetAllConfig(AllConfigInfo& all)
{
    kvwire::ByteWriter w;
    w.i32(d->login.loginValue);
    std::vector<uint8_t> answer;
    const ConfigResult r = d->exchange(kvproto::ConfigGet, w.data(), kvproto::ConfigAnswer, answer);
    if (r != Code::Success)
        return r;
    AllConfigInfo read;
    kvwire::ByteReader rd(answer);
    if (!kvproto::readAllConfig(rd, read))
        return Code::ProtocolError;
    all = read;
    return Code::Success;
}

ConfigResult NVConfigEx::SetThermalInfoConfig(const ThermalInfo& thermal)
{
    kvwire::ByteWriter w;
    w.i32(d->login.loginValue);
    w.i32(thermal.highTemp);
    w.i32(thermal.lowTemp);
    w.u8(thermal.allowUnitSwitch);
    w.u8(thermal.tempUnit);
    std::vector<uint8_t> answer;
    return d->exchange(kvproto::ConfigSetThermal, w.data(), kvproto::ConfigSetAnswer, answer);
}

ConfigResult NVConfigEx::SetAlarmPromptInfoConfig(const AlarmPromptInfo& prompt)
{
    kvwire::ByteWriter w;
    w.i32(d->login.loginValue);
    w.u8(prompt.enable);
    w.i32(prompt.highTemp);
    w.i32(prompt.lowTemp);
    std::vector<uint8_t> answer;
    return d->exchange(kvproto::ConfigSetAlarmPrompt, w.data(), kvproto::ConfigSetAnswer, answer);
}

} // namespace Device
} // namespace Protocol
} // namespace KV
