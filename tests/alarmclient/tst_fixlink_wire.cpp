// Cipher, digest, padding and the byte layouts of login records and frames.

#include "Cipher.h"
#include "Wire.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace fixlink;

namespace {

std::vector<std::uint8_t> fromHex(const std::string& hex)
{
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

std::string toHex(const std::uint8_t* p, std::size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (std::size_t i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

SessionKey testKey()
{
    SessionKey key {};
    for (std::size_t i = 0; i < key.size(); ++i)
        key[i] = static_cast<std::uint8_t>(0xa0 + i);
    return key;
}

// Reads a frame back from a byte vector as if it came off the socket.
struct MemoryStream {
    std::vector<std::uint8_t> bytes;
    std::size_t pos = 0;
    ReadExact reader()
    {
        return [this](std::uint8_t* p, std::size_t n) {
            if (bytes.size() - pos < n)
                return false;
            std::memcpy(p, bytes.data() + pos, n);
            pos += n;
            return true;
        };
    }
};

std::vector<std::uint8_t> frameBytes(const FrameBuffer& buffer, int total)
{
    return std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + total);
}

} // namespace

TEST(Cipher, KnownAnswers)
{
    // FIPS-197 appendix C.1.
    const auto key = fromHex("000102030405060708090a0b0c0d0e0f");
    const auto plain = fromHex("00112233445566778899aabbccddeeff");
    std::uint8_t out[16];
    ASSERT_TRUE(aesBlock(key.data(), plain.data(), out, true));
    EXPECT_EQ(toHex(out, 16), "69c4e0d86a7b0430d8cdb78070b4c55a");
    std::uint8_t back[16];
    ASSERT_TRUE(aesBlock(key.data(), out, back, false));
    EXPECT_EQ(toHex(back, 16), "00112233445566778899aabbccddeeff");

    // ECB: two equal blocks encrypt to two equal blocks, through the session routine.
    std::uint8_t two[32];
    std::memcpy(two, plain.data(), 16);
    std::memcpy(two + 16, plain.data(), 16);
    EXPECT_EQ(aesEcb(two, 32, 32, key.data(), kCipherEncrypt), 32);
    EXPECT_EQ(toHex(two, 16), "69c4e0d86a7b0430d8cdb78070b4c55a");
    EXPECT_EQ(toHex(two + 16, 16), "69c4e0d86a7b0430d8cdb78070b4c55a");
    EXPECT_EQ(aesEcb(two, 32, 32, key.data(), 0), 32);
    EXPECT_EQ(toHex(two, 32), toHex(plain.data(), 16) + toHex(plain.data(), 16));

    // RFC 1321 test suite.
    const std::pair<std::string, std::string> digests[] = {
        { "", "d41d8cd98f00b204e9800998ecf8427e" },
        { "abc", "900150983cd24fb0d6963f7d28e17f72" },
        { "message digest", "f96b697d7cb7938d525a2f31aaf161d0" },
        { "12345678901234567890123456789012345678901234567890123456789012345678901234567890",
            "57edf4a22be3c955ac49da2e2107b67a" },
    };
    for (const auto& [text, expected] : digests) {
        std::uint8_t digest[16];
        md5(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), digest);
        EXPECT_EQ(toHex(digest, 16), expected) << text;
    }
}

TEST(Cipher, PaddingAndLimits)
{
    std::uint8_t buffer[64] = {};
    EXPECT_EQ(padToBlock(buffer, 0, 64), 16); // an empty input still gets a block
    EXPECT_EQ(padToBlock(buffer, 16, 64), 16);
    EXPECT_EQ(padToBlock(buffer, 17, 64), 32);
    EXPECT_EQ(padToBlock(buffer, 33, 48), 48);
    EXPECT_EQ(padToBlock(buffer, 33, 47), -1);
    EXPECT_EQ(padToBlock(buffer, -1, 64), -1);

    std::memset(buffer, 0x77, sizeof buffer);
    EXPECT_EQ(padToBlock(buffer, 5, 64), 16);
    for (int i = 5; i < 16; ++i)
        EXPECT_EQ(buffer[i], 0) << "padding is zero bytes";
    EXPECT_EQ(buffer[16], 0x77) << "nothing written past the padded length";

    const SessionKey key = testKey();
    EXPECT_EQ(aesEcb(nullptr, 16, 64, key.data(), kCipherEncrypt), -1);
    EXPECT_EQ(aesEcb(buffer, 65, 64, key.data(), kCipherEncrypt), -1);
    EXPECT_EQ(aesEcb(buffer, -2, 64, key.data(), 0), -1);
    EXPECT_EQ(aesEcb(buffer, 20, 64, key.data(), 0), -1) << "decrypting needs whole blocks";
    EXPECT_EQ(aesEcb(buffer, 21, 64, key.data(), kCipherEncrypt), 32);
}

TEST(LoginRecords, RequestAndReplyLayout)
{
    std::uint8_t record[kLoginRecordSize];
    std::memset(record, 0xee, sizeof record);
    buildLoginRequest(record, 0x11223344, 0x5a, static_cast<std::int32_t>(0xa1b2c3d4));
    EXPECT_EQ(toHex(record, 13),
        "7a010000"
        "44332211"
        "5a"
        "d4c3b2a1");
    for (std::size_t i = 13; i < kLoginRecordSize; ++i)
        ASSERT_EQ(record[i], 0) << "offset " << i;

    std::uint8_t reply[kLoginRecordSize] = {};
    writeU32(reply, 478);
    writeU32(reply + 4, 1001);
    writeU32(reply + 8, 77);
    std::memcpy(reply + 12, "secret", 6);
    for (int i = 0; i < 16; ++i)
        reply[28 + i] = static_cast<std::uint8_t>(i + 1);
    writeU16(reply + 44, 40123);
    reply[46] = 0xff;
    const LoginReply parsed = parseLoginReply(reply);
    EXPECT_EQ(parsed.kind, 478);
    EXPECT_EQ(parsed.result, 1001);
    EXPECT_EQ(parsed.userIdOrReason, 77);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(parsed.password.data())), "secret");
    EXPECT_EQ(parsed.key[0], 1);
    EXPECT_EQ(parsed.key[15], 16);
    EXPECT_EQ(parsed.sessionPort, 40123);

    writeU32(reply, static_cast<std::uint32_t>(-100));
    EXPECT_EQ(parseLoginReply(reply).kind, -100);
}

