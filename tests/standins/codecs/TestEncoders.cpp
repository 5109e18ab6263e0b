#include "TestEncoders.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

namespace testenc {

namespace {

struct Encoder {
    AVCodecContext* ctx = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    ~Encoder()
    {
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&ctx);
    }
};

void drain(Encoder& e, std::vector<Packet>& out, bool adts, int rate)
{
    while (avcodec_receive_packet(e.ctx, e.packet) == 0) {
        Packet p;
        p.key = (e.packet->flags & AV_PKT_FLAG_KEY) != 0;
        if (adts) {
            // Seven-byte ADTS header, AAC-LC, mono.
            static const int rates[]
                = { 96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000 };
            int index = 5;
            for (int i = 0; i < 12; ++i)
                if (rates[i] == rate)
                    index = i;
            const int length = e.packet->size + 7;
            p.data = { 0xff, 0xf1, uint8_t((1 << 6) | (index << 2)), uint8_t((1 << 6) | ((length >> 11) & 3)),
                uint8_t((length >> 3) & 0xff), uint8_t(((length & 7) << 5) | 0x1f), 0xfc };
        }
        const size_t header = p.data.size();
        p.data.resize(header + size_t(e.packet->size));
        std::memcpy(p.data.data() + header, e.packet->data, size_t(e.packet->size));
        out.push_back(std::move(p));
        av_packet_unref(e.packet);
    }
}

} // namespace

Picture pattern(int width, int height, int index)
{
    Picture p;
    p.width = width;
    p.height = height;
    p.y.resize(size_t(width) * height);
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < width; ++c)
            p.y[size_t(r) * width + c] = uint8_t(((c + 2 * index) / 8 + r / 8) % 2 ? 200 : 40);
    return p;
}

bool encodeVideo(
    Video codec, int width, int height, int count, int keyInterval, std::vector<Packet>& out, Chroma chroma)
{
    const AVPixelFormat format = chroma == Chroma::Full ? AV_PIX_FMT_YUV444P : AV_PIX_FMT_YUV420P;
    const int chromaWidth = chroma == Chroma::Full ? width : (width + 1) / 2;
    const int chromaHeight = chroma == Chroma::Full ? height : (height + 1) / 2;
    const AVCodec* c = avcodec_find_encoder_by_name(codec == Video::H264 ? "libx264" : "libx265");
    if (!c)
        return false;
    Encoder e;
    e.ctx = avcodec_alloc_context3(c);
    e.ctx->width = width;
    e.ctx->height = height;
    e.ctx->pix_fmt = format;
    e.ctx->time_base = AVRational { 1, 25 };
    e.ctx->framerate = AVRational { 25, 1 };
    e.ctx->gop_size = keyInterval;
    e.ctx->max_b_frames = 0;
    e.ctx->thread_count = 1;
    av_opt_set(e.ctx->priv_data, "preset", "ultrafast", 0);
    av_opt_set(e.ctx->priv_data, "tune", "zerolatency", 0);
    if (codec == Video::H265)
        av_opt_set(e.ctx->priv_data, "x265-params", "log-level=none:bframes=0", 0);
    if (avcodec_open2(e.ctx, c, nullptr) < 0)
        return false;
    e.frame = av_frame_alloc();
    e.packet = av_packet_alloc();
    e.frame->format = format;
    e.frame->width = width;
    e.frame->height = height;
    if (av_frame_get_buffer(e.frame, 0) < 0)
        return false;
    for (int i = 0; i < count; ++i) {
        av_frame_make_writable(e.frame);
        const Picture p = pattern(width, height, i);
        for (int r = 0; r < height; ++r)
            std::memcpy(e.frame->data[0] + r * e.frame->linesize[0], p.y.data() + size_t(r) * width, size_t(width));
        for (int r = 0; r < chromaHeight; ++r) {
            std::memset(e.frame->data[1] + r * e.frame->linesize[1], 128, size_t(chromaWidth));
            std::memset(e.frame->data[2] + r * e.frame->linesize[2], 128, size_t(chromaWidth));
        }
        e.frame->pts = i;
        e.frame->pict_type = i % keyInterval == 0 ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
        if (avcodec_send_frame(e.ctx, e.frame) < 0)
            return false;
        drain(e, out, false, 0);
    }
    avcodec_send_frame(e.ctx, nullptr);
    drain(e, out, false, 0);
    return true;
}

bool encodeAudio(Audio codec, int rate, double seconds, std::vector<Packet>& out, int& samplesIn)
{
    const AVCodecID id = codec == Audio::Aac ? AV_CODEC_ID_AAC
        : codec == Audio::ImaAdpcm           ? AV_CODEC_ID_ADPCM_IMA_WAV
                                             : AV_CODEC_ID_PCM_ALAW;
    const AVCodec* c = avcodec_find_encoder(id);
    if (!c)
        return false;
    Encoder e;
    e.ctx = avcodec_alloc_context3(c);
    e.ctx->sample_rate = rate;
    av_channel_layout_default(&e.ctx->ch_layout, 1);
    e.ctx->sample_fmt = c->sample_fmts ? c->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    e.ctx->time_base = AVRational { 1, rate };
    if (codec == Audio::Aac)
        e.ctx->bit_rate = 32000;
    if (codec == Audio::ImaAdpcm)
        av_opt_set_int(e.ctx->priv_data, "block_size", 256, 0);
    if (avcodec_open2(e.ctx, c, nullptr) < 0)
        return false;
    const int perFrame = e.ctx->frame_size > 0 ? e.ctx->frame_size : 160;
    e.frame = av_frame_alloc();
    e.packet = av_packet_alloc();
    e.frame->format = e.ctx->sample_fmt;
    av_channel_layout_copy(&e.frame->ch_layout, &e.ctx->ch_layout);
    e.frame->sample_rate = rate;
    e.frame->nb_samples = perFrame;
    if (av_frame_get_buffer(e.frame, 0) < 0)
        return false;
    const int total = int(seconds * rate) / perFrame * perFrame;
    samplesIn = total;
    for (int start = 0; start < total; start += perFrame) {
        av_frame_make_writable(e.frame);
        for (int i = 0; i < perFrame; ++i) {
            const double v = 0.5 * std::sin(2 * M_PI * 440.0 * (start + i) / rate);
            if (e.ctx->sample_fmt == AV_SAMPLE_FMT_FLTP)
                reinterpret_cast<float*>(e.frame->data[0])[i] = float(v);
            else
                reinterpret_cast<int16_t*>(e.frame->data[0])[i] = int16_t(v * 32767);
        }
        e.frame->pts = start;
        if (avcodec_send_frame(e.ctx, e.frame) < 0)
            return false;
        drain(e, out, codec == Audio::Aac, rate);
    }
    avcodec_send_frame(e.ctx, nullptr);
    drain(e, out, codec == Audio::Aac, rate);
    return true;
}

double meanDifference(const uint8_t* a, const uint8_t* b, size_t size)
{
    if (size == 0)
        return 0;
    uint64_t sum = 0;
    for (size_t i = 0; i < size; ++i)
        sum += uint64_t(std::abs(int(a[i]) - int(b[i])));
    return double(sum) / double(size);
}

} // namespace testenc
