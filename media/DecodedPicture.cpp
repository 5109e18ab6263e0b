#include "media/DecodedPicture.h"

#include <QArrayData>

#include <cstring>
#include <limits>

namespace {

void copyPlane(char*& dst, const uint8_t* src, int stride, int width, int rows)
{
    for (int r = 0; r < rows; ++r) {
        std::memcpy(dst, src + static_cast<std::ptrdiff_t>(r) * stride, static_cast<size_t>(width));
        dst += width;
    }
}

} // namespace

qint64 packedYuv420Size(int width, int height)
{
    if (width <= 0 || height <= 0)
        return -1;
    const qint64 total = qint64(width) * height + 2 * qint64(width / 2) * (height / 2);
    return total < std::numeric_limits<int>::max() - 1024 ? total : -1;
}

bool packYuv420(const DecodedPicture& picture, QByteArray& out)
{
    const int w = picture.width;
    const int h = picture.height;
    const int cw = w / 2;
    const int ch = h / 2;
    const qint64 total = packedYuv420Size(w, h);
    if (total < 0)
        return false;
    if (!picture.payload.isNull()) {
        // Decoded in place; the size is the one check left.
        if (picture.payload.size() != total)
            return false;
        out = picture.payload;
        return true;
    }
    if (!picture.y || picture.strideY < w)
        return false;
    if (ch > 0 && cw > 0 && (!picture.u || !picture.v || picture.strideU < cw || picture.strideV < cw))
        return false;
    out.resize(int(total));
    char* dst = out.data();
    copyPlane(dst, picture.y, picture.strideY, w, h);
    if (cw > 0 && ch > 0) {
        copyPlane(dst, picture.u, picture.strideU, cw, ch);
        copyPlane(dst, picture.v, picture.strideV, cw, ch);
    }
    return true;
}

QByteArray alignedPayload(int size, int slack)
{
    if (size < 0 || slack < 0 || size > std::numeric_limits<int>::max() - slack - 1)
        return QByteArray();
    // QByteArray's own allocation puts the bytes 8 bytes off a 16-byte
    // boundary; its array header can carry any alignment, and the array frees
    // it as usual.
    QArrayData* d = QArrayData::allocate(1, kPayloadAlignment, size_t(size) + size_t(slack) + 1);
    if (!d)
        return QByteArray();
    d->size = size;
    static_cast<char*>(d->data())[size] = '\0';
    return QByteArray(QByteArrayDataPtr { static_cast<QByteArrayData*>(d) });
}