TEST(Frames, SizesPlainAndEncrypted)
{
    FrameBuffer buffer {};
    const SessionKey key = testKey();
    const std::uint8_t auth[20] = { 1, 2, 3 };
    const std::uint8_t data[1000] = {};

    struct Case {
        const char* what;
        std::size_t dataLength;
        int encryption;
        int total;
        int encryptedFlag;
    };
    const Case cases[] = {
        { "heartbeat before authentication", 0, 0, 41, 0 },
        { "heartbeat after authentication", 0, 1, 52, 1 },
        { "plain body of 32 bytes needs no padding", 11, 1, 52, 1 },
        { "plain body of 33 bytes pads to 48", 12, 1, 68, 1 },
        { "plain body of 992 bytes is the longest encrypted", 971, 1, 1012, 1 },
        { "plain body of 993 bytes goes out plain", 972, 1, 1013, 0 },
        { "plain body of 1004 bytes goes out plain", 983, 1, 1024, 0 },
        { "encryption flag other than 0 or 1 means plain", 0, 2, 41, 0 },
    };
    for (const Case& c : cases) {
        const int total = buildFrame(buffer, CommandHeartbeat, DataBinary, data, c.dataLength, c.encryption, key, 1, 0);
        EXPECT_EQ(total, c.total) << c.what;
        const FrameHeader h = parseHeader(buffer.data());
        EXPECT_EQ(h.totalLength, c.total) << c.what;
        EXPECT_EQ(h.plainLength, 21 + c.dataLength) << c.what;
        EXPECT_EQ(h.infoLength, 21) << c.what;
        EXPECT_EQ(h.encrypted, c.encryptedFlag) << c.what;
    }

    EXPECT_EQ(buildFrame(buffer, CommandAuth, DataBinary, auth, sizeof auth, 0, key, 1, 0), 61);
    EXPECT_EQ(buildFrame(buffer, CommandRequest, DataJson, data, 984, 1, key, 1, 0), kFrameTooLong);
    EXPECT_EQ(buildFrame(buffer, CommandRequest, DataJson, data, 984, 0, key, 1, 0), kFrameTooLong);
}

TEST(Frames, HeaderFieldsAndMaskedDigest)
{
    FrameBuffer buffer {};
    const SessionKey key = testKey();
    const std::string json = "{\"a\":1}";
    const std::uint32_t stamp = 0x01020304;
    const int total = buildFrame(buffer, CommandRequest, DataJson, reinterpret_cast<const std::uint8_t*>(json.data()),
        json.size(), 0, key, 0x0a0b0c0d, stamp);
    ASSERT_EQ(total, 20 + 21 + static_cast<int>(json.size()));
    // command, extra sections, reserved, sequence, total, plain, info, encrypted, stamp, reserved
    EXPECT_EQ(toHex(buffer.data(), 20),
        "0a0000"
        "0d0c0b0a"
        "3000"
        "1c00"
        "1500"
        "00"
        "04030201"
        "0000");
    EXPECT_EQ(buffer[20], DataJson);
    EXPECT_EQ(readU32(&buffer[21]), json.size());
    std::uint8_t digest[16];
    md5(reinterpret_cast<const std::uint8_t*>(json.data()), json.size(), digest);
    for (int word = 0; word < 4; ++word)
        EXPECT_EQ(readU32(&buffer[25 + 4 * word]), readU32(digest + 4 * word) ^ stamp) << "word " << word;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&buffer[41]), json.size()), json);

    // The heartbeat's digest is that of the empty string, masked the same way.
    buildFrame(buffer, CommandHeartbeat, DataBinary, nullptr, 0, 0, key, 1, stamp);
    md5(nullptr, 0, digest);
    EXPECT_EQ(readU32(&buffer[25]), readU32(digest) ^ stamp);
}

