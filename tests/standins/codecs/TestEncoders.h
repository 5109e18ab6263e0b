#pragma once
// Encodes synthetic pictures and sound the way the camera does (one packet
// per picture, no B-frames, key frames at a fixed interval; mono sound), so
// that the decoders can be tested without a camera.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace testenc {

enum class Video { H264, H265 };
enum class Audio { G711ALaw, ImaAdpcm, Aac };

struct Packet {
    bool key = false;
    std::vector<uint8_t> data;
};

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> y; // width × height
};

// The picture number `index` of the moving test pattern (luma only).
Picture pattern(int width, int height, int index);

// Half: chroma at half width and height, as cameras send it; Full: chroma at
// full resolution, which a live-view decoder does not take.
enum class Chroma { Half, Full };

// False when the encoder is not available.
bool encodeVideo(Video codec, int width, int height, int count, int keyInterval, std::vector<Packet>& out,
    Chroma chroma = Chroma::Half);

// Encodes `seconds` of a 440 Hz tone at `rate`; one packet per coded frame
// (AAC packets carry their ADTS header, ADPCM blocks are 256 bytes).
bool encodeAudio(Audio codec, int rate, double seconds, std::vector<Packet>& out, int& samplesIn);

// Mean absolute difference of two luma planes of the same size.
double meanDifference(const uint8_t* a, const uint8_t* b, size_t size);

} // namespace testenc
