#include "Scene.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace camsim {

namespace {

constexpr int kTileBits = 8;
constexpr int kTileMask = (1 << kTileBits) - 1;
constexpr size_t kNoiseSpan = size_t(1) << 19;

uint32_t hash(uint32_t x, uint32_t y, uint32_t salt)
{
    uint32_t h = x * 0x9e3779b1U ^ (y + 0x7f4a7c15U) * 0x85ebca6bU ^ salt * 0xc2b2ae35U;
    h ^= h >> 16;
    h *= 0x7feb352dU;
    h ^= h >> 15;
    h *= 0x846ca68bU;
    h ^= h >> 16;
    return h;
}

// A value from -amplitude to amplitude.
int spread(uint32_t h, int amplitude)
{
    return static_cast<int>(h % static_cast<uint32_t>(2 * amplitude + 1)) - amplitude;
}

uint8_t clampByte(int v)
{
    return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

// Paints f(x, y) into the pixels of an ellipse or a rectangle of one plane;
// coordinates in that plane's pixels.
template <typename T, typename Value>
void paintEllipse(T* plane, int w, int h, double cx, double cy, double rx, double ry, Value value)
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
            plane[static_cast<size_t>(y) * w + x] = value(x, y);
    }
}

template <typename T, typename Value>
void paintRect(T* plane, int w, int h, double left, double top, double right, double bottom, Value value)
{
    const int x0 = std::max(0, static_cast<int>(left));
    const int x1 = std::min(w - 1, static_cast<int>(right));
    const int y0 = std::max(0, static_cast<int>(top));
    const int y1 = std::min(h - 1, static_cast<int>(bottom));
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            plane[static_cast<size_t>(y) * w + x] = value(x, y);
}

// Adds noise to one row with saturation: up[] raises, down[] lowers.
void addNoise(uint8_t* row, const uint8_t* up, const uint8_t* down, int n)
{
    int x = 0;
#if defined(__SSE2__)
    for (; x + 16 <= n; x += 16) {
        __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x));
        p = _mm_adds_epu8(p, _mm_loadu_si128(reinterpret_cast<const __m128i*>(up + x)));
        p = _mm_subs_epu8(p, _mm_loadu_si128(reinterpret_cast<const __m128i*>(down + x)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(row + x), p);
    }
#endif
    for (; x < n; ++x)
        row[x] = clampByte(int(row[x]) + up[x] - down[x]);
}

template <typename T> void fillEllipse(T* plane, int w, int h, double cx, double cy, double rx, double ry, T value)
{
    paintEllipse(plane, w, h, cx, cy, rx, ry, [value](int, int) { return value; });
}

template <typename T>
void fillRect(T* plane, int w, int h, double left, double top, double right, double bottom, T value)
{
    paintRect(plane, w, h, left, top, right, bottom, [value](int, int) { return value; });
}

template <typename T> void mirrorRows(T* plane, int w, int h)
{
    for (int y = 0; y < h; ++y)
        std::reverse(plane + static_cast<size_t>(y) * w, plane + static_cast<size_t>(y + 1) * w);
}

} // namespace

Scene::Scene(const Crowd& crowd, int videoWidth, int videoHeight, int thermalWidth, int thermalHeight, SceneLook look)
    : m_crowd(crowd)
    , m_look(look)
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
    if (m_look == SceneLook::Sensor)
        drawTexturedBackground();
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

