#include "AvAudioDecoder.h"

#include <cstring>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

namespace acodec {

AvAudioDecoder::AvAudioDecoder(AVCodecID codecId, int outRate, int inRate, int inChannels, int blockAlign)
    : m_outRate(outRate)
{
    const AVCodec* codec = avcodec_find_decoder(codecId);
    if (!codec)
        return;
    AVCodecContext* context = avcodec_alloc_context3(codec);
    if (!context)
        return;
    context->thread_count = 1;
    if (inRate > 0)
        context->sample_rate = inRate;
    if (inChannels > 0)
        av_channel_layout_default(&context->ch_layout, inChannels);
    if (blockAlign > 0)
        context->block_align = blockAlign;
    if (codecId == AV_CODEC_ID_ADPCM_IMA_WAV)
        context->bits_per_coded_sample = 4;
    if (avcodec_open2(context, codec, nullptr) < 0) {
        avcodec_free_context(&context);
        return;
    }
    m_packet = av_packet_alloc();
    m_frame = av_frame_alloc();
    if (!m_packet || !m_frame) {
        avcodec_free_context(&context);
        return;
    }
    m_context = context;
}

AvAudioDecoder::~AvAudioDecoder()
{
    swr_free(&m_resampler);
    av_frame_free(&m_frame);
    av_packet_free(&m_packet);
    avcodec_free_context(&m_context);
}

bool AvAudioDecoder::ensureResampler()
{
    const int channels = m_frame->ch_layout.nb_channels;
    if (m_resampler && m_resamplerInRate == m_frame->sample_rate && m_resamplerInFormat == m_frame->format
        && m_resamplerInChannels == channels)
        return true;
    swr_free(&m_resampler);
    if (m_frame->sample_rate <= 0 || channels <= 0)
        return false;
    AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
    if (swr_alloc_set_opts2(&m_resampler, &mono, AV_SAMPLE_FMT_S16, m_outRate, &m_frame->ch_layout,
            static_cast<AVSampleFormat>(m_frame->format), m_frame->sample_rate, 0, nullptr)
            < 0
        || swr_init(m_resampler) < 0) {
        swr_free(&m_resampler);
        return false;
    }
    m_resamplerInRate = m_frame->sample_rate;
    m_resamplerInFormat = m_frame->format;
    m_resamplerInChannels = channels;
    return true;
}

int AvAudioDecoder::convert(uint8_t* out, int capacity)
{
    if (!ensureResampler())
        return -1;
    const int maxSamples = capacity / 2;
    const int produced = swr_convert(
        m_resampler, &out, maxSamples, const_cast<const uint8_t**>(m_frame->extended_data), m_frame->nb_samples);
    return produced < 0 ? -1 : produced * 2;
}

int AvAudioDecoder::decode(const uint8_t* in, int inSize, uint8_t* out, int capacity)
{
    if (!m_context || !in || inSize <= 0 || !out || capacity <= 0)
        return -1;
    // The packet borrows the caller's bytes; the decoders used here copy what
    // they keep, and the padding they may over-read is provided by a copy.
    if (av_new_packet(m_packet, inSize) < 0)
        return -1;
    std::memcpy(m_packet->data, in, static_cast<size_t>(inSize));
    const int sent = avcodec_send_packet(m_context, m_packet);
    av_packet_unref(m_packet);
    if (sent < 0)
        return -1;
    int written = 0;
    // A packet may yield several frames (an ADPCM frame of several blocks);
    // the bound keeps a misbehaving stream from looping here.
    for (int i = 0; i < 64; ++i) {
        const int received = avcodec_receive_frame(m_context, m_frame);
        if (received < 0)
            break;
        const int n = convert(out + written, capacity - written);
        av_frame_unref(m_frame);
        if (n < 0)
            return -1;
        written += n;
    }
    return written;
}

} // namespace acodec
