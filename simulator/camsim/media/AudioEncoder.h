// Encodes the camera's sound in the formats a camera offers: G.711 A-law,
// 16-bit PCM and IMA ADPCM at 8000 Hz, AAC-LC in ADTS at 32000 Hz, all mono.
// Generates the sound itself (a soft hum, a chime when someone is measured).
// Belongs to one thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace camsim {

enum class AudioCodec { None, G711, Aac, Pcm, Adpcm };

// The frame type the camera labels this audio with; -1 for None.
int32_t audioFrameType(AudioCodec codec);
bool parseAudioCodec(const std::string& text, AudioCodec& codec);

struct EncodedAudio {
    std::vector<uint8_t> data;
    int64_t firstSample = 0; // position of the frame's first sample in the stream
};

class AudioEncoder {
public:
    explicit AudioEncoder(AudioCodec codec);
    ~AudioEncoder();
    AudioEncoder(const AudioEncoder&) = delete;
    AudioEncoder& operator=(const AudioEncoder&) = delete;

    bool ok() const;
    int sampleRate() const;
    int samplesPerFrame() const;
    // Encodes the next frame of sound; `chime` adds the measuring tone.
    // Appends zero or more coded frames (AAC starts late by its priming).
    bool encodeNext(bool chime, std::vector<EncodedAudio>& out);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace camsim
