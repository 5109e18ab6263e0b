// How long an alarm snapshot takes from a decoded 1920 × 1080 picture and a
// 256 × 192 temperature picture to the JPEG file on disk, against the plain
// route: the same libswscale conversion into the composite and a
// libjpeg-turbo quality-100 encode written to a file. The temperature half of
// the reference is scaled once beforehand, so the reference does less than we
// do. Runs alternate; the ratio is the median of the pairs' ratios.
//
//   BENCH snapshot ratio=<ours/reference> ours=<ms>ms reference=<ms>ms min=.. max=..
//
// BENCH_RUNS sets the number of pairs (default 9, at least 5).

#include "device/AlarmSnapshot.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

extern "C" {
#include <jpeglib.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kThermalWidth = 256;
constexpr int kThermalHeight = 192;

void quietDebug(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type != QtDebugMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

// A camera-like scene: soft gradients, a few shapes and sensor noise, so that
// the encoder has realistic work.
FrameData sceneFrame()
{
    FrameData f;
    f.type = 0;
    f.width = kWidth;
    f.height = kHeight;
    f.pts = 1588321800000LL;
    f.data.resize(kWidth * kHeight * 3 / 2);
    auto* y = reinterpret_cast<uint8_t*>(f.data.data());
    uint8_t* u = y + kWidth * kHeight;
    uint8_t* v = u + (kWidth / 2) * (kHeight / 2);
    std::mt19937 random(7);
    std::uniform_int_distribution<int> noise(-6, 6);
    for (int row = 0; row < kHeight; ++row) {
        for (int col = 0; col < kWidth; ++col) {
            const double dx = col - 960.0;
            const double dy = row - 500.0;
            int value = 40 + (row * 120) / kHeight + int(30 * std::sin(col / 37.0));
            if (dx * dx / 4 + dy * dy < 250.0 * 250.0)
                value = 170 + int(20 * std::cos(dy / 20.0)); // a face
            if (col > 300 && col < 500 && row > 200 && row < 900)
                value = 200 - (row % 40); // a door frame
            y[row * kWidth + col] = uint8_t(std::clamp(value + noise(random), 16, 235));
        }
    }
    for (int row = 0; row < kHeight / 2; ++row) {
        for (int col = 0; col < kWidth / 2; ++col) {
            u[row * (kWidth / 2) + col] = uint8_t(118 + (col * 20) / (kWidth / 2) + noise(random) / 3);
            v[row * (kWidth / 2) + col] = uint8_t(150 - (row * 30) / (kHeight / 2) + noise(random) / 3);
        }
    }
    return f;
}

FrameData thermalFrame()
{
    FrameData f;
    f.type = 10;
    f.width = kThermalWidth;
    f.height = kThermalHeight;
    f.pts = 1588321800000LL;
    f.data.resize(kThermalWidth * kThermalHeight * 3);
    for (int i = 0; i < kThermalWidth * kThermalHeight; ++i) {
        const int x = i % kThermalWidth;
        const int yy = i / kThermalWidth;
        const double warm = std::exp(-((x - 128.0) * (x - 128.0) + (yy - 90.0) * (yy - 90.0)) / 1800.0);
        f.data[i * 3] = char(40 + int(210 * warm));
        f.data[i * 3 + 1] = char(60 + int(120 * std::sin(warm * 3)));
        f.data[i * 3 + 2] = char(220 - int(200 * warm));
    }
    return f;
}

double oursMs(const QString& dir, const FrameData& video, const FrameData& thermal)
{
    AlarmSnapshot::Request request;
    request.dir = dir;
    request.temperature = 375;
    request.state = 0;
    request.istate = 10;
    request.id = 3;
    QElapsedTimer timer;
    timer.start();
    const AlarmSnapshot::Result result = AlarmSnapshot::write(request, video, thermal);
    const double ms = timer.nsecsElapsed() / 1e6;
    if (!result.ok)
        return -1;
    QFile::remove(result.lensfilePath);
    return ms;
}

// The plain route: convert into the composite, put the ready temperature
// half beside it, encode with libjpeg's defaults at quality 100 into a file.
double referenceMs(const QString& path, const FrameData& video, const std::vector<uint8_t>& thermalHalf)
{
    QElapsedTimer timer;
    timer.start();
    const int width = kWidth + kHeight;
    const int stride = width * 3;
    std::vector<uint8_t> composite(size_t(stride) * kHeight);
    SwsContext* context = sws_getContext(kWidth, kHeight, AV_PIX_FMT_YUV420P, kWidth, kHeight, AV_PIX_FMT_RGB24,
        SWS_BILINEAR, nullptr, nullptr, nullptr);
    const int* bt601 = sws_getCoefficients(SWS_CS_ITU601);
    sws_setColorspaceDetails(context, bt601, 0, bt601, 1, 0, 1 << 16, 1 << 16);
    const auto* y = reinterpret_cast<const uint8_t*>(video.data.constData());
    const uint8_t* const src[4] = { y, y + kWidth * kHeight, y + kWidth * kHeight + kWidth * kHeight / 4, nullptr };
    const int srcStride[4] = { kWidth, kWidth / 2, kWidth / 2, 0 };
    uint8_t* const dst[4] = { composite.data(), nullptr, nullptr, nullptr };
    const int dstStride[4] = { stride, 0, 0, 0 };
    sws_scale(context, src, srcStride, 0, kHeight, dst, dstStride);
    sws_freeContext(context);
    for (int row = 0; row < kHeight; ++row)
        std::memcpy(&composite[size_t(row) * stride + kWidth * 3], &thermalHalf[size_t(row) * kHeight * 3],
            size_t(kHeight) * 3);

    FILE* out = std::fopen(path.toLocal8Bit().constData(), "wb");
    if (!out)
        return -1;
    jpeg_compress_struct cinfo {};
    jpeg_error_mgr jerr {};
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, out);
    cinfo.image_width = width;
    cinfo.image_height = kHeight;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 100, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = &composite[size_t(cinfo.next_scanline) * stride];
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::fclose(out);
    const double ms = timer.nsecsElapsed() / 1e6;
    QFile::remove(path);
    return ms;
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
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quietDebug);
    const int runs
        = std::max(5, qEnvironmentVariableIsSet("BENCH_RUNS") ? qEnvironmentVariableIntValue("BENCH_RUNS") : 9);
    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "snapshot: no temporary folder\n");
        return 1;
    }
    const FrameData video = sceneFrame();
    const FrameData thermal = thermalFrame();
    const QImage scaled = AlarmSnapshot::compose(video, thermal).copy(kWidth, 0, kHeight, kHeight);
    std::vector<uint8_t> thermalHalf(size_t(kHeight) * kHeight * 3);
    for (int row = 0; row < kHeight; ++row)
        std::memcpy(&thermalHalf[size_t(row) * kHeight * 3], scaled.constScanLine(row), size_t(kHeight) * 3);
    const QString referencePath = dir.filePath("reference.jpg");

    // One unmeasured round each loads the image plugin and warms the caches.
    if (oursMs(dir.path(), video, thermal) < 0 || referenceMs(referencePath, video, thermalHalf) < 0) {
        std::fprintf(stderr, "snapshot: a run failed\n");
        return 1;
    }
    std::vector<double> ours;
    std::vector<double> reference;
    std::vector<double> ratios;
    for (int i = 0; i < runs; ++i) {
        const double o = oursMs(dir.path(), video, thermal);
        const double r = referenceMs(referencePath, video, thermalHalf);
        if (o < 0 || r < 0) {
            std::fprintf(stderr, "snapshot: a run failed\n");
            return 1;
        }
        ours.push_back(o);
        reference.push_back(r);
        ratios.push_back(o / r);
    }
    std::printf("BENCH snapshot ratio=%.3f ours=%.1fms reference=%.1fms min=%.3f max=%.3f\n", median(ratios),
        median(ours), median(reference), *std::min_element(ratios.begin(), ratios.end()),
        *std::max_element(ratios.begin(), ratios.end()));
    return 0;
}
