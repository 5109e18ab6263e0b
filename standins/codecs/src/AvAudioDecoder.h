#pragma once
// One libavcodec audio decoder plus a resampler that turns whatever the
// decoder produces into signed 16-bit mono at a fixed rate.

#include <cstdint>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswresample/swresample.h>
}

namespace acodec {

class AvAudioDecoder {
public:
    AvAudioDecoder(AVCodecID codecId, int outRate, int inRate, int inChannels, int blockAlign);
    ~AvAudioDecoder();
    AvAudioDecoder(const AvAudioDecoder&) = delete;
    AvAudioDecoder& operator=(const AvAudioDecoder&) = delete;

    bool isOpen() const { return m_context != nullptr; }

    // Decodes one packet; appends at most `capacity` bytes of samples to `out`.
    // Returns the number of bytes written, or -1 when the packet was rejected.
    int decode(const uint8_t* in, int inSize, uint8_t* out, int capacity);

private:
    int convert(uint8_t* out, int capacity);
    bool ensureResampler();

    int m_outRate;
    AVCodecContext* m_context = nullptr;
    AVPacket* m_packet = nullptr;
    AVFrame* m_frame = nullptr;
    SwrContext* m_resampler = nullptr;
    int m_resamplerInRate = 0;
    int m_resamplerInFormat = -1;
    int m_resamplerInChannels = 0;
};

} // namespace acodec
