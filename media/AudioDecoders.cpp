#include "media/AudioDecoders.h"

#include "ACodec.h"

#include <QDebug>

#include <vector>

namespace {

constexpr int kScratchBytes = 1024 * 1024;
constexpr int kAdpcmBlock = 256;
// An ADPCM block of 256 bytes yields 505 samples; a G.711 byte yields one.
// Payloads larger than these would not fit the scratch buffer.
constexpr int kMaxAdpcmPayload = kScratchBytes / 4;
constexpr int kMaxG711Payload = kScratchBytes / 2;

const unsigned char* bytesOf(const FrameData& frame)
{
    return reinterpret_cast<const unsigned char*>(frame.data.constData());
}

bool replacePayload(FrameData& frame, const std::vector<unsigned char>& scratch, int n)
{
    if (n <= 0 || n > kScratchBytes) {
        qDebug() << "Decode failed!";
        return false;
    }
    frame.data = QByteArray(reinterpret_cast<const char*>(scratch.data()), n);
    return true;
}

} // namespace

PCMDecoder::PCMDecoder(QObject* parent)
    : FrameDecoder(parent)
{
    startThread();
}

PCMDecoder::~PCMDecoder()
{
    stopThread();
}

void PCMDecoder::run()
{
    qDebug() << "PCM running.";
    processFrames([](FrameData&) { return true; });
    qDebug() << "PCM exit.";
}

ADPCMDecoder::ADPCMDecoder(QObject* parent)
    : FrameDecoder(parent)
{
    startThread();
}

ADPCMDecoder::~ADPCMDecoder()
{
    stopThread();
}

void ADPCMDecoder::run()
{
    qDebug() << "ADPCM running.";
    std::vector<unsigned char> scratch(kScratchBytes);
    ADPCMCodec* codec = ADPCMCodecAllocate();
    processFrames([codec, &scratch](FrameData& frame) {
        int n = 0;
        if (codec && frame.data.size() <= kMaxAdpcmPayload)
            n = codec->Decode(bytesOf(frame), frame.data.size(), scratch.data(), kAdpcmBlock);
        return replacePayload(frame, scratch, n);
    });
    ADPCMCodecDeallocate(codec);
    qDebug() << "ADPCM exit.";
}

AACDecoder::AACDecoder(QObject* parent)
    : FrameDecoder(parent)
{
    startThread();
}

AACDecoder::~AACDecoder()
{
    stopThread();
}

void AACDecoder::run()
{
    qDebug() << "AAC running.";
    std::vector<unsigned char> scratch(kScratchBytes);
    AACDecodec* codec = AACDecodecAllocate(2, 1);
    processFrames([codec, &scratch](FrameData& frame) {
        int n = 0;
        if (!codec || codec->Decode(scratch.data(), &n, bytesOf(frame), frame.data.size()) < 0)
            n = 0;
        return replacePayload(frame, scratch, n);
    });
    AACDecodecDeallocate(codec);
    qDebug() << "AAC exit.";
}

G711Decoder::G711Decoder(QObject* parent)
    : FrameDecoder(parent)
{
    startThread();
}

G711Decoder::~G711Decoder()
{
    stopThread();
}

void G711Decoder::run()
{
    qDebug() << "G711 running.";
    std::vector<unsigned char> scratch(kScratchBytes);
    processFrames([&scratch](FrameData& frame) {
        int n = 0;
        if (frame.data.size() <= kMaxG711Payload)
            n = g711decode(bytesOf(frame), 0, frame.data.size(), scratch.data());
        return replacePayload(frame, scratch, n);
    });
    qDebug() << "G711 exit.";
}
