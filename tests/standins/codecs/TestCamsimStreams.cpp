// The codec stand-ins on exactly what the camera simulator's encoders produce
// for its streams: sound of the right length at the right rate, and H.265
// pictures of the full camera size with strides that describe their planes.

#include "ACodec.h"
#include "mi_decoder.h"

#include "AudioEncoder.h"
#include "Crowd.h"
#include "Scene.h"
#include "VideoEncoder.h"

#include "TestEncoders.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr int kScratch = 1024 * 1024;

struct SoundRun {
    int frames = 0;
    int samplesIn = 0;
    int bytesOut = 0;
};

// Encodes about one second of the simulator's sound and decodes every frame.
template <typename Decode> SoundRun decodeSimulatorSound(camsim::AudioCodec codec, Decode decode)
{
    SoundRun run;
    camsim::AudioEncoder encoder(codec);
    EXPECT_TRUE(encoder.ok());
    if (!encoder.ok())
        return run;
    std::vector<uint8_t> out(kScratch);
    const int frames = encoder.sampleRate() / encoder.samplesPerFrame();
    for (int i = 0; i < frames; ++i) {
        std::vector<camsim::EncodedAudio> coded;
        EXPECT_TRUE(encoder.encodeNext(i == frames / 2, coded));
        run.samplesIn += encoder.samplesPerFrame();
        for (const auto& c : coded) {
            const int n = decode(c.data, out.data());
            EXPECT_GT(n, 0);
            run.bytesOut += n;
            ++run.frames;
        }
    }
    return run;
}

} // namespace

TEST(SimulatorStreams, G711SoundIs8kHzMono)
{
    const SoundRun run = decodeSimulatorSound(camsim::AudioCodec::G711,
        [](const std::vector<uint8_t>& in, uint8_t* out) { return g711decode(in.data(), 0, int(in.size()), out); });
    ASSERT_GT(run.frames, 0);
    EXPECT_EQ(run.bytesOut, run.samplesIn * 2);
}

TEST(SimulatorStreams, AdpcmSoundIs8kHzMono)
{
    ADPCMCodec* codec = ADPCMCodecAllocate();
    const SoundRun run
        = decodeSimulatorSound(camsim::AudioCodec::Adpcm, [codec](const std::vector<uint8_t>& in, uint8_t* out) {
              return codec->Decode(in.data(), int(in.size()), out, 256);
          });
    ADPCMCodecDeallocate(codec);
    ASSERT_GT(run.frames, 0);
    EXPECT_EQ(run.bytesOut, run.samplesIn * 2);
}

TEST(SimulatorStreams, AacSoundIs32kHzMono)
{
    AACDecodec* codec = AACDecodecAllocate(2, 1);
    const SoundRun run
        = decodeSimulatorSound(camsim::AudioCodec::Aac, [codec](const std::vector<uint8_t>& in, uint8_t* out) {
              int n = 0;
              return codec->Decode(out, &n, in.data(), int(in.size())) < 0 ? -1 : n;
          });
    AACDecodecDeallocate(codec);
    ASSERT_GT(run.frames, 0);
    // 1024 samples per coded frame at 32 kHz; the encoder's priming delays
    // the first frames, so fewer may come out than went in.
    EXPECT_EQ(run.bytesOut, run.frames * 1024 * 2);
    EXPECT_LE(run.frames * 1024, run.samplesIn + 2048);
    EXPECT_GE(run.frames * 1024, run.samplesIn - 3072);
}

TEST(SimulatorStreams, H265PicturesHaveTheCameraSizeAndUsableStrides)
{
    const int width = 1920;
    const int height = 1080;
    camsim::Crowd crowd(12, 0.2, 1);
    camsim::Scene scene(crowd, width, height, 160, 120);
    camsim::VideoEncoder encoder(camsim::VideoCodec::H265, width, height, 25, 25);
    ASSERT_TRUE(encoder.ok()) << encoder.error();

    mi_h265decoder_handle handle = nullptr;
    const mi_h265decoder_config config { 0, 0, 1 };
    ASSERT_EQ(mi_h265decoder_create(&handle, &config), 0);
    int pictures = 0;
    for (int i = 0; i < 3; ++i) {
        const camsim::YuvPicture& source = scene.renderVideo(i * 40, i, false);
        std::vector<camsim::EncodedPicture> coded;
        ASSERT_TRUE(encoder.encode(source, coded));
        for (const auto& c : coded) {
            EXPECT_EQ(c.key, i == 0);
            const mi_h265decoder_input in { c.data.data(), int32_t(c.data.size()), 0 };
            mi_h265decoder_output out {};
            out.status = 4;
            mi_h265decoder_decodeframe(handle, &in, &out);
            ASSERT_EQ(out.status, 0);
            ASSERT_EQ(out.width, width);
            ASSERT_EQ(out.height, height);
            ASSERT_GE(out.strideY, width);
            ASSERT_GE(out.strideU, width / 2);
            ASSERT_GE(out.strideV, width / 2);
            double diff = 0;
            for (int r = 0; r < height; r += 8)
                diff += testenc::meanDifference(
                    out.planeY + r * out.strideY, source.y.data() + size_t(r) * width, width);
            EXPECT_LT(diff / (height / 8), 10.0);
            const int lastU = out.planeU[(height / 2 - 1) * out.strideU + width / 2 - 1];
            EXPECT_NEAR(lastU, source.u[size_t(height / 2 - 1) * (width / 2) + width / 2 - 1], 12);
            ++pictures;
        }
    }
    EXPECT_EQ(pictures, 3);
    mi_h265decoder_delete(handle);
}