TEST(Frames, ReadBackAcceptsWhatIsBuilt)
{
    FrameBuffer out {};
    FrameBuffer in {};
    const SessionKey key = testKey();
    std::vector<std::uint8_t> data(300);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i * 7);

    for (int encryption : { 0, 1 }) {
        const int total = buildFrame(out, 42, DataJson, data.data(), data.size(), encryption, key, 9, 123456);
        MemoryStream stream { frameBytes(out, total) };
        Frame frame;
        ASSERT_EQ(readFrame(stream.reader(), in, key, frame), static_cast<int>(data.size()));
        EXPECT_EQ(frame.header.command, 42);
        EXPECT_EQ(frame.header.sequence, 9u);
        EXPECT_EQ(frame.dataKind, DataJson);
        EXPECT_EQ(std::vector<std::uint8_t>(frame.data, frame.data + frame.length), data);
    }
}

TEST(Frames, ReadRefusesBrokenFrames)
{
    FrameBuffer out {};
    FrameBuffer in {};
    const SessionKey key = testKey();
    const std::uint8_t data[8] = { 1, 2, 3, 4, 5, 6, 7, 8 };
    const int total = buildFrame(out, 20, DataBinary, data, sizeof data, 0, key, 1, 99);
    const std::vector<std::uint8_t> good = frameBytes(out, total);

    auto read = [&](std::vector<std::uint8_t> bytes) {
        MemoryStream stream { std::move(bytes) };
        Frame frame;
        return readFrame(stream.reader(), in, key, frame);
    };
    ASSERT_EQ(read(good), 8);

    auto withU16 = [&](std::size_t offset, std::uint16_t value) {
        std::vector<std::uint8_t> b = good;
        writeU16(&b[offset], value);
        return b;
    };
    EXPECT_LT(read(withU16(7, 40)), 0) << "total length below header plus info";
    EXPECT_LT(read(withU16(7, 19)), 0);
    EXPECT_LT(read(withU16(7, 1025)), 0) << "total length beyond the buffer";
    EXPECT_LT(read(withU16(7, 65535)), 0);
    EXPECT_LT(read(withU16(9, 30)), 0) << "plain body longer than the body sent";
    EXPECT_LT(read(withU16(9, 65535)), 0);
    EXPECT_LT(read(withU16(9, 20)), 0) << "info section past the plain body";

    std::vector<std::uint8_t> spoiled = good;
    spoiled[30] ^= 1;
    EXPECT_LT(read(spoiled), 0) << "digest mismatch";
    spoiled = good;
    spoiled.back() ^= 1;
    EXPECT_LT(read(spoiled), 0) << "data changed in transit";
    spoiled = good;
    spoiled[14] ^= 1;
    EXPECT_LT(read(spoiled), 0) << "stamp does not match the mask";

    EXPECT_LT(read(std::vector<std::uint8_t>(good.begin(), good.begin() + 19)), 0) << "short header";
    EXPECT_LT(read(std::vector<std::uint8_t>(good.begin(), good.end() - 1)), 0) << "short body";

    // Ignored header bytes really are ignored.
    std::vector<std::uint8_t> noisy = good;
    noisy[1] = 3;
    noisy[2] = 9;
    noisy[18] = 0xff;
    EXPECT_EQ(read(noisy), 8);
}

TEST(Frames, EncryptedFlagOnAnOddBodyIsReadAsItStands)
{
    FrameBuffer out {};
    FrameBuffer in {};
    const SessionKey key = testKey();
    const std::uint8_t data[19] = { 'x' };
    const int total = buildFrame(out, 20, DataBinary, data, sizeof data, 0, key, 1, 5);
    ASSERT_EQ(total, 60); // body of 40 bytes: not whole blocks
    std::vector<std::uint8_t> bytes = frameBytes(out, total);
    bytes[13] = 1;
    MemoryStream stream { bytes };
    Frame frame;
    EXPECT_EQ(readFrame(stream.reader(), in, key, frame), 19) << "left undecrypted, the digest still matches";
}

TEST(Frames, ReadsFramesMadeElsewhere)
{
    // Frames written by a separate tool from the byte layout alone.
    const char* source = std::getenv("ARDENIX_SOURCE_DIR");
    const std::string folder = std::string(source ? source : ".") + "/tests/data/alarmclient/frames/";
    const std::pair<const char*, int> files[] = {
        { "heartbeat.bin", 1 },
        { "auth-answer.bin", 1 },
        { "register-answer.bin", 1 },
        { "raw-block.bin", 1 },
        { "two-frames.bin", 2 },
    };
    const SessionKey key = testKey();
    for (const auto& [name, count] : files) {
        std::ifstream in(folder + name, std::ios::binary);
        MemoryStream stream { std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {}) };
        ASSERT_FALSE(stream.bytes.empty()) << name;
        FrameBuffer buffer {};
        for (int i = 0; i < count; ++i) {
            Frame frame;
            EXPECT_GE(readFrame(stream.reader(), buffer, key, frame), 0) << name << " frame " << i;
        }
        EXPECT_EQ(stream.pos, stream.bytes.size()) << name;
    }
}
