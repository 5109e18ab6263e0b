#include "PeerCodec.h"

#include <openssl/evp.h>

#include <cstring>

namespace alarmpeer::codec {

std::uint32_t le32(const std::uint8_t* p)
{
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

std::uint16_t le16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] + 256 * p[1]);
}

void putLe32(std::uint8_t* p, std::uint32_t v)
{
    p[0] = v & 0xff;
    p[1] = (v >> 8) & 0xff;
    p[2] = (v >> 16) & 0xff;
    p[3] = (v >> 24) & 0xff;
}

void putLe16(std::uint8_t* p, std::uint16_t v)
{
    p[0] = v & 0xff;
    p[1] = (v >> 8) & 0xff;
}

LoginRequest parseLoginRequest(const std::uint8_t* record)
{
    LoginRequest r;
    std::memcpy(r.raw.data(), record, kRecordSize);
    r.kind = static_cast<std::int32_t>(le32(record));
    r.requestValueA = static_cast<std::int32_t>(le32(record + 4));
    r.requestFlag = record[8];
    r.requestValueB = static_cast<std::int32_t>(le32(record + 9));
    return r;
}

std::vector<std::uint8_t> loginReply(const LoginReplyFields& f)
{
    std::vector<std::uint8_t> out(kRecordSize, 0);
    putLe32(&out[0], static_cast<std::uint32_t>(f.kind));
    putLe32(&out[4], static_cast<std::uint32_t>(f.result));
    putLe32(&out[8], static_cast<std::uint32_t>(f.userIdOrReason));
    std::memcpy(&out[12], f.password, 16);
    std::memcpy(&out[28], f.key.data(), 16);
    putLe16(&out[44], f.sessionPort);
    return out;
}

bool ecb(const Key& key, std::uint8_t* data, std::size_t length, bool encrypt)
{
    if (length % 16 != 0)
        return false;
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    if (!ctx)
        return false;
    int n = 0;
    int tail = 0;
    const bool ok = EVP_CipherInit_ex(ctx, EVP_aes_128_ecb(), nullptr, key.data(), nullptr, encrypt) == 1
        && EVP_CIPHER_CTX_set_padding(ctx, 0) == 1
        && (length == 0 || EVP_CipherUpdate(ctx, data, &n, data, static_cast<int>(length)) == 1)
        && EVP_CipherFinal_ex(ctx, data + n, &tail) == 1;
    EVP_CIPHER_CTX_free(ctx);
    return ok;
}

void digest(const std::uint8_t* data, std::size_t length, std::uint8_t* out)
{
    static const std::uint8_t nothing = 0;
    unsigned int size = 0;
    EVP_Digest(length ? data : &nothing, length, out, &size, EVP_md5(), nullptr);
}

std::vector<std::uint8_t> encode(const OutFrame& f)
{
    const std::size_t plain = kInfoBytes + f.data.size();
    if (kHeaderBytes + plain > kMaxFrame)
        return {};
    std::vector<std::uint8_t> body(plain, 0);
    body[0] = f.dataKind;
    putLe32(&body[1], static_cast<std::uint32_t>(f.data.size()));
    digest(f.data.data(), f.data.size(), &body[5]);
    if (f.spoilDigest)
        body[5] ^= 0x5a;
    std::uint8_t stampBytes[4];
    putLe32(stampBytes, f.stamp);
    for (int i = 0; i < 16; ++i)
        body[5 + i] ^= stampBytes[i % 4];
    if (!f.data.empty())
        std::memcpy(&body[kInfoBytes], f.data.data(), f.data.size());

    bool encrypted = false;
    if (f.encrypt) {
        const std::size_t padded = (plain + 15) / 16 * 16;
        if (padded <= kMaxFrame - kHeaderBytes) {
            body.resize(padded, 0);
            encrypted = ecb(f.key, body.data(), body.size(), true);
        }
    }

    std::vector<std::uint8_t> wire(kHeaderBytes, 0);
    wire[0] = f.command;
    putLe32(&wire[3], f.sequence);
    putLe16(&wire[7], static_cast<std::uint16_t>(kHeaderBytes + body.size()));
    putLe16(&wire[9], static_cast<std::uint16_t>(plain));
    putLe16(&wire[11], static_cast<std::uint16_t>(kInfoBytes));
    wire[13] = encrypted ? 1 : 0;
    putLe32(&wire[14], f.stamp);
    wire.insert(wire.end(), body.begin(), body.end());
    return wire;
}

namespace {

bool fillFromBody(ReceivedFrame& r, const std::vector<std::uint8_t>& body)
{
    if (r.plainLength < kInfoBytes || r.plainLength > body.size())
        return false;
    r.dataKind = body[0];
    r.infoDataLength = le32(&body[1]);
    std::uint8_t expected[16];
    std::memcpy(expected, &body[5], 16);
    std::uint8_t stampBytes[4];
    putLe32(stampBytes, r.stamp);
    for (int i = 0; i < 16; ++i)
        expected[i] ^= stampBytes[i % 4];
    r.data.assign(body.begin() + kInfoBytes, body.begin() + r.plainLength);
    std::uint8_t actual[16];
    digest(r.data.data(), r.data.size(), actual);
    return std::memcmp(expected, actual, 16) == 0;
}

} // namespace

ReceivedFrame decode(const std::vector<std::uint8_t>& wire, const std::vector<Key>& keys)
{
    ReceivedFrame r;
    r.wire = wire;
    r.at = std::chrono::steady_clock::now();
    if (wire.size() < kHeaderBytes)
        return r;
    r.command = wire[0];
    r.extraSections = wire[1];
    r.sequence = le32(&wire[3]);
    r.totalLength = le16(&wire[7]);
    r.plainLength = le16(&wire[9]);
    r.infoLength = le16(&wire[11]);
    r.encrypted = wire[13] == 1;
    r.stamp = le32(&wire[14]);
    const std::vector<std::uint8_t> body(wire.begin() + kHeaderBytes, wire.end());
    if (!r.encrypted) {
        r.digestOk = fillFromBody(r, body);
        return r;
    }
    for (std::size_t i = keys.size(); i-- > 0;) {
        std::vector<std::uint8_t> plain = body;
        if (!ecb(keys[i], plain.data(), plain.size(), false))
            break;
        if (fillFromBody(r, plain)) {
            r.digestOk = true;
            r.keyGeneration = static_cast<int>(i);
            return r;
        }
    }
    r.data.clear();
    return r;
}

} // namespace alarmpeer::codec
