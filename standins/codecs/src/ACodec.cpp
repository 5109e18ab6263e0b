#include "ACodec.h"

#include "AvAudioDecoder.h"

#include <algorithm>
#include <memory>

namespace {

constexpr int kNarrowRate = 8000;
constexpr int kAacRate = 32000;
// Enough for the largest packet any of these decoders turns out from one frame.
constexpr int kOutCapacity = 1024 * 1024;

class AacDecoder final : public AACDecodec {
public:
    AacDecoder()
        : m_decoder(AV_CODEC_ID_AAC, kAacRate, 0, 0, 0)
    {
    }

    int Decode(unsigned char* out, int* outSize, const unsigned char* in, int inSize) override
    {
        if (outSize)
            *outSize = 0;
        if (!outSize)
            return -1;
        const int n = m_decoder.decode(in, inSize, out, kOutCapacity);
        if (n < 0)
            return -1;
        *outSize = n;
        return 0;
    }

private:
    acodec::AvAudioDecoder m_decoder;
};

class ImaAdpcmDecoder final : public ADPCMCodec {
public:
    int Decode(const unsigned char* in, int inSize, unsigned char* out, int blockSize) override
    {
        if (!in || inSize <= 0 || !out || blockSize <= 4)
            return 0;
        // The block length is a property of the stream; reopen when it changes.
        if (!m_decoder || m_blockSize != blockSize) {
            m_decoder = std::make_unique<acodec::AvAudioDecoder>(
                AV_CODEC_ID_ADPCM_IMA_WAV, kNarrowRate, kNarrowRate, 1, blockSize);
            m_blockSize = blockSize;
        }
        int written = 0;
        for (int offset = 0; offset < inSize; offset += blockSize) {
            const int chunk = std::min(blockSize, inSize - offset);
            if (chunk <= 4)
                break;
            const int n = m_decoder->decode(in + offset, chunk, out + written, kOutCapacity - written);
            if (n < 0)
                return 0;
            written += n;
        }
        return written;
    }

private:
    std::unique_ptr<acodec::AvAudioDecoder> m_decoder;
    int m_blockSize = 0;
};

} // namespace

AACDecodec::~AACDecodec() = default;
ADPCMCodec::~ADPCMCodec() = default;

AACDecodec* AACDecodecAllocate(int /*channels*/, int /*sampleRateIndex*/)
{
    return new AacDecoder();
}

void AACDecodecDeallocate(AACDecodec* decoder)
{
    delete decoder;
}

ADPCMCodec* ADPCMCodecAllocate()
{
    return new ImaAdpcmDecoder();
}

void ADPCMCodecDeallocate(ADPCMCodec* codec)
{
    delete codec;
}

int g711decode(const unsigned char* in, int law, int inSize, unsigned char* out)
{
    if (!in || inSize <= 0 || !out)
        return 0;
    // G.711 keeps no state between bytes, so one decoder per thread and law serves every caller.
    thread_local acodec::AvAudioDecoder alaw(AV_CODEC_ID_PCM_ALAW, kNarrowRate, kNarrowRate, 1, 0);
    thread_local acodec::AvAudioDecoder mulaw(AV_CODEC_ID_PCM_MULAW, kNarrowRate, kNarrowRate, 1, 0);
    acodec::AvAudioDecoder& decoder = law == 1 ? mulaw : alaw;
    const int capacity = inSize * 2;
    const int n = decoder.decode(in, inSize, out, capacity);
    return n < 0 ? 0 : n;
}
