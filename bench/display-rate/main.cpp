// Pictures the visible-light video widget shows, in a 1280 x 720 window,
// against the pictures the session decodes, in one live session with the
// simulator (1920 x 1080 H.264 at 25 fps). Both are counted over the same
// windows of time; a ratio of 1 means every decoded picture reached the
// screen.
//
//   BENCH display-rate ratio=<shown/decoded> ours=<shown fps>fps reference=<decoded fps>fps min=.. max=..
//
// Needs a display with OpenGL (run.sh provides an Xvfb). BENCH_SECONDS
// shortens the 30 s of measuring (five equal windows); BENCH_SNAPSHOT=FILE.png
// saves the last picture shown.

#include "device/Device.h"
#include "media/GLYuvWidget.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

const char* const kCamera = "127.0.63.2";
const int kCameraId = 7;
const int kWindows = 5;

void quietDebug(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type != QtDebugMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

QString buildProgram(const QString& name)
{
    QStringList candidates;
    const QString buildDir = qEnvironmentVariable("ARDENIX_BUILD_DIR");
    if (!buildDir.isEmpty())
        candidates << buildDir + "/bin/" + name;
    candidates << QCoreApplication::applicationDirPath() + "/../bin/" + name;
    for (const QString& c : candidates)
        if (QFileInfo(c).isExecutable())
            return c;
    return QString();
}

// Runs the event loop until `done` holds or the time is up.
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

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    qInstallMessageHandler(quietDebug);
    const int seconds = qEnvironmentVariableIsSet("BENCH_SECONDS") ? qEnvironmentVariableIntValue("BENCH_SECONDS") : 30;
    const int windowMs = std::max(1000, seconds * 1000 / kWindows);

    const QString camsimPath = buildProgram("camsim");
    if (camsimPath.isEmpty()) {
        std::fprintf(stderr, "display-rate: needs camsim\n");
        return 1;
    }
    QProcess camsim;
    camsim.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    camsim.start(camsimPath,
        { "--address", kCamera, "--search-port", "-1", "--first-id", QString::number(kCameraId), "--codec", "h264",
            "--audio", "none", "--no-alarms" });
    QElapsedTimer ready;
    ready.start();
    QByteArray log;
    while (!log.contains("camsim: ready") && ready.elapsed() < 15000) {
        camsim.waitForReadyRead(200);
        log += camsim.readAllStandardError();
    }
    auto stopCamsim = [&] {
        camsim.terminate();
        if (!camsim.waitForFinished(5000))
            camsim.kill();
    };
    if (!log.contains("camsim: ready")) {
        std::fprintf(stderr, "display-rate: camsim did not start\n");
        stopCamsim();
        return 1;
    }

    GLYuvWidget widget(1);
    widget.resize(1280, 720);
    widget.show();

    std::vector<double> shownFps;
    std::vector<double> decodedFps;
    std::vector<double> ratios;
    {
        DeviceRecord record;
        record.id = kCameraId;
        record.port = 8800;
        record.address = kCamera;
        record.userName = "admin";
        record.password = "";
        Device device(record);
        QObject context;
        bool loggedIn = false;
        quint64 decoded = 0;
        QObject::connect(&device, &Device::sigLogin, &context,
            [&](int, Device::LoginState state, int) { loggedIn = loggedIn || state == Device::LoginSuccess; });
        // Counted on the GUI thread, where the widget receives the same frames.
        QObject::connect(&device, &Device::sigGotFrameV, &context, [&](const Device::FrameData& f) {
            if (f.type != Device::FrameTemperature)
                ++decoded;
        });
        device.login(false, false, 0);
        if (!waitFor([&] { return loggedIn; }, 10000)) {
            std::fprintf(stderr, "display-rate: login failed\n");
            stopCamsim();
            return 1;
        }
        device.startPreview(true, false);
        widget.setDevice(&device);
        // Past the first key frame and the decoder's start.
        if (!waitFor([&] { return widget.framesPainted() > 25; }, 20000)) {
            std::fprintf(stderr, "display-rate: no pictures shown\n");
            stopCamsim();
            return 1;
        }
        for (int i = 0; i < kWindows; ++i) {
            const quint64 decodedBefore = decoded;
            const quint64 shownBefore = widget.framesPainted();
            QElapsedTimer clock;
            clock.start();
            waitFor([] { return false; }, windowMs);
            const double s = static_cast<double>(clock.elapsed()) / 1000.0;
            const double d = static_cast<double>(decoded - decodedBefore);
            const double p = static_cast<double>(widget.framesPainted() - shownBefore);
            if (d <= 0) {
                std::fprintf(stderr, "display-rate: nothing decoded in window %d\n", i + 1);
                stopCamsim();
                return 1;
            }
            decodedFps.push_back(d / s);
            shownFps.push_back(p / s);
            ratios.push_back(p / d);
            std::fprintf(stderr, "display-rate: window %d: %.1f fps shown, %.1f fps decoded\n", i + 1, p / s, d / s);
        }
        // A look at what was on screen, for a person checking the run.
        const QString snapshot = qEnvironmentVariable("BENCH_SNAPSHOT");
        if (!snapshot.isEmpty())
            widget.grabFramebuffer().save(snapshot);
        widget.setDevice(nullptr);
        device.stopPreview();
        camsim.readAllStandardError();
    }
    stopCamsim();

    std::printf("BENCH display-rate ratio=%.3f ours=%.1ffps reference=%.1ffps min=%.3f max=%.3f\n", median(ratios),
        median(shownFps), median(decodedFps), *std::min_element(ratios.begin(), ratios.end()),
        *std::max_element(ratios.begin(), ratios.end()));
    return 0;
}
