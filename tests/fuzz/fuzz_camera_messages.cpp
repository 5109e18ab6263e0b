// Fuzz target: the camera's messages as the SDK stand-ins read them. The
// first byte picks the kind: a search answer datagram, a login reply, a
// configuration block, a stream packet or a stream-open answer; the rest is
// the datagram or the message (16-byte header, then the payload).

#include "Protocol.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace KV::Protocol::Device;

namespace {

constexpr uint32_t kNonce = 0x1234abcd;

// The header as a receiver checks it; the payload is what follows.
bool message(const std::vector<uint8_t>& bytes, uint16_t& type, std::vector<uint8_t>& payload)
{
    if (bytes.size() < kvproto::HeaderSize)
        return false;
    uint32_t length = 0;
    uint32_t sequence = 0;
    if (!kvproto::decodeHeader(bytes.data(), type, length, sequence))
        return false;
    if (length > kvproto::MaxPayload)
        std::abort();
    if (bytes.size() - kvproto::HeaderSize < length)
        return false;
    payload.assign(bytes.begin() + kvproto::HeaderSize, bytes.begin() + kvproto::HeaderSize + length);
    return true;
}

void checkString(const std::string& s)
{
    if (s.size() > 0xffff)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    // An exact-size copy, so reading past the message is caught.
    const std::vector<uint8_t> bytes(data + 1, data + size);
    switch (data[0] % 5) {
    case 0: {
        CamSearchRecord record;
        if (kvproto::readSearchAnswer(bytes.data(), bytes.size(), kNonce, record)) {
            if (std::strlen(record.deviceName) >= sizeof record.deviceName
                || std::strlen(record.ipAddress) >= sizeof record.ipAddress
                || std::strlen(record.password) >= sizeof record.password)
                std::abort();
        }
        return 0;
    }
    default:
        break;
    }
    uint16_t type = 0;
    std::vector<uint8_t> payload;
    if (!message(bytes, type, payload))
        return 0;
    kvwire::ByteReader rd(payload);
    switch (data[0] % 5) {
    case 1: {
        // A login reply: the result, then the login information on success.
        const int32_t result = rd.i32();
        LoginInfo info;
        if (rd.ok() && result == Code::Success && kvproto::readLoginInfo(rd, info)) {
            checkString(info.device.deviceName);
            checkString(info.device.softwareVersion);
        }
        break;
    }
    case 2: {
        const int32_t result = rd.i32();
        AllConfigInfo all;
        if (rd.ok() && result == Code::Success && kvproto::readAllConfig(rd, all)) {
            checkString(all.macAddress);
            checkString(all.kernelVersion);
        }
        break;
    }
    case 3: {
        FrameData frame;
        if (kvproto::readFrame(rd, frame) && frame.data.size() + 16 != payload.size())
            std::abort();
        break;
    }
    default: {
        rd.i32();
        rd.i32();
        rd.i32();
        if (rd.ok() && payload.size() < 12)
            std::abort();
        break;
    }
    }
    return 0;
}
