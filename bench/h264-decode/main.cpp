// What the H.264 decoder thread costs to turn a 1920 × 1080 camera clip
// (the simulator's stream at a camera's bit rate) into payloads, against the
// reference decoder on one thread decoding the same clip to nothing. Cost is
// CPU time: ours is this process's while the thread decodes the whole clip
// untimed, the reference's is its own figure for its decoding, without its
// start-up. The two sides alternate, BENCH_ROUNDS times (default 7).
//
//   BENCH h264-decode ratio=<median ours/reference> ours=<ms>ms reference=<ms>ms min=<ratio> max=<ratio>

#include "ClipTools.h"

#include "device/Device.h"
#include "media/VideoDecoders.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

void quietDebug(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type != QtDebugMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

struct Run {
    double cpuMs = -1;
    double wallMs = -1;
};

// Decodes every frame untimed (as fast as the thread can).
Run decodeOnce(const QList<benchclip::Frame>& frames)
{
    Run run;
    int decoded = 0;
    const double cpuBefore = benchclip::ownCpuMs();
    QElapsedTimer timer;
    timer.start();
    {
        H264Decoder decoder;
        QEventLoop loop;
        QObject::connect(&decoder, &FrameDecoder::sigDecodedFrame, &loop, [&](const Device::FrameData&) {
            if (++decoded == frames.size())
                loop.quit();
        });
        QTimer::singleShot(600000, &loop, &QEventLoop::quit);
        for (const benchclip::Frame& f : frames) {
            Device::FrameData frame;
            frame.type = f.key ? Device::FrameH264Key : Device::FrameH264;
            frame.width = 1920;
            frame.height = 1080;
            frame.data = f.data;
            decoder.addFrame(frame);
        }
        loop.exec();
    }
    if (decoded == frames.size()) {
        run.wallMs = double(timer.elapsed());
        run.cpuMs = benchclip::ownCpuMs() - cpuBefore;
    }
    return run;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quietDebug);
    const int seconds = benchclip::secondsFromEnvironment(10);
    const int rounds = benchclip::roundsFromEnvironment(7);
    const QString ffmpeg = benchclip::systemProgram("ffmpeg");
    QTemporaryDir dir;
    const QString clip = dir.filePath("camera.h264");
    if (ffmpeg.isEmpty() || !benchclip::writeClip(clip, seconds)) {
        std::fprintf(stderr, "h264-decode: needs ffmpeg and camsim\n");
        return 1;
    }
    const QList<benchclip::Frame> frames = benchclip::splitH264(clip);
    if (frames.isEmpty()) {
        std::fprintf(stderr, "h264-decode: the clip has no frames\n");
        return 1;
    }
    qint64 clipBytes = 0;
    for (const benchclip::Frame& f : frames)
        clipBytes += f.data.size();
    std::fprintf(
        stderr, "h264-decode: %d pictures, %.0f kbit/s\n", int(frames.size()), double(clipBytes) * 8 / 1000 / seconds);
    benchclip::Rounds cpu;
    benchclip::Rounds wall;
    for (int round = 0; round < rounds; ++round) {
        // Who goes first alternates too, so that neither side always runs
        // right after the clip or the other side warmed the caches.
        Run o;
        Run r;
        for (int side = 0; side < 2; ++side) {
            if ((side + round) % 2 == 0)
                o = decodeOnce(frames);
            else if (!benchclip::referenceDecode(ffmpeg, clip, r.cpuMs, r.wallMs))
                r = Run();
        }
        if (o.cpuMs < 0 || r.cpuMs < 0) {
            std::fprintf(stderr, "h264-decode: a run failed\n");
            return 1;
        }
        std::fprintf(stderr, "h264-decode: round %d: cpu %.0f / %.0f ms, wall %.0f / %.0f ms\n", round + 1, o.cpuMs,
            r.cpuMs, o.wallMs, r.wallMs);
        cpu.add(o.cpuMs, r.cpuMs);
        wall.add(o.wallMs, r.wallMs);
    }
    std::fprintf(stderr, "h264-decode: wall time: %s\n", qPrintable(wall.line("h264-decode-wall", "ms")));
    std::printf("%s\n", qPrintable(cpu.line("h264-decode", "ms")));
    return 0;
}
