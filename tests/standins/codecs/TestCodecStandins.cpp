// The codec stand-ins decode what the camera codes: sound into 16-bit mono of
// the right length at the right rate, H.265 into planes with usable strides.

#include "ACodec.h"
#include "mi_decoder.h"

#include "TestEncoders.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

constexpr int kScratch = 1024 * 1024;

// Largest sample magnitude of 16-bit little-endian samples.
int peak(const std::vector<uint8_t>& pcm)
{
    int p = 0;
    for (size_t i = 0; i + 1 < pcm.size(); i += 2)
        p = std::max(p, std::abs(int(int16_t(pcm[i] | pcm[i + 1] << 8))));
    return p;
}

// Zero crossings per second of 16-bit samples at `rate`: twice the tone's frequency.
double crossingsPerSecond(const std::vector<uint8_t>& pcm, int rate)
{
    int crossings = 0;
    int16_t prev = 0;
    const size_t n = pcm.size() / 2;
    for (size_t i = 0; i < n; ++i) {
        const auto s = int16_t(pcm[2 * i] | pcm[2 * i + 1] << 8);
        if (i > 0 && ((prev < 0) != (s < 0)))
            ++crossings;
        prev = s;
    }
    return n ? crossings * double(rate) / double(n) : 0;
}

} // namespace

TEST(AudioStandins, G711ALawExpandsEachByteToOneSampleAt8kHz)
{
    std::vector<testenc::Packet> packets;
    int samplesIn = 0;
    ASSERT_TRUE(testenc::encodeAudio(testenc::Audio::G711ALaw, 8000, 1.0, packets, samplesIn));
    std::vector<uint8_t> out(kScratch);
    std::vector<uint8_t> pcm;
    for (const auto& p : packets) {
        const int n = g711decode(p.data.data(), 0, int(p.data.size()), out.data());
        ASSERT_EQ(n, int(p.data.size()) * 2);
        pcm.insert(pcm.end(), out.begin(), out.begin() + n);
    }
    EXPECT_EQ(int(pcm.size()), samplesIn * 2);
    // A-law read as mu-law (or the other way round) gives a very different level.
    EXPECT_NEAR(peak(pcm), 16384, 1200);
    EXPECT_NEAR(crossingsPerSecond(pcm, 8000), 880, 20);
}

TEST(AudioStandins, G711RejectsEmptyInput)
{
    std::vector<uint8_t> out(16);
    const uint8_t one = 0xd5;
    EXPECT_EQ(g711decode(&one, 0, 0, out.data()), 0);
    EXPECT_EQ(g711decode(nullptr, 0, 10, out.data()), 0);
}

TEST(AudioStandins, AdpcmBlocksOf256BytesGive505SamplesEach)
{
    std::vector<testenc::Packet> packets;
    int samplesIn = 0;
    ASSERT_TRUE(testenc::encodeAudio(testenc::Audio::ImaAdpcm, 8000, 1.0, packets, samplesIn));
    ADPCMCodec* codec = ADPCMCodecAllocate();
    ASSERT_NE(codec, nullptr);
    std::vector<uint8_t> out(kScratch);
    std::vector<uint8_t> pcm;
    for (const auto& p : packets) {
        ASSERT_EQ(p.data.size(), 256u);
        const int n = codec->Decode(p.data.data(), int(p.data.size()), out.data(), 256);
        ASSERT_EQ(n, 505 * 2);
        pcm.insert(pcm.end(), out.begin(), out.begin() + n);
    }
    // Two blocks in one frame are decoded one after the other.
    std::vector<uint8_t> two(packets[0].data);
    two.insert(two.end(), packets[1].data.begin(), packets[1].data.end());
    EXPECT_EQ(codec->Decode(two.data(), int(two.size()), out.data(), 256), 2 * 505 * 2);
    EXPECT_EQ(codec->Decode(two.data(), 3, out.data(), 256), 0);
    EXPECT_EQ(codec->Decode(two.data(), 256 + 100, out.data(), 256), 505 * 2 + 193 * 2);
    ADPCMCodecDeallocate(codec);

    EXPECT_GE(int(pcm.size()) / 2, samplesIn - 505);
    EXPECT_NEAR(peak(pcm), 16384, 1500);
    EXPECT_NEAR(crossingsPerSecond(pcm, 8000), 880, 20);
}

