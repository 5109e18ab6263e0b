// Little-endian encoding of the camera protocol's fields, with bounds checks
// on every read. Used on any thread; each object belongs to one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kvwire {

class ByteWriter {
public:
    void u8(uint8_t v) { m_bytes.push_back(v); }
    void u16(uint16_t v);
    void u32(uint32_t v);
    void i32(int32_t v) { u32(static_cast<uint32_t>(v)); }
    void i64(int64_t v);
    // A string as a 16-bit length and its bytes; longer strings are cut.
    void str(const std::string& s);
    void bytes(const uint8_t* p, size_t n) { m_bytes.insert(m_bytes.end(), p, p + n); }

    const std::vector<uint8_t>& data() const { return m_bytes; }
    std::vector<uint8_t>& data() { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
};

// Reads fields in order; once a read runs past the end, ok() turns false and
// every further read yields zero, so a caller checks ok() once at the end.
class ByteReader {
public:
    ByteReader(const uint8_t* p, size_t n)
        : m_p(p)
        , m_n(n)
    {
    }
    explicit ByteReader(const std::vector<uint8_t>& v)
        : ByteReader(v.data(), v.size())
    {
    }

    uint8_t u8();
    uint16_t u16();
    uint32_t u32();
    int32_t i32() { return static_cast<int32_t>(u32()); }
    int64_t i64();
    std::string str();
    // Everything not read yet.
    std::vector<uint8_t> rest();

    bool ok() const { return m_ok; }
    size_t remaining() const { return m_ok ? m_n - m_pos : 0; }

private:
    bool take(size_t n);

    const uint8_t* m_p;
    size_t m_n;
    size_t m_pos = 0;
    bool m_ok = true;
};

void putU16(uint8_t* p, uint16_t v);
void putU32(uint8_t* p, uint32_t v);
uint16_t getU16(const uint8_t* p);
uint32_t getU32(const uint8_t* p);

} // namespace kvwire
