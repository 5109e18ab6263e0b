#include "Protocol.h"

#include <cstdlib>
#include <cstring>

using namespace KV::Protocol::Device;

namespace kvproto {

std::vector<uint8_t> encodeHeader(uint16_t type, uint32_t length, uint32_t sequence)
{
    std::vector<uint8_t> h(HeaderSize, 0);
    kvwire::putU32(h.data(), Magic);
    kvwire::putU16(h.data() + 4, type);
    kvwire::putU32(h.data() + 8, length);
    kvwire::putU32(h.data() + 12, sequence);
    return h;
}

bool decodeHeader(const uint8_t* header, uint16_t& type, uint32_t& length, uint32_t& sequence)
{
    if (kvwire::getU32(header) != Magic)
        return false;
    type = kvwire::getU16(header + 4);
    length = kvwire::getU32(header + 8);
    sequence = kvwire::getU32(header + 12);
    return length <= MaxPayload;
}

kvnet::IoResult sendMessage(kvnet::Socket& s, uint16_t type, const std::vector<uint8_t>& payload, int timeoutMs,
    const kvnet::CancelPipe* cancel, uint32_t sequence)
{
    std::vector<uint8_t> buf = encodeHeader(type, static_cast<uint32_t>(payload.size()), sequence);
    buf.insert(buf.end(), payload.begin(), payload.end());
    return s.sendAll(buf.data(), buf.size(), timeoutMs, cancel);
}

kvnet::IoResult readMessageAfter(kvnet::Socket& s, const uint8_t* have, size_t haveSize, Message& m, int timeoutMs,
    const kvnet::CancelPipe* cancel, uint32_t maxPayload)
{
    if (haveSize > HeaderSize)
        return kvnet::IoResult::Error;
    const int64_t deadline = kvnet::monotonicMs() + timeoutMs;
    uint8_t header[HeaderSize];
    for (size_t i = 0; i < haveSize; ++i)
        header[i] = have[i];
    kvnet::IoResult r = kvnet::IoResult::Ok;
    if (haveSize < HeaderSize)
        r = s.recvAll(header + haveSize, HeaderSize - haveSize, timeoutMs, cancel);
    if (r != kvnet::IoResult::Ok)
        return r;
    uint32_t length = 0;
    if (!decodeHeader(header, m.type, length, m.sequence) || length > maxPayload)
        return kvnet::IoResult::Error;
    m.payload.resize(length);
    if (length == 0)
        return kvnet::IoResult::Ok;
    const int64_t left = deadline - kvnet::monotonicMs();
    return s.recvAll(m.payload.data(), length, left > 0 ? static_cast<int>(left) : 1, cancel);
}

kvnet::IoResult readMessage(
    kvnet::Socket& s, Message& m, int timeoutMs, const kvnet::CancelPipe* cancel, uint32_t maxPayload)
{
    return readMessageAfter(s, nullptr, 0, m, timeoutMs, cancel, maxPayload);
}

void writeLoginInfo(kvwire::ByteWriter& w, const LoginInfo& info)
{
    w.i32(info.device.id);
    w.i32(info.device.port);
    w.str(info.device.deviceName);
    w.str(info.device.serialNumber);
    w.str(info.device.macAddress);
    w.str(info.device.model);
    w.str(info.device.hardwareVersion);
    w.str(info.device.softwareVersion);
    w.u8(info.deviceType);
    w.i32(info.channelCount);
    w.i32(info.videoWidth);
    w.i32(info.videoHeight);
    w.i32(info.frameRate);
    w.u8(info.hasAudio);
    w.u8(info.canMirror);
    w.i32(info.thermalWidth);
    w.i32(info.thermalHeight);
    w.u8(info.hasTemperature);
    w.u8(info.hasThermalPicture);
    w.i32(info.loginValue);
}

// The address and port stay as the caller connected; the camera tells the rest.
bool readLoginInfo(kvwire::ByteReader& r, LoginInfo& info)
{
    info.device.id = r.i32();
    r.i32();
    info.device.deviceName = r.str();
    info.device.serialNumber = r.str();
    info.device.macAddress = r.str();
    info.device.model = r.str();
    info.device.hardwareVersion = r.str();
    info.device.softwareVersion = r.str();
    info.deviceType = r.u8();
    info.channelCount = r.i32();
    info.videoWidth = r.i32();
    info.videoHeight = r.i32();
    info.frameRate = r.i32();
    info.hasAudio = r.u8();
    info.canMirror = r.u8();
    info.thermalWidth = r.i32();
    info.thermalHeight = r.i32();
    info.hasTemperature = r.u8();
    info.hasThermalPicture = r.u8();
    info.loginValue = r.i32();
    return r.ok();
}

void writeAllConfig(kvwire::ByteWriter& w, const AllConfigInfo& all)
{
    w.u8(all.alarmPrompt.enable);
    w.i32(all.alarmPrompt.highTemp);
    w.i32(all.alarmPrompt.lowTemp);
    w.str(all.deviceName);
    w.str(all.serialNumber);
    w.str(all.model);
    w.str(all.appVersion);
    w.str(all.hardwareVersion);
    w.str(all.kernelVersion);
    w.str(all.macAddress);
    w.i32(all.timeZone);
    w.u8(all.hasThermal);
    w.i32(all.thermal.highTemp);
    w.i32(all.thermal.lowTemp);
    w.u8(all.thermal.allowUnitSwitch);
    w.u8(all.thermal.tempUnit);
}

bool readAllConfig(kvwire::ByteReader& r, AllConfigInfo& all)
{
    all.alarmPrompt.enable = r.u8();
    all.alarmPrompt.highTemp = r.i32();
    all.alarmPrompt.lowTemp = r.i32();
    all.deviceName = r.str();
    all.serialNumber = r.str();
    all.model = r.str();
    all.appVersion = r.str();
    all.hardwareVersion = r.str();
    all.kernelVersion = r.str();
    all.macAddress = r.str();
    all.timeZone = r.i32();
    all.hasThermal = r.u8();
    all.thermal.highTemp = r.i32();
    all.thermal.lowTemp = r.i32();
    all.thermal.allowUnitSwitch = r.u8();
    all.thermal.tempUnit = r.u8();
    return r.ok();
}

bool readSearchAnswer(const uint8_t* datagram, size_t size, uint32_t nonce, CamSearchRecord& record)
{
    if (size < HeaderSize + 4 + sizeof(CamSearchRecord))
        return false;
    uint16_t type = 0;
    uint32_t length = 0;
    uint32_t seq = 0;
    if (!decodeHeader(datagram, type, length, seq) || type != SearchAnswer || length != 4 + sizeof(CamSearchRecord)
        || kvwire::getU32(datagram + HeaderSize) != nonce)
        return false;
    std::memcpy(&record, datagram + HeaderSize + 4, sizeof record);
    // Every string ends inside its field, whatever the camera sent.
    record.deviceName[sizeof record.deviceName - 1] = '\0';
    record.ipAddress[sizeof record.ipAddress - 1] = '\0';
    record.macAddress[sizeof record.macAddress - 1] = '\0';
    record.serialNumber[sizeof record.serialNumber - 1] = '\0';
    record.userName[sizeof record.userName - 1] = '\0';
    record.password[sizeof record.password - 1] = '\0';
    return true;
}

bool readFrame(kvwire::ByteReader& r, FrameData& frame)
{
    frame.frameType = r.i32();
    frame.frameRate = r.i32();
    frame.timestamp = r.i64();
    frame.data = r.rest();
    return r.ok();
}

int envTimeoutMs(const char* name, int fallback)
{
    const char* v = std::getenv(name);
    if (!v || !*v)
        return fallback;
    char* end = nullptr;
    const long n = std::strtol(v, &end, 10);
    if (*end != '\0' || n < 1 || n > 600000)
        return fallback;
    return static_cast<int>(n);
}

} // namespace kvproto
