// Fuzz target: a temperature frame as the camera sends it, header and pixels,
// through the header reader and the false-colour conversion the preview uses.

#include "device/TemperatureFrame.h"
#include "device/ThermalPalette.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > (1u << 20))
        return 0;
    // An exact-size copy, so reading past the frame is caught.
    const QByteArray raw(reinterpret_cast<const char*>(data), static_cast<int>(size));
    TemperatureFrame header;
    if (!TemperatureFrame::readHeader(raw, header))
        return 0;
    if (header.headerLength > raw.size() || header.unit < 0 || header.unit > 255)
        std::abort();
    if (!header.pixelsComplete)
        return 0;
    if (header.width <= 0 || header.height <= 0)
        std::abort();
    const QByteArray rgb = ThermalPalette::toRgb(raw.constData() + header.headerLength, header.width, header.height);
    if (rgb.size() != header.width * header.height * 3)
        std::abort();
    return 0;
}
