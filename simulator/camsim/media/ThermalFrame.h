// Builds the payload of a temperature frame: a header, then the picture's
// values as signed 16-bit little-endian numbers, row by row.
//   byte 0      format mark 'T'
//   byte 1      header length (16 with the unit byte, 10 without)
//   bytes 2-3   width, bytes 4-5 height (signed 16-bit)
//   bytes 6-7   frame counter (unsigned 16-bit, wraps)
//   bytes 8-9   temperature at the warmest spot, tenths of a degree Celsius
//   byte 10     unit code (1 Fahrenheit, 10 Celsius, 0 no unit switch)
//   bytes 11-15 zero
#pragma once

#include "Scene.h"

#include <cstdint>
#include <vector>

namespace camsim {

std::vector<uint8_t> buildThermalFrame(
    const ThermalPicture& picture, uint16_t counter, int unitCode, bool withUnitByte);

} // namespace camsim
