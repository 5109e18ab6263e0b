// How fast the H.264 decoder thread turns a 1920 × 1080 camera clip into
// packed pictures, against the reference decoder on one thread decoding the
// same clip to nothing (its own decoding time, without its start-up). Runs
// alternate; the best of each is compared.
//
//   BENCH h264-decode ratio=<ours/reference> ours=<ms>ms reference=<ms>ms

#include "ClipTools.h"

#include "device/Device.h"
#include "media/VideoDecoders.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

void quietDebug(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type != QtDebugMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

// Decodes every frame untimed (as fast as the thread can); wall time in ms.
qint64 decodeOnce(const QList<benchclip::Frame>& frames)
{
    H264Decoder decoder;
    int decoded = 0;
    QEventLoop loop;
    QObject::connect(&decoder, &FrameDecoder::sigDecodedFrame, &loop, [&](const Device::FrameData&) {
        if (++decoded == frames.size())
            loop.quit();
    });
    QTimer::singleShot(600000, &loop, &QEventLoop::quit);
    QElapsedTimer timer;
    timer.start();
    for (const benchclip::Frame& f : frames) {
        Device::FrameData frame;
        frame.type = f.key ? Device::FrameH264Key : Device::FrameH264;
        frame.width = 1920;
        frame.height = 1080;
        frame.data = f.data;
        decoder.addFrame(frame);
    }
    loop.exec();
    const qint64 elapsed = timer.elapsed();
    return decoded == frames.size() ? elapsed : -1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quietDebug);
    const int seconds = qEnvironmentVariableIsSet("BENCH_SECONDS") ? qEnvironmentVariableIntValue("BENCH_SECONDS") : 10;
    const int rounds = 3;
    const QString ffmpeg = benchclip::systemProgram("ffmpeg");
    QTemporaryDir dir;
    const QString clip = dir.filePath("scene.h264");
    if (ffmpeg.isEmpty() || !benchclip::writeClip(clip, seconds)) {
        std::fprintf(stderr, "h264-decode: needs ffmpeg and camsim\n");
        return 1;
    }
    const QList<benchclip::Frame> frames = benchclip::splitH264(clip);
    if (frames.isEmpty()) {
        std::fprintf(stderr, "h264-decode: the clip has no frames\n");
        return 1;
    }
    qint64 ours = -1;
    qint64 reference = -1;
    for (int round = 0; round < rounds; ++round) {
        const qint64 o = decodeOnce(frames);
        const qint64 r = benchclip::referenceDecodeMs(ffmpeg, clip);
        if (o < 0 || r < 0) {
            std::fprintf(stderr, "h264-decode: a run failed\n");
            return 1;
        }
        ours = ours < 0 ? o : std::min(ours, o);
        reference = reference < 0 ? r : std::min(reference, r);
    }
    std::printf("BENCH h264-decode ratio=%.3f ours=%lldms reference=%lldms\n", double(ours) / double(reference),
        static_cast<long long>(ours), static_cast<long long>(reference));
    return 0;
}
