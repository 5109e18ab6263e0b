#include "VideoEncoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace camsim {

struct VideoEncoder::Private {
    AVCodecContext* context = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    int64_t next = 0;
    std::string error;

    ~Private()
    {
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&context);
    }
};

VideoEncoder::VideoEncoder(VideoCodec codec, int width, int height, int fps, int keyInterval, int bitrateKbit)
    : d(new Private)
{
    const char* name = codec == VideoCodec::H264 ? "libx264" : "libx265";
    const AVCodec* c = avcodec_find_encoder_by_name(name);
    if (!c) {
        d->error = std::string("no encoder ") + name;
        return;
    }
    d->context = avcodec_alloc_context3(c);
    d->frame = av_frame_alloc();
    d->packet = av_packet_alloc();
    if (!d->context || !d->frame || !d->packet) {
        d->error = "out of memory";
        return;
    }
    AVCodecContext* ctx = d->context;
    ctx->width = width;
    ctx->height = height;
    ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    ctx->time_base = AVRational { 1, fps };
    ctx->framerate = AVRational { fps, 1 };
    ctx->gop_size = keyInterval;
    ctx->max_b_frames = 0;
    ctx->thread_count = 1;
    if (bitrateKbit > 0) {
        // Constant bit rate: the buffer drains at the bit rate and holds one second.
        const int64_t bits = int64_t(bitrateKbit) * 1000;
        ctx->bit_rate = bits;
        ctx->rc_max_rate = bits;
        ctx->rc_min_rate = bits;
        ctx->rc_buffer_size = static_cast<int>(std::min<int64_t>(bits, INT32_MAX));
    }
    av_opt_set(ctx->priv_data, "preset", "ultrafast", 0);
    av_opt_set(ctx->priv_data, "tune", "zerolatency", 0);
    if (codec == VideoCodec::H264) {
        // A camera's stream at a bit rate is Main profile: arithmetic coding
        // and the deblocking filter, which the fastest preset leaves out.
        const std::string params
            = std::string("scenecut=0:repeat-headers=1") + (bitrateKbit > 0 ? ":cabac=1:deblock=0,0:nal-hrd=cbr" : "");
        av_opt_set(ctx->priv_data, "x264-params", params.c_str(), 0);
    } else {
        const std::string params = "keyint=" + std::to_string(keyInterval)
            + ":min-keyint=" + std::to_string(keyInterval)
            + ":scenecut=0:bframes=0:open-gop=0:repeat-headers=1:pools=1:frame-threads=1:log-level=error:info=0"
            + (bitrateKbit > 0 ? ":strict-cbr=1" : "");
        av_opt_set(ctx->priv_data, "x265-params", params.c_str(), 0);
    }
    if (avcodec_open2(ctx, c, nullptr) < 0) {
        d->error = std::string("cannot open ") + name;
        avcodec_free_context(&d->context);
        return;
    }
    d->frame->format = ctx->pix_fmt;
    d->frame->width = width;
    d->frame->height = height;
    if (av_frame_get_buffer(d->frame, 0) < 0) {
        d->error = "no picture buffer";
        avcodec_free_context(&d->context);
    }
}

VideoEncoder::~VideoEncoder() = default;

bool VideoEncoder::ok() const
{
    return d->context != nullptr;
}

const std::string& VideoEncoder::error() const
{
    return d->error;
}

bool VideoEncoder::encode(const YuvPicture& picture, std::vector<EncodedPicture>& out)
{
    if (!ok() || picture.width != d->context->width || picture.height != d->context->height)
        return false;
    if (av_frame_make_writable(d->frame) < 0)
        return false;
    const int w = picture.width;
    const int h = picture.height;
    for (int y = 0; y < h; ++y)
        std::memcpy(d->frame->data[0] + static_cast<ptrdiff_t>(y) * d->frame->linesize[0],
            picture.y.data() + static_cast<size_t>(y) * w, w);
    for (int y = 0; y < h / 2; ++y) {
        std::memcpy(d->frame->data[1] + static_cast<ptrdiff_t>(y) * d->frame->linesize[1],
            picture.u.data() + static_cast<size_t>(y) * (w / 2), w / 2);
        std::memcpy(d->frame->data[2] + static_cast<ptrdiff_t>(y) * d->frame->linesize[2],
            picture.v.data() + static_cast<size_t>(y) * (w / 2), w / 2);
    }
    d->frame->pts = d->next++;
    // Key frames come from the fixed interval alone.
    d->frame->pict_type = AV_PICTURE_TYPE_NONE;
    if (avcodec_send_frame(d->context, d->frame) < 0)
        return false;
    for (;;) {
        const int r = avcodec_receive_packet(d->context, d->packet);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
            break;
        if (r < 0)
            return false;
        EncodedPicture p;
        p.data.assign(d->packet->data, d->packet->data + d->packet->size);
        p.key = (d->packet->flags & AV_PKT_FLAG_KEY) != 0;
        out.push_back(std::move(p));
        av_packet_unref(d->packet);
    }
    return true;
}

} // namespace camsim
