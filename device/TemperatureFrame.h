#pragma once
// The header of a temperature frame as the camera sends it: byte 1 the header
// length, bytes 2-3 the width, 4-5 the height, 8-9 the measured temperature in
// tenths of a degree (signed 16-bit little-endian), byte 10 the unit code when
// the header is longer than 10 bytes; the pixels follow the header. A plain
// value; any thread.

#include <QByteArray>

struct TemperatureFrame {
    static constexpr int kFixedHeader = 10;
    static constexpr int kUnitOffset = 10;

    // False when the frame is shorter than its header (or than the fixed
    // part); nothing of it may be used then.
    static bool readHeader(const QByteArray& raw, TemperatureFrame& out);

    int headerLength = 0;
    int unit = 0;
    int width = 0;
    int height = 0;
    int temperature = 0; // tenths of a degree
    // Whether width × height pixels of two bytes follow the header in full
    // and their RGB picture fits in a QByteArray.
    bool pixelsComplete = false;
};
