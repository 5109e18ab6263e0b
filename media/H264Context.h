#pragma once
// The libavcodec state of the H.264 decoder thread and the two calls it makes:
// one send and exactly one receive per coded frame. Lives on that thread.
//
// Pictures whose planes fit the payload layout (coded size equal to the shown
// size, rows that start on the codec's alignment) are decoded straight into
// payload buffers, which the decoded picture then carries; others are
// decoded into the codec's own buffers and packed by a copy.

#include "media/DecodedPicture.h"

#include <mutex>
#include <vector>

struct AVCodec;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct PayloadSlot;

struct H264Context {
    const AVCodec* codec = nullptr;
    AVCodecContext* context = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    // libavcodec reads a little past the end of its input; payloads are copied
    // here with zeroed padding behind them.
    std::vector<uint8_t> input;
    // Payload buffers the codec holds now (pictures being decoded, reference
    // pictures and the picture last received), under their lock: the codec
    // may call its buffer callbacks from threads of its own.
    std::mutex lentLock;
    std::vector<PayloadSlot*> lent;
};

// 0 on success; 1 no decoder, 2 no context, 3 open failed, 4 no frame, 5 no packet.
// On failure *out stays null and nothing is leaked.
int openH264Context(int codecId, H264Context** out);
void closeH264Context(H264Context* ctx);

// 0 on success. 6 without a context; 11-14 when the send fails (again, end,
// invalid, other), 21-25 when the receive does, 26 for a picture that is not
// 8-bit planar 4:2:0.
int decodeH264Packet(H264Context* ctx, DecodedPicture& picture, const uint8_t* data, int size);