void Scene::drawTexturedBackground()
{
    const int w = m_video.width;
    const int h = m_video.height;
    // The doorway as drawn above; its wood has a vertical grain.
    const int doorLeft = static_cast<int>(w * 0.06);
    const int doorRight = std::min(w - 1, static_cast<int>(w * 0.2));
    const int doorTop = static_cast<int>(h * 0.15);
    const int doorBottom = std::min(h - 1, static_cast<int>(h * 0.85));
    const int seam = std::max(16, w / 8);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = m_backgroundY.data() + static_cast<size_t>(y) * w;
        for (int x = 0; x < w; ++x) {
            const auto ux = static_cast<uint32_t>(x);
            const auto uy = static_cast<uint32_t>(y);
            int v = row[x];
            if (x >= doorLeft && x <= doorRight && y >= doorTop && y <= doorBottom)
                v += spread(hash(ux / 2, 0, 3), 9) + spread(hash(ux, uy, 4), 3);
            else
                v += spread(hash(ux, uy, 1), 6) + spread(hash(ux / 8, uy / 8, 2), 4) - (x % seam < 2 ? 18 : 0);
            row[x] = clampByte(v);
        }
    }
    const int cw = w / 2;
    const int ch = h / 2;
    m_backgroundU.resize(static_cast<size_t>(cw) * ch);
    m_backgroundV.resize(m_backgroundU.size());
    for (int y = 0; y < ch; ++y)
        for (int x = 0; x < cw; ++x) {
            const auto ux = static_cast<uint32_t>(x);
            const auto uy = static_cast<uint32_t>(y);
            const size_t i = static_cast<size_t>(y) * cw + x;
            m_backgroundU[i] = clampByte(124 + spread(hash(ux, uy, 5), 2) + spread(hash(ux / 4, uy / 4, 6), 2));
            m_backgroundV[i] = clampByte(132 + spread(hash(ux, uy, 7), 2) + spread(hash(ux / 4, uy / 4, 8), 2));
        }
    // Cloth: a coarse weave with grain.
    m_tile.resize(size_t(1) << (2 * kTileBits));
    for (int y = 0; y <= kTileMask; ++y)
        for (int x = 0; x <= kTileMask; ++x)
            m_tile[(static_cast<size_t>(y) << kTileBits) | static_cast<size_t>(x)] = static_cast<int8_t>(
                (((x >> 1) ^ (y >> 1)) & 1 ? 8 : -8) + spread(hash(uint32_t(x), uint32_t(y), 9), 5));
    // Sensor noise, stronger in some places than in others as on a real
    // sensor: luma from 2 to 6 levels (standard deviation) in runs of 64
    // pixels, chroma about 1.5. Noise of one strength everywhere would make an
    // encoder at a fixed bit rate flip between coding all of it and none.
    const size_t part = kNoiseSpan + static_cast<size_t>(w);
    m_noiseUp.resize(2 * part);
    m_noiseDown.resize(2 * part);
    for (size_t i = 0; i < 2 * part; ++i) {
        const int amplitude = i < part ? 3 + static_cast<int>(hash(uint32_t(i / 64), 17, 18) % 5) : 2;
        const int n = spread(hash(uint32_t(i), 11, 12), amplitude) + spread(hash(uint32_t(i), 13, 14), amplitude);
        m_noiseUp[i] = static_cast<uint8_t>(std::max(n, 0));
        m_noiseDown[i] = static_cast<uint8_t>(std::max(-n, 0));
    }
}

