#include "media/H264Context.h"

#include <algorithm>
#include <cstring>
#include <new>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
}

static_assert(AV_CODEC_ID_H264 == 27, "the decoder is opened by the H.264 codec number");

// One payload buffer lent to the codec; the codec's reference to it ends in
// releaseSlot.
struct PayloadSlot {
    H264Context* owner = nullptr;
    QByteArray bytes;
};

namespace {

// Bytes behind the last plane that vector code may read.
constexpr int kPayloadSlack = 256;

bool isPlanar420(int format)
{
    return format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P;
}

// Whether the codec can write this picture straight into a payload: it writes
// whole macroblocks, so the coded size must be the shown size (a 1080-line
// picture is coded as 1088 lines, and the eight extra luma rows would land on
// the chroma rows; they stay in the reference picture, so they cannot be
// moved away either), and each plane's rows must start on the codec's
// alignment.
bool fitsPayload(AVCodecContext* avctx, const AVFrame* frame)
{
    const int w = frame->width;
    const int h = frame->height;
    if (!isPlanar420(frame->format) || w != avctx->width || h != avctx->height || w % 2 != 0 || h % 2 != 0)
        return false;
    if (packedYuv420Size(w, h) < 0)
        return false;
    int alignedW = w;
    int alignedH = h;
    int lineAlign[AV_NUM_DATA_POINTERS] = {};
    avcodec_align_dimensions2(avctx, &alignedW, &alignedH, lineAlign);
    for (int plane = 0; plane < 3; ++plane) {
        const int stride = plane == 0 ? w : w / 2;
        const int align = lineAlign[plane];
        if (align <= 0 || align > kPayloadAlignment || kPayloadAlignment % align != 0 || stride % align != 0)
            return false;
    }
    return true;
}

void releaseSlot(void* opaque, uint8_t*)
{
    auto* slot = static_cast<PayloadSlot*>(opaque);
    {
        std::lock_guard<std::mutex> lock(slot->owner->lentLock);
        auto& lent = slot->owner->lent;
        lent.erase(std::remove(lent.begin(), lent.end(), slot), lent.end());
    }
    delete slot;
}

// get_buffer2: payload buffers where the picture fits, the codec's own otherwise.
int getPictureBuffer(AVCodecContext* avctx, AVFrame* frame, int flags)
{
    auto* ctx = static_cast<H264Context*>(avctx->opaque);
    if (!ctx || !fitsPayload(avctx, frame))
        return avcodec_default_get_buffer2(avctx, frame, flags);
    const int w = frame->width;
    const int h = frame->height;
    const qint64 luma = qint64(w) * h;
    const qint64 chroma = qint64(w / 2) * (h / 2);
    const qint64 total = luma + 2 * chroma;
    auto* slot = new (std::nothrow) PayloadSlot { ctx, alignedPayload(int(total), kPayloadSlack) };
    if (!slot || slot->bytes.isNull()) {
        delete slot;
        return AVERROR(ENOMEM);
    }
    auto* base = reinterpret_cast<uint8_t*>(const_cast<char*>(slot->bytes.constData()));
    frame->buf[0] = av_buffer_create(base, int(total) + kPayloadSlack, releaseSlot, slot, 0);
    if (!frame->buf[0]) {
        delete slot;
        return AVERROR(ENOMEM);
    }
    {
        std::lock_guard<std::mutex> lock(ctx->lentLock);
        ctx->lent.push_back(slot);
    }
    frame->data[0] = base;
    frame->data[1] = base + luma;
    frame->data[2] = base + luma + chroma;
    frame->linesize[0] = w;
    frame->linesize[1] = w / 2;
    frame->linesize[2] = w / 2;
    frame->extended_data = frame->data;
    return 0;
}

// The payload the received picture was decoded into, if it was and still has
// the payload's layout.
QByteArray payloadOf(H264Context* ctx, const AVFrame* f)
{
    if (!f->buf[0] || f->buf[1])
        return QByteArray();
    void* opaque = av_buffer_get_opaque(f->buf[0]);
    QByteArray bytes;
    {
        std::lock_guard<std::mutex> lock(ctx->lentLock);
        const auto it = std::find(ctx->lent.begin(), ctx->lent.end(), opaque);
        if (it == ctx->lent.end())
            return QByteArray();
        bytes = (*it)->bytes;
    }
    const auto* base = reinterpret_cast<const uint8_t*>(bytes.constData());
    const qint64 luma = qint64(f->width) * f->height;
    const qint64 chroma = qint64(f->width / 2) * (f->height / 2);
    if (f->data[0] != base || f->data[1] != base + luma || f->data[2] != base + luma + chroma
        || f->linesize[0] != f->width || f->linesize[1] != f->width / 2 || f->linesize[2] != f->width / 2
        || bytes.size() != luma + 2 * chroma)
        return QByteArray();
    return bytes;
}

} // namespace

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
    if (code == 0) {
        ctx->context->opaque = ctx;
        ctx->context->get_buffer2 = getPictureBuffer;
        // One thread, as the reference decoder is run.
        ctx->context->thread_count = 1;
#if FF_API_THREAD_SAFE_CALLBACKS
        // This libavcodec still asks whether the buffer callbacks may run on
        // its threads (and warns when not told); they may.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        ctx->context->thread_safe_callbacks = 1;
#pragma GCC diagnostic pop
#endif
    }
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
    picture.payload = payloadOf(ctx, f);
    return 0;
}
