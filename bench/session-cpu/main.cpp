// CPU time of one camera session (login, preview, decoding of pictures and
// sound, temperature pictures) streaming from the simulator at a camera's
// bit rate, against the reference decoder decoding the same video (the
// simulator's clip of that stream) at its real rate on one thread. The two
// sides alternate, BENCH_ROUNDS times (default 5), each BENCH_SECONDS long
// (default 20).
//
//   BENCH session-cpu ratio=<median ours/reference> ours=<ms>ms reference=<ms>ms min=<ratio> max=<ratio>

#include "ClipTools.h"

#include "device/Device.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

const char* const kCamera = "127.0.62.2";

void quietDebug(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type != QtDebugMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

// Runs the event loop until `done` holds or the time is up, without spinning.
bool waitFor(const std::function<bool()>& done, int timeoutMs)
{
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    poll.start(20);
    if (!done())
        loop.exec();
    return done();
}

struct SessionResult {
    double cpuMs = -1;
    int pictures = 0;
    int thermal = 0;
    int sound = 0;
};

SessionResult runSession(int seconds)
{
    SessionResult result;
    QProcess camsim;
    camsim.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    camsim.start(benchclip::buildProgram("camsim"),
        { "--address", kCamera, "--search-port", "-1", "--first-id", "62", "--codec", "h264", "--audio", "g711",
            "--bitrate", QString::number(benchclip::kCameraKbit) });
    QElapsedTimer ready;
    ready.start();
    QByteArray log;
    while (!log.contains("camsim: ready") && ready.elapsed() < 15000) {
        camsim.waitForReadyRead(200);
        log += camsim.readAllStandardError();
    }
    if (!log.contains("camsim: ready"))
        return result;

    DeviceRecord record;
    record.id = 62;
    record.address = kCamera;
    record.userName = "admin";
    QObject context;
    const double before = benchclip::ownCpuMs();
    {
        Device device(record);
        bool loggedIn = false;
        bool started = false;
        QObject::connect(&device, &Device::sigLogin, &context,
            [&](int, Device::LoginState state, int) { loggedIn = loggedIn || state == Device::LoginSuccess; });
        QObject::connect(&device, &Device::sigPreview, &context,
            [&](int, Device::PreviewState state, int) { started = started || state == Device::PreviewStarted; });
        QObject::connect(&device, &Device::sigGotFrameV, &context, [&](const Device::FrameData& f) {
            ++(f.type == Device::FrameTemperature ? result.thermal : result.pictures);
        });
        QObject::connect(&device, &Device::sigGotFrameA, &context, [&](const Device::FrameData&) { ++result.sound; });
        device.login(false, false, 0);
        if (waitFor([&] { return loggedIn; }, 10000)) {
            device.startPreview(true, false);
            if (waitFor([&] { return started; }, 10000)) {
                device.setAudioEnabled(true);
                waitFor([] { return false; }, seconds * 1000);
                result.cpuMs = 0;
            }
        }
        // Drain what camsim wrote meanwhile so that it never blocks on its log.
        camsim.readAllStandardError();
    }
    if (result.cpuMs == 0)
        result.cpuMs = benchclip::ownCpuMs() - before;
    camsim.terminate();
    if (!camsim.waitForFinished(5000))
        camsim.kill();
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quietDebug);
    const int seconds = benchclip::secondsFromEnvironment(20);
    const int rounds = benchclip::roundsFromEnvironment(5);
    const QString ffmpeg = benchclip::systemProgram("ffmpeg");
    QTemporaryDir dir;
    const QString clip = dir.filePath("camera.h264");
    if (ffmpeg.isEmpty() || !benchclip::writeClip(clip, seconds)) {
        std::fprintf(stderr, "session-cpu: needs ffmpeg and camsim\n");
        return 1;
    }
    auto reference = [&]() {
        double cpuMs = 0;
        if (benchclip::runProgram(ffmpeg,
                { "-hide_banner", "-loglevel", "error", "-threads", "1", "-re", "-i", clip, "-f", "null", "-" },
                (seconds + 60) * 1000, &cpuMs)
            < 0)
            return -1.0;
        return cpuMs;
    };
    benchclip::Rounds cpu;
    for (int round = 0; round < rounds; ++round) {
        SessionResult ours;
        double ref = -1;
        for (int side = 0; side < 2; ++side) {
            if ((side + round) % 2 == 0)
                ours = runSession(seconds);
            else
                ref = reference();
        }
        if (ours.cpuMs < 0 || ours.pictures == 0) {
            std::fprintf(stderr, "session-cpu: the session did not stream\n");
            return 1;
        }
        if (ref <= 0) {
            std::fprintf(stderr, "session-cpu: the reference failed\n");
            return 1;
        }
        std::fprintf(stderr,
            "session-cpu: round %d: %.0f / %.0f ms; %d pictures, %d temperature pictures, %d sound frames in %d s\n",
            round + 1, ours.cpuMs, ref, ours.pictures, ours.thermal, ours.sound, seconds);
        cpu.add(ours.cpuMs, ref);
    }
    std::printf("%s\n", qPrintable(cpu.line("session-cpu", "ms")));
    return 0;
}