void Scene::drawFigure(const Figure& f)
{
    const int w = m_video.width;
    const int h = m_video.height;
    const double r = f.size * h;
    const double cx = f.cx * w;
    const double cy = f.cy * h;
    if (m_look == SceneLook::Flat) {
        // Body, then the head with a skin tone in the chroma planes.
        fillRect<uint8_t>(m_video.y.data(), w, h, cx - 1.3 * r, cy + 0.9 * r, cx + 1.3 * r, h, 60);
        fillRect<uint8_t>(
            m_video.u.data(), w / 2, h / 2, (cx - 1.3 * r) / 2, (cy + 0.9 * r) / 2, (cx + 1.3 * r) / 2, h / 2.0, 150);
        fillEllipse<uint8_t>(m_video.y.data(), w, h, cx, cy, 0.8 * r, r, 175);
        fillEllipse<uint8_t>(m_video.u.data(), w / 2, h / 2, cx / 2, cy / 2, 0.4 * r, 0.5 * r, 110);
        fillEllipse<uint8_t>(m_video.v.data(), w / 2, h / 2, cx / 2, cy / 2, 0.4 * r, 0.5 * r, 150);
        return;
    }
    // The texture moves with the person.
    const int ox = static_cast<int>(cx);
    const int oy = static_cast<int>(cy);
    auto cloth = [this, ox, oy](int x, int y) {
        return m_tile[(static_cast<size_t>((y - oy) & kTileMask) << kTileBits)
            | static_cast<size_t>((x - ox) & kTileMask)];
    };
    auto skin = [ox, oy](int x, int y) {
        return spread(hash(static_cast<uint32_t>(x - ox), static_cast<uint32_t>(y - oy), 15), 5);
    };
    uint8_t* py = m_video.y.data();
    uint8_t* pu = m_video.u.data();
    uint8_t* pv = m_video.v.data();
    paintRect(py, w, h, cx - 1.3 * r, cy + 0.9 * r, cx + 1.3 * r, h,
        [&](int x, int y) { return clampByte(60 + cloth(x, y)); });
    paintRect(pu, w / 2, h / 2, (cx - 1.3 * r) / 2, (cy + 0.9 * r) / 2, (cx + 1.3 * r) / 2, h / 2.0,
        [&](int x, int y) { return clampByte(150 + cloth(2 * x, 2 * y) / 4); });
    paintEllipse(py, w, h, cx, cy, 0.8 * r, r, [&](int x, int y) { return clampByte(175 + skin(x, y)); });
    paintEllipse(pu, w / 2, h / 2, cx / 2, cy / 2, 0.4 * r, 0.5 * r,
        [&](int x, int y) { return clampByte(110 + skin(x, y) / 3); });
    paintEllipse(pv, w / 2, h / 2, cx / 2, cy / 2, 0.4 * r, 0.5 * r,
        [&](int x, int y) { return clampByte(150 + skin(x, y) / 3); });
    // Eyes and mouth, so that the head reads as a face.
    fillEllipse<uint8_t>(py, w, h, cx - 0.3 * r, cy - 0.15 * r, 0.12 * r, 0.07 * r, 45);
    fillEllipse<uint8_t>(py, w, h, cx + 0.3 * r, cy - 0.15 * r, 0.12 * r, 0.07 * r, 45);
    fillEllipse<uint8_t>(py, w, h, cx, cy + 0.5 * r, 0.25 * r, 0.06 * r, 95);
}

void Scene::addSensorNoise(int64_t frameNumber)
{
    const int w = m_video.width;
    const int h = m_video.height;
    // Each row takes its noise from another place of the table, so no two
    // pictures share it and no motion search finds it again.
    uint64_t state = (uint64_t(hash(uint32_t(frameNumber), uint32_t(uint64_t(frameNumber) >> 32), 16)) << 1) | 1;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return static_cast<size_t>(state % kNoiseSpan);
    };
    const uint8_t* up = m_noiseUp.data();
    const uint8_t* down = m_noiseDown.data();
    for (int y = 0; y < h; ++y) {
        const size_t at = next();
        addNoise(m_video.y.data() + static_cast<size_t>(y) * w, up + at, down + at, w);
    }
    const size_t chroma = kNoiseSpan + static_cast<size_t>(w);
    for (uint8_t* plane : { m_video.u.data(), m_video.v.data() })
        for (int y = 0; y < h / 2; ++y) {
            const size_t at = chroma + next();
            addNoise(plane + static_cast<size_t>(y) * (w / 2), up + at, down + at, w / 2);
        }
}

const YuvPicture& Scene::renderVideo(int64_t tMs, int64_t frameNumber, bool mirror)
{
    const int w = m_video.width;
    const int h = m_video.height;
    std::memcpy(m_video.y.data(), m_backgroundY.data(), m_video.y.size());
    if (m_look == SceneLook::Sensor) {
        std::memcpy(m_video.u.data(), m_backgroundU.data(), m_video.u.size());
        std::memcpy(m_video.v.data(), m_backgroundV.data(), m_video.v.size());
    } else {
        std::memset(m_video.u.data(), 124, m_video.u.size());
        std::memset(m_video.v.data(), 132, m_video.v.size());
    }
    const Figure f = figureAt(tMs);
    if (f.visible)
        drawFigure(f);
    // A marker running along the bottom edge, one step per picture.
    const int step = std::max(8, w / 100);
    const double x = static_cast<double>((frameNumber * step) % std::max(1, w - step));
    fillRect<uint8_t>(m_video.y.data(), w, h, x, h - step - 4, x + step, h - 5, 235);
    if (m_look == SceneLook::Sensor)
        addSensorNoise(frameNumber);
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
