#include "mi_decoder.h"

#include <cstring>
#include <new>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace {

struct H265Handle {
    AVCodecContext* context = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    int32_t frameIndex = 0;

    ~H265Handle()
    {
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&context);
    }
};

bool openHandle(H265Handle& handle, bool lowDelay)
{
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_HEVC);
    if (!codec)
        return false;
    handle.context = avcodec_alloc_context3(codec);
    if (!handle.context)
        return false;
    // Frame threading delays pictures by one packet per thread; a live view
    // wants the picture of each packet from the call that decodes it.
    handle.context->thread_count = 1;
    if (lowDelay)
        handle.context->flags |= AV_CODEC_FLAG_LOW_DELAY;
    if (avcodec_open2(handle.context, codec, nullptr) < 0)
        return false;
    handle.packet = av_packet_alloc();
    handle.frame = av_frame_alloc();
    return handle.packet && handle.frame;
}

} // namespace

extern "C" {

int mi_h265decoder_create(mi_h265decoder_handle* handle, const mi_h265decoder_config* config)
{
    if (!handle)
        return -1;
    *handle = nullptr;
    auto* h = new (std::nothrow) H265Handle();
    if (!h)
        return -2;
    if (!openHandle(*h, !config || config->lowDelay != 0)) {
        delete h;
        return -3;
    }
    *handle = h;
    return 0;
}

int mi_h265decoder_decodeframe(
    mi_h265decoder_handle handle, const mi_h265decoder_input* input, mi_h265decoder_output* output)
{
    if (!handle || !input || !output)
        return -1;
    output->status = 4;
    if (!input->data || input->size <= 0)
        return -1;
    auto* h = static_cast<H265Handle*>(handle);
    av_frame_unref(h->frame);
    // The parser inside the decoder may read a little past the end: copy into a padded packet.
    if (av_new_packet(h->packet, input->size) < 0)
        return -2;
    std::memcpy(h->packet->data, input->data, static_cast<size_t>(input->size));
    h->packet->pts = input->timestamp;
    const int sent = avcodec_send_packet(h->context, h->packet);
    av_packet_unref(h->packet);
    if (sent < 0)
        return -3;
    if (avcodec_receive_frame(h->context, h->frame) < 0)
        return 1; // no picture from this packet (yet)
    if (h->frame->format != AV_PIX_FMT_YUV420P && h->frame->format != AV_PIX_FMT_YUVJ420P) {
        av_frame_unref(h->frame);
        return -4;
    }
    output->frameIndex = h->frameIndex++;
    output->width = h->frame->width;
    output->height = h->frame->height;
    output->planeY = h->frame->data[0];
    output->planeU = h->frame->data[1];
    output->planeV = h->frame->data[2];
    output->strideY = h->frame->linesize[0];
    output->strideU = h->frame->linesize[1];
    output->strideV = h->frame->linesize[2];
    output->status = 0;
    return 0;
}

int mi_h265decoder_delete(mi_h265decoder_handle handle)
{
    delete static_cast<H265Handle*>(handle);
    return 0;
}
}
