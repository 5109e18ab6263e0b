#pragma once
// Wire: byte layouts of the alarm service. The 256-byte login request and
// reply, and session frames (20-byte header, 21-byte info section with the
// masked MD5 digest, data; the body AES-encrypted once authenticated).
// Pure functions over caller-owned buffers, callable from any thread.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace fixlink {

constexpr std::size_t kLoginRecordSize = 256;
constexpr std::int32_t kLoginRequestKind = 378;
constexpr std::int32_t kLoginReplyKind = 478;
constexpr std::int32_t kLoginRefusedKind = -100;
constexpr std::int32_t kLoginGranted = 1001;
constexpr std::int32_t kLoginReasonDenied = 1018;

constexpr std::size_t kFrameBufferSize = 1024;
constexpr std::size_t kHeaderSize = 20;
constexpr std::size_t kInfoSize = 21;
constexpr int kBodyLimit = static_cast<int>(kFrameBufferSize - kHeaderSize); // 1004
constexpr int kFrameTooLong = -14;
constexpr int kFrameBad = -1;

enum Command : std::uint8_t {
    CommandAuth = 1,
    CommandKeyChange = 2,
    CommandHeartbeat = 3,
    CommandRequest = 10,
};

enum DataKind : std::uint8_t {
    DataBinary = 0,
    DataJson = 1,
};

using SessionKey = std::array<std::uint8_t, 16>;
using FrameBuffer = std::array<std::uint8_t, kFrameBufferSize>;

// Little-endian access at any offset.
std::uint16_t readU16(const std::uint8_t* p);
std::uint32_t readU32(const std::uint8_t* p);
void writeU16(std::uint8_t* p, std::uint16_t v);
void writeU32(std::uint8_t* p, std::uint32_t v);

void buildLoginRequest(
    std::uint8_t* record, std::int32_t requestValueA, std::uint8_t requestFlag, std::int32_t requestValueB);

struct LoginReply {
    std::int32_t kind = 0;
    std::int32_t result = 0;
    std::int32_t userIdOrReason = 0;
    std::array<std::uint8_t, 16> password {};
    SessionKey key {};
    std::uint16_t sessionPort = 0;
};
LoginReply parseLoginReply(const std::uint8_t* record);

struct FrameHeader {
    std::uint8_t command = 0;
    std::uint8_t extraSections = 0;
    std::uint8_t reserved = 0;
    std::uint32_t sequence = 0;
    std::uint16_t totalLength = 0;
    std::uint16_t plainLength = 0;
    std::uint16_t infoLength = 0;
    std::uint8_t encrypted = 0;
    std::uint32_t stamp = 0;
};
FrameHeader parseHeader(const std::uint8_t* p);
void writeHeader(std::uint8_t* p, const FrameHeader& header);

// Builds a frame at the start of `buffer` (cleared first). `encryption` 1
// encrypts the body under `key`; a body that would not fit in 1004 bytes
// once padded goes out plain. Returns the total length, or kFrameTooLong
// when the plain body does not fit in the buffer.
int buildFrame(FrameBuffer& buffer, std::uint8_t command, std::uint8_t dataKind, const std::uint8_t* data,
    std::size_t length, int encryption, const SessionKey& key, std::uint32_t sequence, std::uint32_t stamp);

struct Frame {
    FrameHeader header;
    std::uint8_t dataKind = 0;
    const std::uint8_t* data = nullptr; // inside the buffer it was read into
    std::size_t length = 0;
};

// Reads exactly n bytes into p, or fails.
using ReadExact = std::function<bool(std::uint8_t* p, std::size_t n)>;

// Reads one frame into `buffer` (cleared first): header, length check (41 to
// 1024 bytes in all, plain body no longer than the body), body, decryption
// when flagged, info section and digest check. Returns the data length, or
// a negative value for a frame that cannot be read.
int readFrame(const ReadExact& read, FrameBuffer& buffer, const SessionKey& key, Frame& frame);

} // namespace fixlink
