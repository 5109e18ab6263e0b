// Encodes the scene's pictures as a camera does: H.264 or H.265 Annex-B,
// zero latency (one packet out per picture in), no B-frames, a key frame with
// its parameter sets every `keyInterval` pictures. With a bit rate the rate
// control is a camera's: constant bit rate with a one-second buffer; without
// one the encoder holds a constant quality. Belongs to one thread.
#pragma once

#include "Scene.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace camsim {

enum class VideoCodec { H264, H265 };

struct EncodedPicture {
    std::vector<uint8_t> data;
    bool key = false;
};

class VideoEncoder {
public:
    // bitrateKbit 0: constant quality.
    VideoEncoder(VideoCodec codec, int width, int height, int fps, int keyInterval = 25, int bitrateKbit = 0);
    ~VideoEncoder();
    VideoEncoder(const VideoEncoder&) = delete;
    VideoEncoder& operator=(const VideoEncoder&) = delete;

    bool ok() const;
    const std::string& error() const;
    // Appends what the encoder gives back for this picture (normally one).
    bool encode(const YuvPicture& picture, std::vector<EncodedPicture>& out);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace camsim
