#pragma once
// Frames for the snapshot tests: flat decoded pictures and false-colour
// pictures whose colours are known.

#include "media/FrameData.h"

#include <QByteArray>
#include <QColor>
#include <QImage>

namespace snapshotframes {

// 2020-05-01 08:30:00 UTC.
constexpr qint64 kSecond = 1588321800;

// A decoded picture of one colour: planar YUV 4:2:0, Y then U then V.
inline FrameData yuvFrame(int w, int h, int y, int u, int v, qint64 pts = kSecond * 1000)
{
    FrameData f;
    f.type = 0;
    f.width = w;
    f.height = h;
    f.pts = pts;
    f.data
        = QByteArray(w * h, char(y)) + QByteArray((w / 2) * (h / 2), char(u)) + QByteArray((w / 2) * (h / 2), char(v));
    return f;
}

// A false-colour picture: the left half `left`, the right half `right`.
inline FrameData rgbFrame(int w, int h, QColor left, QColor right, qint64 pts = kSecond * 1000)
{
    FrameData f;
    f.type = 10;
    f.width = w;
    f.height = h;
    f.pts = pts;
    f.data.resize(w * h * 3);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const QColor c = x < w / 2 ? left : right;
            char* p = f.data.data() + (y * w + x) * 3;
            p[0] = char(c.red());
            p[1] = char(c.green());
            p[2] = char(c.blue());
        }
    }
    return f;
}

inline bool near(QRgb a, QColor b, int tolerance)
{
    return qAbs(qRed(a) - b.red()) <= tolerance && qAbs(qGreen(a) - b.green()) <= tolerance
        && qAbs(qBlue(a) - b.blue()) <= tolerance;
}

} // namespace snapshotframes
