#include "media/VideoDecoders.h"

#include "media/DecodedPicture.h"
#include "media/H264Context.h"

#include "mi_decoder.h"

#include <QDebug>

namespace {

constexpr int kCodecH264 = 27;
// Short payloads that fail are parameter sets or padding; only real pictures
// are worth a log line.
constexpr int kQuietFailureBytes = 10;

void logFailure(const FrameData& frame)
{
    if (frame.data.size() > kQuietFailureBytes)
        qDebug() << "Decode failed!";
}

} // namespace

bool storePicture(FrameData& frame, const DecodedPicture& picture)
{
    QByteArray packed;
    if (!packYuv420(picture, packed))
        return false;
    frame.data = packed;
    if (frame.width != picture.width || frame.height != picture.height) {
        frame.width = picture.width;
        frame.height = picture.height;
    }
    return true;
}

H264Decoder::H264Decoder(QObject* parent)
    : FrameDecoder(parent)
{
    startThread();
}

H264Decoder::~H264Decoder()
{
    stopThread();
}

void H264Decoder::run()
{
    qDebug() << "H264 running.";
    H264Context* context = nullptr;
    openH264Context(kCodecH264, &context); // without a context every decode fails
    processFrames([context](FrameData& frame) {
        DecodedPicture picture;
        const int code = decodeH264Packet(
            context, picture, reinterpret_cast<const uint8_t*>(frame.data.constData()), frame.data.size());
        if (code != 0 || !storePicture(frame, picture)) {
            logFailure(frame);
            return false;
        }
        return true;
    });
    closeH264Context(context);
    qDebug() << "H264 exit.";
}

H265Decoder::H265Decoder(QObject* parent)
    : FrameDecoder(parent)
{
    startThread();
}

H265Decoder::~H265Decoder()
{
    stopThread();
}

void H265Decoder::run()
{
    qDebug() << "H265 running.";
    mi_h265decoder_handle handle = nullptr;
    const mi_h265decoder_config config { 0, 0, 1 };
    mi_h265decoder_create(&handle, &config);
    processFrames([handle](FrameData& frame) {
        const mi_h265decoder_input input { reinterpret_cast<const uint8_t*>(frame.data.constData()), frame.data.size(),
            0 };
        mi_h265decoder_output output {};
        output.reserved0 = 0;
        output.status = 4;
        mi_h265decoder_decodeframe(handle, &input, &output);
        DecodedPicture picture;
        picture.y = output.planeY;
        picture.u = output.planeU;
        picture.v = output.planeV;
        picture.strideY = output.strideY;
        picture.strideU = output.strideU;
        picture.strideV = output.strideV;
        picture.width = output.width;
        picture.height = output.height;
        if (output.status != 0 || !storePicture(frame, picture)) {
            logFailure(frame);
            return false;
        }
        return true;
    });
    mi_h265decoder_delete(handle);
    qDebug() << "H265 exit.";
}
