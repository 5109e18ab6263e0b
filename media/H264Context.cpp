#include "media/H264Context.h"

#include <cstring>
#include <new>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
}

static_assert(AV_CODEC_ID_H264 == 27, "the decoder is opened by the H.264 codec number");

int openH264Context(int codecId, H264Context** out)
{
    *out = nullptr;
    auto* ctx = new (std::nothrow) H264Context();
    if (!ctx)
        return 2;
    int code = 0;
    ctx->codec = avcodec_find_decoder(static_cast<AVCodecID>(codecId));
    if (!ctx->codec)
        code = 1;
    if (code == 0 && !(ctx->context = avcodec_alloc_context3(ctx->codec)))
        code = 2;
    if (code == 0 && avcodec_open2(ctx->context, ctx->codec, nullptr) < 0)
        code = 3;
    if (code == 0 && !(ctx->frame = av_frame_alloc()))
        code = 4;
    if (code == 0 && !(ctx->packet = av_packet_alloc()))
        code = 5;
    if (code != 0) {
        closeH264Context(ctx);
        return code;
    }
    *out = ctx;
    return 0;
}

void closeH264Context(H264Context* ctx)
{
    if (!ctx)
        return;
    if (ctx->packet)
        av_packet_free(&ctx->packet);
    if (ctx->frame)
        av_frame_free(&ctx->frame);
    if (ctx->context)
        avcodec_free_context(&ctx->context);
    delete ctx;
}

int decodeH264Packet(H264Context* ctx, DecodedPicture& picture, const uint8_t* data, int size)
{
    if (!ctx || !ctx->context)
        return 6;
    if (!data || size <= 0)
        return 13;
    const size_t needed = static_cast<size_t>(size) + AV_INPUT_BUFFER_PADDING_SIZE;
    if (ctx->input.size() < needed)
        ctx->input.resize(needed);
    std::memcpy(ctx->input.data(), data, static_cast<size_t>(size));
    std::memset(ctx->input.data() + size, 0, AV_INPUT_BUFFER_PADDING_SIZE);
    ctx->packet->data = ctx->input.data();
    ctx->packet->size = size;

    const int sent = avcodec_send_packet(ctx->context, ctx->packet);
    ctx->packet->data = nullptr;
    ctx->packet->size = 0;
    if (sent == AVERROR(EAGAIN))
        return 11;
    if (sent == AVERROR_EOF)
        return 12;
    if (sent == AVERROR(EINVAL))
        return 13;
    if (sent < 0)
        return 14;

    const int received = avcodec_receive_frame(ctx->context, ctx->frame);
    if (received == AVERROR(EAGAIN))
        return 21;
    if (received == AVERROR_EOF)
        return 22;
    if (received == AVERROR(EINVAL))
        return 23;
    if (received < 0)
        return 25;
    const AVFrame* f = ctx->frame;
    // The picture is handed on as 8-bit 4:2:0; other layouts (4:2:2, 4:4:4,
    // deeper samples) would be packed as garbage.
    if (f->format != AV_PIX_FMT_YUV420P && f->format != AV_PIX_FMT_YUVJ420P)
        return 26;
    picture.y = f->data[0];
    picture.u = f->data[1];
    picture.v = f->data[2];
    picture.strideY = f->linesize[0];
    picture.strideU = f->linesize[1];
    picture.strideV = f->linesize[2];
    picture.width = f->width;
    picture.height = f->height;
    return 0;
}
