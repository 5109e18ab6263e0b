#include "device/ThermalPalette.h"

#include <algorithm>
#include <cstring>

namespace ThermalPalette {

namespace {

const uint32_t kPalette[kEntries] = {
    0x000000,
    0x4706db,
    0x3d06db,
    0x3806db,
    0x2e06db,
    0x2406db,
    0x030ddd,
    0x0515e0,
    0x0823ea,
    0x062ceb,
    0x0636eb,
    0x0448f2,
    0x044df2,
    0x0958f9,
    0x0967f9,
    0x017af5,
    0x0089f3,
    0x00a0f3,
    0x00acf3,
    0x00b7f3,
    0x00c8f3,
    0x00d0f3,
    0x00d9f3,
    0x01ddeb,
    0x00e0e3,
    0x00e2da,
    0x00e2ca,
    0x01e2b5,
    0x01e2a0,
    0x14d67f,
    0x05d16a,
    0x05d15b,
    0x0dd347,
    0x01d62b,
    0x19d600,
    0x1ed100,
    0x0eca00,
    0x0fc000,
    0x12bc04,
    0x03c10d,
    0x15c802,
    0x0fd302,
    0x40e200,
    0x61e807,
    0x84e807,
    0x9deb06,
    0xbdee0e,
    0xe1ef01,
    0xf7eb03,
    0xffe204,
    0xffcd03,
    0xfca303,
    0xe46b00,
    0xe05704,
    0xe04500,
    0xe03300,
    0xdd2400,
    0xcd1401,
    0xc20e00,
    0xb60000,
    0xa40b0b,
};

constexpr int kColdest = -3;
constexpr int kHottest = 297;
constexpr int kStep = 5;

} // namespace

int entryFor(int value)
{
    if (value < kColdest)
        return 1;
    if (value >= kHottest)
        return kEntries - 1;
    return (value - kColdest) / kStep;
}

uint32_t color(int entry)
{
    return entry >= 0 && entry < kEntries ? kPalette[entry] : 0;
}

QByteArray toRgb(const char* pixels, int width, int height)
{
    // The colour of every 16-bit value, as the word whose bytes in memory are
    // R, G, B and a spare: one load per pixel, no range checks. A camera's
    // values cluster in a few hundred entries, which stay in the first-level
    // cache.
    struct Table {
        uint32_t rgbx[65536];
        Table()
        {
            for (int value = -32768; value <= 32767; ++value) {
                const uint32_t c = kPalette[entryFor(value)];
                const uint8_t bytes[4] = { uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c), 0 };
                std::memcpy(&rgbx[uint16_t(value)], bytes, 4);
            }
        }
    };
    static const Table table;

    const int count = width > 0 && height > 0 ? width * height : 0;
    QByteArray rgb(count * 3, Qt::Uninitialized);
    auto* out = reinterpret_cast<unsigned char*>(rgb.data());
    const auto* in = reinterpret_cast<const unsigned char*>(pixels);
    auto colour = [in, &t = table.rgbx](int i) { return &t[uint16_t(in[2 * i]) | uint16_t(in[2 * i + 1]) << 8]; };
    // Four bytes a pixel; the spare byte is overwritten by the next pixel.
    for (int i = 0; i + 1 < count; ++i)
        std::memcpy(out + 3 * i, colour(i), 4);
    if (count > 0)
        std::memcpy(out + 3 * (count - 1), colour(count - 1), 3);
    return rgb;
}

} // namespace ThermalPalette
