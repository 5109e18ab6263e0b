#include "Wire.h"

#include "Cipher.h"

#include <cstring>

namespace fixlink {

namespace {

constexpr std::size_t kDigestSize = 16;

// The digest travels as four little-endian words, each XORed with the
// frame's stamp; applying the mask twice restores it.
void maskDigest(std::uint8_t* digest, std::uint32_t stamp)
{
    for (std::size_t i = 0; i < kDigestSize; i += 4)
        writeU32(digest + i, readU32(digest + i) ^ stamp);
}

} // namespace

std::uint16_t readU16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t readU32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8)
        | (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void writeU16(std::uint8_t* p, std::uint16_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void writeU32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void buildLoginRequest(
    std::uint8_t* record, std::int32_t requestValueA, std::uint8_t requestFlag, std::int32_t requestValueB)
{
    std::memset(record, 0, kLoginRecordSize);
    writeU32(record, static_cast<std::uint32_t>(kLoginRequestKind));
    writeU32(record + 4, static_cast<std::uint32_t>(requestValueA));
    record[8] = requestFlag;
    writeU32(record + 9, static_cast<std::uint32_t>(requestValueB));
}

LoginReply parseLoginReply(const std::uint8_t* record)
{
    LoginReply reply;
    reply.kind = static_cast<std::int32_t>(readU32(record));
    reply.result = static_cast<std::int32_t>(readU32(record + 4));
    reply.userIdOrReason = static_cast<std::int32_t>(readU32(record + 8));
    std::memcpy(reply.password.data(), record + 12, reply.password.size());
    std::memcpy(reply.key.data(), record + 28, reply.key.size());
    reply.sessionPort = readU16(record + 44);
    return reply;
}

FrameHeader parseHeader(const std::uint8_t* p)
{
    FrameHeader h;
    h.command = p[0];
    h.extraSections = p[1];
    h.reserved = p[2];
    h.sequence = readU32(p + 3);
    h.totalLength = readU16(p + 7);
    h.plainLength = readU16(p + 9);
    h.infoLength = readU16(p + 11);
    h.encrypted = p[13];
    h.stamp = readU32(p + 14);
    return h;
}

void writeHeader(std::uint8_t* p, const FrameHeader& h)
{
    p[0] = h.command;
    p[1] = h.extraSections;
    p[2] = h.reserved;
    writeU32(p + 3, h.sequence);
    writeU16(p + 7, h.totalLength);
    writeU16(p + 9, h.plainLength);
    writeU16(p + 11, h.infoLength);
    p[13] = h.encrypted;
    writeU32(p + 14, h.stamp);
    p[18] = 0;
    p[19] = 0;
}

int buildFrame(FrameBuffer& buffer, std::uint8_t command, std::uint8_t dataKind, const std::uint8_t* data,
    std::size_t length, int encryption, const SessionKey& key, std::uint32_t sequence, std::uint32_t stamp)
{
    buffer.fill(0);
    if (length > buffer.size() - kHeaderSize - kInfoSize || (length > 0 && !data))
        return kFrameTooLong;

    std::uint8_t* body = buffer.data() + kHeaderSize;
    body[0] = dataKind;
    writeU32(body + 1, static_cast<std::uint32_t>(length));
    md5(data, length, body + 5);
    maskDigest(body + 5, stamp);
    if (length > 0)
        std::memcpy(body + kInfoSize, data, length);

    const int plainLength = static_cast<int>(kInfoSize + length);
    int bodyLength = plainLength;
    std::uint8_t encrypted = 0;
    if (encryption == 1) {
        const int sealed = aesEcb(body, plainLength, kBodyLimit, key.data(), kCipherEncrypt);
        // Too long once padded: the padding is refused before any byte
        // changes, and the frame goes out plain.
        if (sealed > 0) {
            bodyLength = sealed;
            encrypted = 1;
        }
    }

    FrameHeader header;
    header.command = command;
    header.sequence = sequence;
    header.totalLength = static_cast<std::uint16_t>(bodyLength + static_cast<int>(kHeaderSize));
    header.plainLength = static_cast<std::uint16_t>(plainLength);
    header.infoLength = static_cast<std::uint16_t>(kInfoSize);
    header.encrypted = encrypted;
    header.stamp = stamp;
    writeHeader(buffer.data(), header);
    return header.totalLength;
}

int readFrame(const ReadExact& read, FrameBuffer& buffer, const SessionKey& key, Frame& frame)
{
    buffer.fill(0);
    frame = Frame();
    if (!read(buffer.data(), kHeaderSize))
        return kFrameBad;
    frame.header = parseHeader(buffer.data());
    const FrameHeader& h = frame.header;
    if (h.totalLength < kHeaderSize + kInfoSize || h.totalLength > buffer.size())
        return kFrameBad;
    const std::size_t bodyLength = h.totalLength - kHeaderSize;
    if (h.plainLength > bodyLength)
        return kFrameBad;
    std::uint8_t* body = buffer.data() + kHeaderSize;
    if (!read(body, bodyLength))
        return kFrameBad;

    // A body that cannot be decrypted stays as it is; the digest decides.
    if (h.encrypted == 1)
        aesEcb(body, static_cast<int>(bodyLength), kBodyLimit, key.data(), 0);

    if (kInfoSize > h.plainLength)
        return kFrameTooLong;
    frame.dataKind = body[0];
    frame.data = body + kInfoSize;
    frame.length = h.plainLength - kInfoSize;

    std::uint8_t expected[kDigestSize];
    std::memcpy(expected, body + 5, kDigestSize);
    maskDigest(expected, h.stamp);
    std::uint8_t actual[kDigestSize];
    md5(frame.data, frame.length, actual);
    if (std::memcmp(expected, actual, kDigestSize) != 0)
        return kFrameBad;
    return static_cast<int>(frame.length);
}

} // namespace fixlink
