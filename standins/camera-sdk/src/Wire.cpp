#include "Wire.h"

#include <cstring>

namespace kvwire {

void putU16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void putU32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint16_t getU16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t getU32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16)
        | (static_cast<uint32_t>(p[3]) << 24);
}

void ByteWriter::u16(uint16_t v)
{
    uint8_t b[2];
    putU16(b, v);
    bytes(b, 2);
}

void ByteWriter::u32(uint32_t v)
{
    uint8_t b[4];
    putU32(b, v);
    bytes(b, 4);
}

void ByteWriter::i64(int64_t v)
{
    const auto u = static_cast<uint64_t>(v);
    u32(static_cast<uint32_t>(u));
    u32(static_cast<uint32_t>(u >> 32));
}

void ByteWriter::str(const std::string& s)
{
    const size_t n = s.size() > 0xffff ? 0xffff : s.size();
    u16(static_cast<uint16_t>(n));
    bytes(reinterpret_cast<const uint8_t*>(s.data()), n);
}

bool ByteReader::take(size_t n)
{
    if (!m_ok || n > m_n - m_pos) {
        m_ok = false;
        return false;
    }
    return true;
}

uint8_t ByteReader::u8()
{
    if (!take(1))
        return 0;
    return m_p[m_pos++];
}

uint16_t ByteReader::u16()
{
    if (!take(2))
        return 0;
    const uint16_t v = getU16(m_p + m_pos);
    m_pos += 2;
    return v;
}

uint32_t ByteReader::u32()
{
    if (!take(4))
        return 0;
    const uint32_t v = getU32(m_p + m_pos);
    m_pos += 4;
    return v;
}

int64_t ByteReader::i64()
{
    const uint64_t lo = u32();
    const uint64_t hi = u32();
    return static_cast<int64_t>(lo | (hi << 32));
}

std::string ByteReader::str()
{
    const uint16_t n = u16();
    if (!take(n))
        return {};
    std::string s(reinterpret_cast<const char*>(m_p + m_pos), n);
    m_pos += n;
    return s;
}

std::vector<uint8_t> ByteReader::rest()
{
    if (!m_ok)
        return {};
    std::vector<uint8_t> v(m_p + m_pos, m_p + m_n);
    m_pos = m_n;
    return v;
}

} // namespace kvwire
