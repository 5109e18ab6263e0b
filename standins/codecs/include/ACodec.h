#pragma once
// Audio decoders for the camera's sound formats (AAC, ADPCM, G.711).
// Every decoder turns one coded frame into signed 16-bit little-endian mono
// samples: 8000 Hz for ADPCM and G.711, 32000 Hz for AAC.
// An object is used by one thread at a time; different objects are independent.

#include <cstdint>

#if defined(_WIN32)
#define ACODEC_API __declspec(dllexport)
#else
#define ACODEC_API __attribute__((visibility("default")))
#endif

class ACODEC_API AACDecodec {
public:
    // Decodes one AAC frame (ADTS or raw) of `inSize` bytes into `out`, which
    // must hold at least 1 MiB. `*outSize` receives the number of bytes written.
    // Returns 0 on success, a negative value on failure.
    virtual int Decode(unsigned char* out, int* outSize, const unsigned char* in, int inSize) = 0;
    virtual ~AACDecodec();
};

class ACODEC_API ADPCMCodec {
public:
    // Decodes one IMA ADPCM frame of `inSize` bytes into `out`. `blockSize` is the
    // block length the camera codes with (256); a frame longer than one block is
    // decoded block by block. Returns the number of bytes written, 0 on failure.
    virtual int Decode(const unsigned char* in, int inSize, unsigned char* out, int blockSize) = 0;
    virtual ~ADPCMCodec();
};

// channels 2 and sampleRateIndex 1 are what the camera's streams need; the
// decoder adapts to whatever the stream carries and always delivers mono.
ACODEC_API AACDecodec* AACDecodecAllocate(int channels, int sampleRateIndex);
ACODEC_API void AACDecodecDeallocate(AACDecodec* decoder);

ACODEC_API ADPCMCodec* ADPCMCodecAllocate();
ACODEC_API void ADPCMCodecDeallocate(ADPCMCodec* codec);

// Expands `inSize` G.711 bytes into 16-bit samples in `out` (2 × inSize bytes).
// `law` 0 selects A-law, 1 mu-law. Returns the number of bytes written, 0 when
// there is nothing to decode.
ACODEC_API int g711decode(const unsigned char* in, int law, int inSize, unsigned char* out);
