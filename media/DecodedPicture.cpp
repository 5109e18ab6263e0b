#include "media/DecodedPicture.h"

#include <cstring>

namespace {

void copyPlane(char*& dst, const uint8_t* src, int stride, int width, int rows)
{
    for (int r = 0; r < rows; ++r) {
        std::memcpy(dst, src + static_cast<std::ptrdiff_t>(r) * stride, static_cast<size_t>(width));
        dst += width;
    }
}

} // namespace

bool packYuv420(const DecodedPicture& picture, QByteArray& out)
{
    const int w = picture.width;
    const int h = picture.height;
    const int cw = w / 2;
    const int ch = h / 2;
    if (w <= 0 || h <= 0 || !picture.y || picture.strideY < w)
        return false;
    if (ch > 0 && cw > 0 && (!picture.u || !picture.v || picture.strideU < cw || picture.strideV < cw))
        return false;
    const qint64 total = qint64(w) * h + 2 * qint64(cw) * ch;
    if (total > 0x7fffffff)
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
