#include "AudioEncoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

#include <cmath>

namespace camsim {

namespace {

constexpr double Pi = 3.14159265358979323846;

// The seven-byte ADTS header of one AAC-LC frame, mono.
void appendAdts(std::vector<uint8_t>& out, int sampleRate, size_t payload)
{
    static const int rates[] = { 96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000 };
    int index = 5;
    for (int i = 0; i < 12; ++i)
        if (rates[i] == sampleRate)
            index = i;
    const size_t length = payload + 7;
    const int profile = 1; // AAC-LC, written as profile minus one
    const int channels = 1;
    out.push_back(0xff);
    out.push_back(0xf1); // MPEG-4, layer 0, no CRC
    out.push_back(static_cast<uint8_t>((profile << 6) | (index << 2) | (channels >> 2)));
    out.push_back(static_cast<uint8_t>(((channels & 3) << 6) | ((length >> 11) & 3)));
    out.push_back(static_cast<uint8_t>((length >> 3) & 0xff));
    out.push_back(static_cast<uint8_t>(((length & 7) << 5) | 0x1f));
    out.push_back(0xfc);
}

} // namespace

int32_t audioFrameType(AudioCodec codec)
{
    switch (codec) {
    case AudioCodec::Pcm:
        return 21;
    case AudioCodec::Adpcm:
        return 22;
    case AudioCodec::Aac:
        return 24;
    case AudioCodec::G711:
        return 26;
    default:
        return -1;
    }
}

bool parseAudioCodec(const std::string& text, AudioCodec& codec)
{
    if (text == "g711")
        codec = AudioCodec::G711;
    else if (text == "aac")
        codec = AudioCodec::Aac;
    else if (text == "pcm")
        codec = AudioCodec::Pcm;
    else if (text == "adpcm")
        codec = AudioCodec::Adpcm;
    else if (text == "none")
        codec = AudioCodec::None;
    else
        return false;
    return true;
}

struct AudioEncoder::Private {
    AudioCodec codec = AudioCodec::None;
    AVCodecContext* context = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    int rate = 8000;
    int perFrame = 320;
    int64_t position = 0;
    double phase = 0;
    std::vector<int16_t> samples;

    ~Private()
    {
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&context);
    }
};

AudioEncoder::AudioEncoder(AudioCodec codec)
    : d(new Private)
{
    d->codec = codec;
    if (codec == AudioCodec::None)
        return;
    if (codec == AudioCodec::Pcm) {
        d->samples.resize(d->perFrame);
        return;
    }
    AVCodecID id = AV_CODEC_ID_PCM_ALAW;
    if (codec == AudioCodec::Aac) {
        id = AV_CODEC_ID_AAC;
        d->rate = 32000;
    } else if (codec == AudioCodec::Adpcm) {
        id = AV_CODEC_ID_ADPCM_IMA_WAV;
    }
    const AVCodec* c = avcodec_find_encoder(id);
    if (!c)
        return;
    d->context = avcodec_alloc_context3(c);
    d->frame = av_frame_alloc();
    d->packet = av_packet_alloc();
    if (!d->context || !d->frame || !d->packet)
        return;
    AVCodecContext* ctx = d->context;
    ctx->sample_rate = d->rate;
    ctx->ch_layout = AV_CHANNEL_LAYOUT_MONO;
    ctx->sample_fmt = c->sample_fmts ? c->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    ctx->time_base = AVRational { 1, d->rate };
    if (codec == AudioCodec::Aac)
        ctx->bit_rate = 32000;
    if (codec == AudioCodec::Adpcm)
        av_opt_set_int(ctx->priv_data, "block_size", 256, 0);
    if (avcodec_open2(ctx, c, nullptr) < 0) {
        avcodec_free_context(&d->context);
        return;
    }
    if (ctx->frame_size > 0)
        d->perFrame = ctx->frame_size;
    d->frame->format = ctx->sample_fmt;
    d->frame->ch_layout = ctx->ch_layout;
    d->frame->sample_rate = d->rate;
    d->frame->nb_samples = d->perFrame;
    if (av_frame_get_buffer(d->frame, 0) < 0)
        avcodec_free_context(&d->context);
    d->samples.resize(d->perFrame);
}

AudioEncoder::~AudioEncoder() = default;

bool AudioEncoder::ok() const
{
    return d->codec == AudioCodec::Pcm || d->context != nullptr;
}

int AudioEncoder::sampleRate() const
{
    return d->rate;
}

int AudioEncoder::samplesPerFrame() const
{
    return d->perFrame;
}

bool AudioEncoder::encodeNext(bool chime, std::vector<EncodedAudio>& out)
{
    if (!ok())
        return false;
    // A quiet 110 Hz hum; the chime is a louder 880 Hz tone on top.
    for (int i = 0; i < d->perFrame; ++i) {
        const double t = static_cast<double>(d->position + i) / d->rate;
        double s = 0.05 * std::sin(2 * Pi * 110 * t);
        if (chime)
            s += 0.3 * std::sin(2 * Pi * 880 * t);
        d->samples[i] = static_cast<int16_t>(s * 32767);
    }
    const int64_t first = d->position;
    d->position += d->perFrame;
    if (d->codec == AudioCodec::Pcm) {
        EncodedAudio a;
        a.firstSample = first;
        a.data.resize(d->samples.size() * 2);
        for (size_t i = 0; i < d->samples.size(); ++i) {
            a.data[2 * i] = static_cast<uint8_t>(d->samples[i] & 0xff);
            a.data[2 * i + 1] = static_cast<uint8_t>((d->samples[i] >> 8) & 0xff);
        }
        out.push_back(std::move(a));
        return true;
    }
    if (av_frame_make_writable(d->frame) < 0)
        return false;
    if (d->context->sample_fmt == AV_SAMPLE_FMT_FLTP || d->context->sample_fmt == AV_SAMPLE_FMT_FLT) {
        auto* f = reinterpret_cast<float*>(d->frame->data[0]);
        for (int i = 0; i < d->perFrame; ++i)
            f[i] = d->samples[i] / 32768.0f;
    } else {
        auto* s = reinterpret_cast<int16_t*>(d->frame->data[0]);
        for (int i = 0; i < d->perFrame; ++i)
            s[i] = d->samples[i];
    }
    d->frame->pts = first;
    if (avcodec_send_frame(d->context, d->frame) < 0)
        return false;
    for (;;) {
        const int r = avcodec_receive_packet(d->context, d->packet);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
            break;
        if (r < 0)
            return false;
        EncodedAudio a;
        a.firstSample = d->packet->pts == AV_NOPTS_VALUE ? first : std::max<int64_t>(0, d->packet->pts);
        if (d->codec == AudioCodec::Aac)
            appendAdts(a.data, d->rate, static_cast<size_t>(d->packet->size));
        a.data.insert(a.data.end(), d->packet->data, d->packet->data + d->packet->size);
        out.push_back(std::move(a));
        av_packet_unref(d->packet);
    }
    return true;
}

} // namespace camsim
