#pragma once
// PeerCodec: the server's own reading and writing of login records and
// session frames, written apart from the client library so that a layout
// mistake on either side shows up as a failed exchange. Pure functions.

#include <alarmpeer/AlarmPeer.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace alarmpeer::codec {

constexpr std::size_t kRecordSize = 256;
constexpr std::size_t kHeaderBytes = 20;
constexpr std::size_t kInfoBytes = 21;
constexpr std::size_t kMaxFrame = 1024;

std::uint32_t le32(const std::uint8_t* p);
std::uint16_t le16(const std::uint8_t* p);
void putLe32(std::uint8_t* p, std::uint32_t v);
void putLe16(std::uint8_t* p, std::uint16_t v);

LoginRequest parseLoginRequest(const std::uint8_t* record);

struct LoginReplyFields {
    std::int32_t kind = 478;
    std::int32_t result = 1001;
    std::int32_t userIdOrReason = 0;
    std::uint8_t password[16] = {};
    Key key {};
    std::uint16_t sessionPort = 0;
};
std::vector<std::uint8_t> loginReply(const LoginReplyFields& fields);

bool ecb(const Key& key, std::uint8_t* data, std::size_t length, bool encrypt);
void digest(const std::uint8_t* data, std::size_t length, std::uint8_t* out);

struct OutFrame {
    std::uint8_t command = 0;
    std::uint8_t dataKind = 0;
    std::vector<std::uint8_t> data;
    bool encrypt = false;
    Key key {};
    std::uint32_t sequence = 0;
    std::uint32_t stamp = 0;
    bool spoilDigest = false;
};
// Empty when the frame would exceed 1024 bytes.
std::vector<std::uint8_t> encode(const OutFrame& frame);

// Decodes one whole frame (wire.size() == total length). Tries the keys
// from the newest to the oldest when the body is encrypted.
ReceivedFrame decode(const std::vector<std::uint8_t>& wire, const std::vector<Key>& keys);

} // namespace alarmpeer::codec
