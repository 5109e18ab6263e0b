#include "device/AlarmSnapshot.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QLocale>
#include <QPainter>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

namespace AlarmSnapshot {

namespace {

constexpr int kJpegQuality = 100;
// Pictures of people are kept from other users of the computer.
constexpr mode_t kPictureMode = 0600;
constexpr mode_t kFolderMode = 0700;

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
        // The frame holds chroma for whole pairs of rows and columns only;
        // of an odd size, the last row or column takes its neighbour's.
        const int cw = w / 2;
        const int ch = h / 2;
        const int fw = (w + 1) / 2;
        const int fh = (h + 1) / 2;
        std::vector<uint8_t> padded;
        if (fw != cw || fh != ch) {
            padded.resize(size_t(2) * fw * fh);
            uint8_t* out = padded.data();
            for (const uint8_t* plane : { u, v }) {
                for (int row = 0; row < fh; ++row) {
                    const uint8_t* in = plane + qint64(std::min(row, ch - 1)) * cw;
                    std::copy(in, in + cw, out);
                    if (fw > cw)
                        out[cw] = in[cw - 1];
                    out += fw;
                }
            }
            u = padded.data();
            v = u + qint64(fw) * fh;
        }
        const uint8_t* const src[4] = { y, u, v, nullptr };
        const int srcStride[4] = { w, fw, fw, 0 };
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
    if (w < 2 || h < 2 || w > kMaxSide || h > kMaxSide)
        return false;
    return qint64(frame.data.size()) >= qint64(w) * h + 2 * qint64(w / 2) * (h / 2);
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

// Creates `path` with the folders missing above it, each for its owner
// only; folders that exist stay as they are.
bool makePrivatePath(const QString& path)
{
    QStringList missing;
    for (QString at = QDir::cleanPath(path); !at.isEmpty() && !QFileInfo::exists(at);) {
        missing.prepend(at);
        const int slash = at.lastIndexOf(QLatin1Char('/'));
        if (slash <= 0)
            break;
        at.truncate(slash);
    }
    for (const QString& folder : qAsConst(missing)) {
        // Another writer may have made it meanwhile.
        if (::mkdir(QFile::encodeName(folder).constData(), kFolderMode) != 0 && errno != EEXIST)
            return false;
    }
    return QFileInfo(path).isDir();
}

enum class Claim { Taken, NameInUse, Failed };

// Gives the file at `from` the name `to` in one step that never replaces
// another file, so that two writers can never end up with the same name.
Claim claimName(const QString& from, const QString& to)
{
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return Claim::Taken;
    if (errno == EEXIST)
        return Claim::NameInUse;
    if (errno != EINVAL && errno != ENOSYS)
        return Claim::Failed;
    // A file system without that kind of rename: a hard link claims the name
    // just as surely.
    if (::link(source.constData(), target.constData()) != 0)
        return errno == EEXIST ? Claim::NameInUse : Claim::Failed;
    ::unlink(source.constData());
    return Claim::Taken;
}

// Opens a new hidden file for a picture being written, in `folder`,
// readable by its owner only; `path` is its name.
bool openPartial(QFile& file, QString& path, const QString& folder)
{
    for (int attempt = 0; attempt < 8; ++attempt) {
        path = folder + QLatin1String(kPartialPrefix) + QString::number(QRandomGenerator::global()->generate64(), 16)
            + QLatin1String(kPartialSuffix);
        const int fd
            = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kPictureMode);
        if (fd >= 0) {
            if (file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle))
                return true;
            ::close(fd);
            QFile::remove(path);
            return false;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

// Makes a new name in `folder` survive a power cut.
void syncFolder(const QString& folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0)
        qDebug() << "snapshot: folder not synced" << folder << qt_error_string(errno);
    if (fd >= 0)
        ::close(fd);
}

// The picture is written under a hidden name of its own and takes its alarm
// name only once it is whole: a program that ends in the middle of a write
// (a kill, a power cut) leaves no cut-off picture under an alarm name, where
// the list and the statistics would take it for a complete one.
QString writeJpeg(const QImage& picture, const Names& names)
{
    QFile file;
    QString partial;
    if (!openPartial(file, partial, names.folder + QLatin1Char('/'))) {
        qDebug() << "写入失败" << names.output() << file.errorString();
        return {};
    }
    QImageWriter writer(&file, "jpeg");
    writer.setQuality(kJpegQuality);
    bool written = writer.write(picture);
    // On the disk before it takes its name: after a power cut the name
    // would otherwise hold an empty or cut-off file.
    written = written && file.flush() && ::fsync(file.handle()) == 0;
    file.close();
    written = written && file.error() == QFileDevice::NoError && QFileInfo(partial).size() > 0;
    if (!written) {
        qDebug() << "写入失败" << names.output() << writer.errorString() << file.errorString();
        QFile::remove(partial);
        return {};
    }
    for (int counter = -1; counter < kMaxCounter; ++counter) {
        const QString path = names.output(counter);
        switch (claimName(partial, path)) {
        case Claim::Taken:
            syncFolder(names.folder);
            return path;
        case Claim::NameInUse:
            continue;
        case Claim::Failed:
            qDebug() << "写入失败" << path << qt_error_string(errno);
            QFile::remove(partial);
            return {};
        }
    }
    qDebug() << "写入失败" << names.output() << "no free name";
    QFile::remove(partial);
    return {};
}

int removeLeftovers(const QString& dir)
{
    // Far longer than any one write takes.
    constexpr int kAbandonedAfterSeconds = 600;
    // Only the folders of recent days are looked through, so that a start
    // does not read years of pictures: what an end left there is removed by
    // one of the starts that follow it.
    constexpr int kDaysBack = 7;
    const QDateTime abandoned = QDateTime::currentDateTimeUtc().addSecs(-kAbandonedAfterSeconds);
    const QDate today = QDate::currentDate();
    int removed = 0;
    for (int offset = -kDaysBack; offset <= 1; ++offset) {
        const QDir folder(dir + QLatin1Char('/') + today.addDays(offset).toString(QStringLiteral("yyyy-MM-dd")));
        const QFileInfoList partials
            = folder.entryInfoList({ QLatin1String(kPartialGlob) }, QDir::Files | QDir::Hidden | QDir::System);
        for (const QFileInfo& partial : partials) {
            if (partial.lastModified().toUTC() < abandoned && QFile::remove(partial.absoluteFilePath()))
                ++removed;
        }
    }
    return removed;
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
    if (!makePrivatePath(names.folder)) {
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
