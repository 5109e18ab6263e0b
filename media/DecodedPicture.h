#pragma once
// One decoded video picture as a decoding engine hands it out, and the
// packing of it into the tight planar YUV 4:2:0 payload the consumers read.
// The planes belong to the engine and stay valid until its next decode call.
// Used on the decoder thread that owns the engine.

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
    // Set when the engine decoded straight into a buffer laid out as the
    // payload (the planes above point into it): packing only hands it on.
    QByteArray payload;
};

// Fills `out` with height rows of width bytes of Y, then height/2 rows of
// width/2 bytes of U and of V. False (and `out` untouched) for a picture whose
// size or strides cannot describe its planes.
bool packYuv420(const DecodedPicture& picture, QByteArray& out);

// Bytes of the packed payload of a width × height picture; -1 when that size
// has no payload (not positive, or too large for a QByteArray).
qint64 packedYuv420Size(int width, int height);

// Plane addresses of payloads made by alignedPayload are multiples of this.
constexpr int kPayloadAlignment = 64;

// A payload of `size` bytes whose first byte sits at a multiple of
// kPayloadAlignment, with `slack` more bytes behind it that a decoder may
// touch. Its bytes are undefined. The caller may write it through
// constData() until it hands it on; QByteArray treats the unusual alignment
// like raw data, so a holder that writes to it gets a copy of its own. Null
// when out of memory.
QByteArray alignedPayload(int size, int slack);