TEST(AudioStandins, AacFramesDecodeTo1024SamplesAt32kHz)
{
    std::vector<testenc::Packet> packets;
    int samplesIn = 0;
    ASSERT_TRUE(testenc::encodeAudio(testenc::Audio::Aac, 32000, 1.0, packets, samplesIn));
    AACDecodec* codec = AACDecodecAllocate(2, 1);
    ASSERT_NE(codec, nullptr);
    std::vector<uint8_t> out(kScratch);
    std::vector<uint8_t> pcm;
    for (const auto& p : packets) {
        int n = -1;
        ASSERT_EQ(codec->Decode(out.data(), &n, p.data.data(), int(p.data.size())), 0);
        ASSERT_EQ(n, 1024 * 2);
        pcm.insert(pcm.end(), out.begin(), out.begin() + n);
    }
    const uint8_t garbage[] = { 1, 2, 3, 4, 5, 6, 7, 8, 9 };
    int n = 123;
    EXPECT_LT(codec->Decode(out.data(), &n, garbage, int(sizeof garbage)), 0);
    EXPECT_EQ(n, 0);
    AACDecodecDeallocate(codec);

    EXPECT_EQ(pcm.size(), packets.size() * 2048);
    EXPECT_NEAR(crossingsPerSecond(pcm, 32000), 880, 30);
}

TEST(H265Standin, PicturesComeWithTheirSizeAndStrides)
{
    const int width = 200;
    const int height = 118; // not a multiple of the coding block size
    std::vector<testenc::Packet> packets;
    ASSERT_TRUE(testenc::encodeVideo(testenc::Video::H265, width, height, 10, 5, packets));
    ASSERT_FALSE(packets.empty());
    EXPECT_TRUE(packets.front().key);

    mi_h265decoder_handle handle = nullptr;
    const mi_h265decoder_config config { 0, 0, 1 };
    ASSERT_EQ(mi_h265decoder_create(&handle, &config), 0);
    int pictures = 0;
    for (size_t i = 0; i < packets.size(); ++i) {
        const mi_h265decoder_input in { packets[i].data.data(), int32_t(packets[i].data.size()), 0 };
        mi_h265decoder_output out {};
        out.status = 4;
        mi_h265decoder_decodeframe(handle, &in, &out);
        // One picture per packet, from the call that decodes it.
        ASSERT_EQ(out.status, 0) << "packet " << i;
        EXPECT_EQ(out.width, width);
        EXPECT_EQ(out.height, height);
        ASSERT_GE(out.strideY, width);
        ASSERT_GE(out.strideU, width / 2);
        ASSERT_GE(out.strideV, width / 2);
        ASSERT_NE(out.planeU, nullptr);
        ASSERT_NE(out.planeV, nullptr);
        const testenc::Picture src = testenc::pattern(width, height, int(i));
        double diff = 0;
        for (int r = 0; r < height; ++r)
            diff += testenc::meanDifference(out.planeY + r * out.strideY, src.y.data() + r * width, width);
        EXPECT_LT(diff / height, 12.0) << "packet " << i;
        EXPECT_NEAR(out.planeU[(height / 2 - 1) * out.strideU + width / 2 - 1], 128, 6);
        ++pictures;
    }
    EXPECT_EQ(pictures, 10);

    const uint8_t garbage[] = { 0, 0, 0, 1, 0x40, 0x01, 0xff, 0xff, 0x13, 0x37 };
    const mi_h265decoder_input bad { garbage, int32_t(sizeof garbage), 0 };
    mi_h265decoder_output out {};
    out.status = 4;
    mi_h265decoder_decodeframe(handle, &bad, &out);
    EXPECT_NE(out.status, 0);
    const mi_h265decoder_input empty { nullptr, 0, 0 };
    out.status = 4;
    mi_h265decoder_decodeframe(handle, &empty, &out);
    EXPECT_NE(out.status, 0);
    EXPECT_EQ(mi_h265decoder_delete(handle), 0);
}

TEST(AudioStandins, ArbitraryPayloadsStayInsideTheOutputBuffer)
{
    // The largest payloads the decoder threads pass on, filled with noise; the
    // output buffer is exactly as large as theirs.
    std::vector<uint8_t> noise(256 * 1024);
    uint32_t state = 12345;
    for (auto& b : noise) {
        state = state * 1103515245u + 12345u;
        b = uint8_t(state >> 16);
    }
    std::vector<uint8_t> out(kScratch);

    ADPCMCodec* adpcm = ADPCMCodecAllocate();
    ASSERT_NE(adpcm, nullptr);
    const int full = adpcm->Decode(noise.data(), int(noise.size()), out.data(), 256);
    EXPECT_GE(full, 0);
    EXPECT_LE(full, 1024 * 505 * 2);
    const int partial = adpcm->Decode(noise.data(), 256 + 100, out.data(), 256);
    EXPECT_GE(partial, 0);
    EXPECT_LT(partial, 2 * 505 * 2);
    ADPCMCodecDeallocate(adpcm);

    AACDecodec* aac = AACDecodecAllocate(2, 1);
    ASSERT_NE(aac, nullptr);
    for (const int size : { 7, 1000, 65536, int(noise.size()) }) {
        int n = -1;
        aac->Decode(out.data(), &n, noise.data(), size);
        EXPECT_GE(n, 0);
        EXPECT_LE(n, kScratch);
    }
    AACDecodecDeallocate(aac);

    EXPECT_EQ(g711decode(noise.data(), 0, 512 * 1024 / 2, out.data()), 512 * 1024);
}
