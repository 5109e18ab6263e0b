#pragma once
// The false-colour palette of the temperature picture and the conversion of
// raw temperature pixels into 24-bit RGB.

#include <QByteArray>

#include <cstdint>

namespace ThermalPalette {

constexpr int kEntries = 61;

// The palette entry a raw pixel value takes.
int entryFor(int value);
// RGB of one entry, 0xRRGGBB.
uint32_t color(int entry);
// Converts width × height signed 16-bit little-endian values at `pixels` into
// width × height × 3 bytes of RGB. The caller checks the sizes.
QByteArray toRgb(const char* pixels, int width, int height);

} // namespace ThermalPalette
