#pragma once
// One decoded video picture as a decoding engine hands it out, and the
// packing of it into the tight planar YUV 4:2:0 payload the consumers read.
// The planes belong to the engine and stay valid until its next decode call.

#include <QByteArray>

#include <cstdint>

struct DecodedPicture {
    const uint8_t* y = nullptr;
    const uint8_t* u = nullptr;
    const uint8_t* v = nullptr;
    int strideY = 0;
    int strideU = 0;
    int strideV = 0;
    int width = 0;
    int height = 0;
};

// Fills `out` with height rows of width bytes of Y, then height/2 rows of
// width/2 bytes of U and of V. False (and `out` untouched) for a picture whose
// size or strides cannot describe its planes.
bool packYuv420(const DecodedPicture& picture, QByteArray& out);
