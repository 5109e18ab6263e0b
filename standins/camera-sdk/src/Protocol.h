// The camera protocol shared by the SDK stand-ins and the simulator: message
// framing, message codes and the encoding of the records that travel. See
// PROTOCOL.md beside this folder for the full description.
#pragma once

#include "CamSearch.h"
#include "KV_DeviceTypes.h"
#include "Net.h"
#include "Wire.h"

#include <cstdint>
#include <vector>

namespace kvproto {

constexpr uint32_t Magic = 0x3153564b; // "KVS1" on the wire
constexpr size_t HeaderSize = 16;
constexpr uint32_t MaxPayload = 8u << 20;
// What a camera takes from a client in one request; frames go the other way.
constexpr uint32_t MaxRequestPayload = 64u << 10;
constexpr uint16_t DefaultCameraPort = 8800;
constexpr uint16_t DefaultSearchPort = 8801;
// The first four bytes of an alarm-service login, as a little-endian number.
constexpr uint32_t AlarmLoginKind = 378;

enum MessageType : uint16_t {
    LoginRequest = 0x0001,
    ResumeRequest = 0x0002,
    Heartbeat = 0x0003,
    Logout = 0x0004,
    ConfigGet = 0x0010,
    ConfigSetThermal = 0x0011,
    ConfigSetAlarmPrompt = 0x0012,
    PreviewOpen = 0x0020,
    PreviewSetAudio = 0x0023,
    PreviewMirror = 0x0024,
    SearchProbe = 0x0030,

    LoginAnswer = 0x8001,
    HeartbeatAnswer = 0x8003,
    ConfigAnswer = 0x8010,
    ConfigSetAnswer = 0x8011,
    PreviewAnswer = 0x8020,
    PreviewFrame = 0x8021,
    SearchAnswer = 0x8030,
    ErrorAnswer = 0x80ff,
};

struct Message {
    uint16_t type = 0;
    uint32_t sequence = 0;
    std::vector<uint8_t> payload;
};

std::vector<uint8_t> encodeHeader(uint16_t type, uint32_t length, uint32_t sequence);
// Checks magic and length; false for anything else.
bool decodeHeader(const uint8_t* header, uint16_t& type, uint32_t& length, uint32_t& sequence);

kvnet::IoResult sendMessage(kvnet::Socket& s, uint16_t type, const std::vector<uint8_t>& payload, int timeoutMs,
    const kvnet::CancelPipe* cancel = nullptr, uint32_t sequence = 0);
// Reads one message; Error when the header is not ours or announces more
// than `maxPayload` bytes (checked before anything is allocated or read).
kvnet::IoResult readMessage(kvnet::Socket& s, Message& m, int timeoutMs, const kvnet::CancelPipe* cancel = nullptr,
    uint32_t maxPayload = MaxPayload);
// Same, when the first `have` header bytes were read already.
kvnet::IoResult readMessageAfter(kvnet::Socket& s, const uint8_t* have, size_t haveSize, Message& m, int timeoutMs,
    const kvnet::CancelPipe* cancel = nullptr, uint32_t maxPayload = MaxPayload);

void writeLoginInfo(kvwire::ByteWriter& w, const KV::Protocol::Device::LoginInfo& info);
bool readLoginInfo(kvwire::ByteReader& r, KV::Protocol::Device::LoginInfo& info);
void writeAllConfig(kvwire::ByteWriter& w, const KV::Protocol::Device::AllConfigInfo& all);
bool readAllConfig(kvwire::ByteReader& r, KV::Protocol::Device::AllConfigInfo& all);

// One search answer datagram of `size` bytes: true when it answers the probe
// `nonce`, with every string of the record ending inside its field.
bool readSearchAnswer(const uint8_t* datagram, size_t size, uint32_t nonce, CamSearchRecord& record);
// The payload of a stream packet; the frame's bytes are the rest of it.
bool readFrame(kvwire::ByteReader& r, KV::Protocol::Device::FrameData& frame);

// Environment variable as a time limit in milliseconds, within [1, 600000].
int envTimeoutMs(const char* name, int fallback);

} // namespace kvproto
