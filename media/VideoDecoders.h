#pragma once
// The two video decoder threads: H.264 through libavcodec, H.265 through the
// H.265 codec library. Each emits frames whose payload is tight planar
// YUV 4:2:0 and whose width and height are those of the decoded picture.

#include "media/FrameDecoder.h"

class H264Decoder final : public FrameDecoder {
    Q_OBJECT

public:
    explicit H264Decoder(QObject* parent = nullptr);
    ~H264Decoder() override;

protected:
    void run() override;
};

class H265Decoder final : public FrameDecoder {
    Q_OBJECT

public:
    explicit H265Decoder(QObject* parent = nullptr);
    ~H265Decoder() override;

protected:
    void run() override;
};

// Replaces the frame's payload by the packed picture. The frame keeps the size
// the dispatch stored unless the picture has another one: then the picture's
// size is stored, so that no consumer reads past the payload.
bool storePicture(FrameData& frame, const struct DecodedPicture& picture);
