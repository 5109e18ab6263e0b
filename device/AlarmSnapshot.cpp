#include "device/AlarmSnapshot.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QLocale>
#include <QPainter>

#include <cmath>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

namespace AlarmSnapshot {

namespace {

constexpr int kJpegQuality = 100;

// Converts the tight planar YUV 4:2:0 picture into 24-bit RGB rows of
// `dstStride` bytes at `dst`.
bool convertVisible(const FrameData& video, uchar* dst, int dstStride)
{
    const int w = video.width;
    const int h = video.height;
    // libswscale's fast converter works in blocks of pixels and would read
    // and write past the rows of widths that are not a multiple of 16. Its
    // exact path keeps to them; without full chroma it would lose the range
    // mapping by a few steps.
    const int flags = w % 16 == 0 ? SWS_BILINEAR : SWS_BILINEAR | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT;
    SwsContext* context
        = sws_getContext(w, h, AV_PIX_FMT_YUV420P, w, h, AV_PIX_FMT_RGB24, flags, nullptr, nullptr, nullptr);
    if (!context)
        return false;
    // Camera video is BT.601 with luma in 16..235; the picture spans 0..255.
    const int* bt601 = sws_getCoefficients(SWS_CS_ITU601);
    const int limitedRange = 0;
    const int fullRange = 1;
    const int brightness = 0;
    const int contrast = 1 << 16;
    const int saturation = 1 << 16;
    bool ok = sws_setColorspaceDetails(context, bt601, limitedRange, bt601, fullRange, brightness, contrast, saturation)
        >= 0;
    if (ok) {
        const auto* y = reinterpret_cast<const uint8_t*>(video.data.constData());
        const uint8_t* u = y + qint64(w) * h;
        const uint8_t* v = u + qint64(w / 2) * (h / 2);
        const uint8_t* const src[4] = { y, u, v, nullptr };
        const int srcStride[4] = { w, w / 2, w / 2, 0 };
        uint8_t* const dstPlanes[4] = { dst, nullptr, nullptr, nullptr };
        const int dstStrides[4] = { dstStride, 0, 0, 0 };
        ok = sws_scale(context, src, srcStride, 0, h, dstPlanes, dstStrides) == h;
    }
    sws_freeContext(context);
    return ok;
}

} // namespace

QString Names::output(int counter) const
{
    if (counter < 0)
        return QStringLiteral("%1/%2-%3-%4-%5-%6.jpg").arg(folder, id, temp, stamp, mode, kind);
    return QStringLiteral("%1/%2%3-%4-%5-%6-%7.jpg").arg(folder, id, QString::number(counter), temp, stamp, mode, kind);
}

bool canName(const Request& request)
{
    return request.id >= 0 && std::isfinite(request.temperature) && request.temperature >= 0;
}

Names buildNames(const Request& request, qint64 pts)
{
    const QLocale c = QLocale::c();
    const QDateTime time = QDateTime::fromMSecsSinceEpoch(pts, Qt::UTC);
    const QString dir = request.dir.isEmpty() ? QStringLiteral("./ManualScreenshot/") : request.dir;
    Names names;
    // The folder is joined, not filled in: a "%1" in it stays as it is.
    names.folder = dir + QLatin1Char('/') + c.toString(time, QStringLiteral("yyyy-MM-dd"));
    names.id = QString::number(request.id);
    names.temp = QString::number(request.temperature, 'g', 6);
    names.stamp = c.toString(time, QStringLiteral("yyyyMMddHHmmss"));
    names.mode = request.state == 0 ? QStringLiteral("1") : QStringLiteral("2");
    names.kind = request.istate == 1 ? QStringLiteral("1") : QStringLiteral("3");
    names.temperaturePath
        = QStringLiteral("%1/%2-%3-%4-%5-2.jpg").arg(names.folder, names.id, names.temp, names.stamp, names.mode);
    return names;
}

bool isUsableVideoFrame(const FrameData& frame)
{
    const int w = frame.width;
    const int h = frame.height;
    if (w <= 0 || h <= 0 || w % 2 != 0 || h % 2 != 0 || w > kMaxSide || h > kMaxSide)
        return false;
    return qint64(frame.data.size()) >= qint64(w) * h * 3 / 2;
}

bool isUsableThermalFrame(const FrameData& frame)
{
    const int w = frame.width;
    const int h = frame.height;
    if (w <= 0 || h <= 0 || w > kMaxSide || h > kMaxSide)
        return false;
    return qint64(frame.data.size()) >= qint64(w) * h * 3;
}

QImage compose(const FrameData& video, const FrameData& thermal)
{
    if (!isUsableVideoFrame(video) || !isUsableThermalFrame(thermal))
        return {};
    const int vw = video.width;
    const int vh = video.height;
    QImage picture(vw + vh, vh, QImage::Format_RGB888);
    if (picture.isNull())
        return {};
    if (!convertVisible(video, picture.bits(), picture.bytesPerLine()))
        return {};

    // Wraps the payload without copying it; the frame outlives the wrapper.
    const QImage temperature(reinterpret_cast<const uchar*>(thermal.data.constData()), thermal.width, thermal.height,
        thermal.width * 3, QImage::Format_RGB888);
    // Scaled straight into the composite: a scaled copy converted back to
    // 24 bits and copied in would cost three times as much.
    QPainter painter;
    if (!painter.begin(&picture))
        return {};
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRect(vw, 0, vh, vh), temperature);
    if (!painter.end())
        return {};
    return picture;
}

QString writeJpeg(const QImage& picture, const Names& names)
{
    for (int counter = -1; counter < kMaxCounter; ++counter) {
        QString path = names.output(counter);
        if (QFileInfo::exists(path))
            continue;
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            // Taken by another snapshot since the check: try the next name.
            if (QFileInfo::exists(path))
                continue;
            qDebug() << "写入失败" << path << file.errorString();
            return {};
        }
        QImageWriter writer(&file, "jpeg");
        writer.setQuality(kJpegQuality);
        bool written = writer.write(picture);
        file.close();
        written = written && file.error() == QFileDevice::NoError && QFileInfo(path).size() > 0;
        if (written)
            return path;
        qDebug() << "写入失败" << path << writer.errorString() << file.errorString();
        file.remove();
        return {};
    }
    qDebug() << "写入失败" << names.output() << "no free name";
    return {};
}

Result write(const Request& request, const FrameData& video, const FrameData& thermal)
{
    if (!isUsableVideoFrame(video) || !isUsableThermalFrame(thermal)) {
        qDebug() << "snapshot: no usable frames" << video.width << video.height << video.data.size() << thermal.width
                 << thermal.height << thermal.data.size();
        return {};
    }
    if (!canName(request)) {
        qDebug() << "snapshot: cannot name" << request.id << request.temperature;
        return {};
    }
    const Names names = buildNames(request, video.pts);
    if (!QDir().mkpath(names.folder)) {
        qDebug() << "写入失败" << names.folder;
        return {};
    }
    const QImage picture = compose(video, thermal);
    if (picture.isNull()) {
        qDebug() << "写入失败"
                 << "composite";
        return {};
    }
    const QString path = writeJpeg(picture, names);
    if (path.isEmpty())
        return {};
    Result result;
    result.ok = true;
    result.lensfilePath = path;
    result.temperaturePath = names.temperaturePath;
    return result;
}

} // namespace AlarmSnapshot
