#include "Scene.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace camsim {

namespace {

// Fills an ellipse into one plane; coordinates in that plane's pixels.
template <typename T> void fillEllipse(T* plane, int w, int h, double cx, double cy, double rx, double ry, T value)
{
    if (rx <= 0 || ry <= 0)
        return;
    const int y0 = std::max(0, static_cast<int>(cy - ry));
    const int y1 = std::min(h - 1, static_cast<int>(cy + ry));
    for (int y = y0; y <= y1; ++y) {
        const double dy = (y - cy) / ry;
        const double half = rx * std::sqrt(std::max(0.0, 1 - dy * dy));
        const int x0 = std::max(0, static_cast<int>(cx - half));
        const int x1 = std::min(w - 1, static_cast<int>(cx + half));
        for (int x = x0; x <= x1; ++x)
            plane[static_cast<size_t>(y) * w + x] = value;
    }
}

template <typename T>
void fillRect(T* plane, int w, int h, double left, double top, double right, double bottom, T value)
{
    const int x0 = std::max(0, static_cast<int>(left));
    const int x1 = std::min(w - 1, static_cast<int>(right));
    const int y0 = std::max(0, static_cast<int>(top));
    const int y1 = std::min(h - 1, static_cast<int>(bottom));
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            plane[static_cast<size_t>(y) * w + x] = value;
}

template <typename T> void mirrorRows(T* plane, int w, int h)
{
    for (int y = 0; y < h; ++y)
        std::reverse(plane + static_cast<size_t>(y) * w, plane + static_cast<size_t>(y + 1) * w);
}

} // namespace

Scene::Scene(const Crowd& crowd, int videoWidth, int videoHeight, int thermalWidth, int thermalHeight)
    : m_crowd(crowd)
{
    m_video.width = videoWidth;
    m_video.height = videoHeight;
    const size_t luma = static_cast<size_t>(videoWidth) * videoHeight;
    const size_t chroma = static_cast<size_t>(videoWidth / 2) * (videoHeight / 2);
    m_video.y.resize(luma);
    m_video.u.resize(chroma);
    m_video.v.resize(chroma);
    // A lit wall fading towards the floor, with a doorway on the left, so a
    // mirrored picture is easy to tell.
    m_backgroundY.resize(luma);
    for (int y = 0; y < videoHeight; ++y) {
        const auto shade = static_cast<uint8_t>(170 - 90 * y / std::max(1, videoHeight));
        std::memset(m_backgroundY.data() + static_cast<size_t>(y) * videoWidth, shade, videoWidth);
    }
    fillRect<uint8_t>(m_backgroundY.data(), videoWidth, videoHeight, videoWidth * 0.06, videoHeight * 0.15,
        videoWidth * 0.2, videoHeight * 0.85, 50);
    m_thermal.width = thermalWidth;
    m_thermal.height = thermalHeight;
    m_thermal.pixels.resize(static_cast<size_t>(thermalWidth) * thermalHeight);
}

Scene::Figure Scene::figureAt(int64_t tMs) const
{
    Figure f;
    Person p;
    if (!m_crowd.personAt(tMs, p))
        return f;
    const double k = Crowd::progress(p, tMs);
    if (k >= 2)
        return f;
    f.visible = true;
    f.temperature = p.temperature;
    if (k <= 1) {
        // Walks in from the far left and grows while coming closer.
        f.cx = 0.15 + 0.35 * k;
        f.size = 0.05 + 0.1 * k;
    } else {
        f.cx = 0.5 + 0.6 * (k - 1);
        f.size = 0.15;
    }
    f.cy = 0.42;
    return f;
}

const YuvPicture& Scene::renderVideo(int64_t tMs, int64_t frameNumber, bool mirror)
{
    const int w = m_video.width;
    const int h = m_video.height;
    std::memcpy(m_video.y.data(), m_backgroundY.data(), m_video.y.size());
    std::memset(m_video.u.data(), 124, m_video.u.size());
    std::memset(m_video.v.data(), 132, m_video.v.size());
    const Figure f = figureAt(tMs);
    if (f.visible) {
        const double r = f.size * h;
        const double cx = f.cx * w;
        const double cy = f.cy * h;
        // Body, then the head with a skin tone in the chroma planes.
        fillRect<uint8_t>(m_video.y.data(), w, h, cx - 1.3 * r, cy + 0.9 * r, cx + 1.3 * r, h, 60);
        fillRect<uint8_t>(
            m_video.u.data(), w / 2, h / 2, (cx - 1.3 * r) / 2, (cy + 0.9 * r) / 2, (cx + 1.3 * r) / 2, h / 2.0, 150);
        fillEllipse<uint8_t>(m_video.y.data(), w, h, cx, cy, 0.8 * r, r, 175);
        fillEllipse<uint8_t>(m_video.u.data(), w / 2, h / 2, cx / 2, cy / 2, 0.4 * r, 0.5 * r, 110);
        fillEllipse<uint8_t>(m_video.v.data(), w / 2, h / 2, cx / 2, cy / 2, 0.4 * r, 0.5 * r, 150);
    }
    // A marker running along the bottom edge, one step per picture.
    const int step = std::max(8, w / 100);
    const double x = static_cast<double>((frameNumber * step) % std::max(1, w - step));
    fillRect<uint8_t>(m_video.y.data(), w, h, x, h - step - 4, x + step, h - 5, 235);
    if (mirror) {
        mirrorRows(m_video.y.data(), w, h);
        mirrorRows(m_video.u.data(), w / 2, h / 2);
        mirrorRows(m_video.v.data(), w / 2, h / 2);
    }
    return m_video;
}

const ThermalPicture& Scene::renderThermal(int64_t tMs, bool mirror)
{
    const int w = m_thermal.width;
    const int h = m_thermal.height;
    int16_t* px = m_thermal.pixels.data();
    // Room air about 22 °C, a little warmer towards the ceiling.
    for (int y = 0; y < h; ++y) {
        const auto v = static_cast<int16_t>(220 - ThermalZeroTenths + 15 * (h - y) / std::max(1, h));
        std::fill(px + static_cast<size_t>(y) * w, px + static_cast<size_t>(y + 1) * w, v);
    }
    m_thermal.hottest = 235;
    const Figure f = figureAt(tMs);
    if (f.visible) {
        const double r = f.size * h;
        const double cx = f.cx * w;
        const double cy = f.cy * h;
        // Clothes are cooler than skin; the face is as warm as the person.
        fillRect<int16_t>(
            px, w, h, cx - 1.3 * r, cy + 0.9 * r, cx + 1.3 * r, h, static_cast<int16_t>(305 - ThermalZeroTenths));
        fillEllipse<int16_t>(px, w, h, cx, cy, 0.8 * r, r, static_cast<int16_t>(f.temperature - 8 - ThermalZeroTenths));
        fillEllipse<int16_t>(
            px, w, h, cx, cy, 0.4 * r, 0.5 * r, static_cast<int16_t>(f.temperature - ThermalZeroTenths));
        m_thermal.hottest = f.temperature;
    }
    if (mirror)
        mirrorRows(px, w, h);
    return m_thermal;
}

} // namespace camsim
