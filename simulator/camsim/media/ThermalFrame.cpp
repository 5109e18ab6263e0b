#include "ThermalFrame.h"

#include <cstddef>

namespace camsim {

std::vector<uint8_t> buildThermalFrame(const ThermalPicture& picture, uint16_t counter, int unitCode, bool withUnitByte)
{
    const size_t headerSize = withUnitByte ? 16 : 10;
    std::vector<uint8_t> out(headerSize + picture.pixels.size() * 2, 0);
    auto put16 = [&out](size_t at, int v) {
        out[at] = static_cast<uint8_t>(v & 0xff);
        out[at + 1] = static_cast<uint8_t>((v >> 8) & 0xff);
    };
    out[0] = 'T';
    out[1] = static_cast<uint8_t>(headerSize);
    put16(2, picture.width);
    put16(4, picture.height);
    put16(6, counter);
    put16(8, picture.hottest);
    if (withUnitByte)
        out[10] = static_cast<uint8_t>(unitCode);
    size_t at = headerSize;
    for (int16_t v : picture.pixels) {
        put16(at, v);
        at += 2;
    }
    return out;
}

} // namespace camsim
