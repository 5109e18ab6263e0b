#include "device/TemperatureFrame.h"

#include <climits>
#include <cstdint>

namespace {

int16_t readInt16(const QByteArray& data, int offset)
{
    const auto* p = reinterpret_cast<const unsigned char*>(data.constData()) + offset;
    return static_cast<int16_t>(uint16_t(p[0]) | uint16_t(p[1]) << 8);
}

} // namespace

bool TemperatureFrame::readHeader(const QByteArray& raw, TemperatureFrame& out)
{
    if (raw.size() < kFixedHeader)
        return false;
    const int headerLength = static_cast<unsigned char>(raw[1]);
    if (raw.size() < headerLength)
        return false;
    out = TemperatureFrame();
    out.headerLength = headerLength;
    out.unit = headerLength > kFixedHeader ? static_cast<unsigned char>(raw[kUnitOffset]) : 0;
    out.width = readInt16(raw, 2);
    out.height = readInt16(raw, 4);
    out.temperature = readInt16(raw, 8);
    // A header length below the fixed part still puts the pixels after it.
    if (out.width > 0 && out.height > 0) {
        const qint64 pixelBytes = qint64(out.width) * out.height * 2;
        out.pixelsComplete = raw.size() - headerLength >= pixelBytes && qint64(out.width) * out.height * 3 <= INT_MAX;
    }
    return true;
}
