// Draws the simulated camera's two pictures: the visible picture (planar
// YUV 4:2:0) and the temperature picture (signed 16-bit values), with the
// crowd's current person walking up to the face frame in the middle. One
// Scene per stream thread; the drawing buffers are its own.
//
// The visible picture comes in two looks: flat shapes that an encoder codes in
// a few hundred bytes, and a sensor look with fine texture on every surface
// and fresh noise in every picture, which costs an encoder (and a decoder)
// what a real camera's picture does at a few Mbit/s.
#pragma once

#include "Crowd.h"

#include <cstdint>
#include <vector>

namespace camsim {

struct YuvPicture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> y, u, v; // tightly packed planes
};

struct ThermalPicture {
    int width = 0;
    int height = 0;
    std::vector<int16_t> pixels; // row by row
    int hottest = 0; // tenths of a degree Celsius at the warmest spot
};

// Temperature-picture values are tenths of a degree above 20 °C, which keeps
// a scene of 19.7 to 49.7 °C within the viewer's palette.
constexpr int ThermalZeroTenths = 200;

enum class SceneLook { Flat, Sensor };

class Scene {
public:
    Scene(const Crowd& crowd, int videoWidth, int videoHeight, int thermalWidth, int thermalHeight,
        SceneLook look = SceneLook::Flat);

    // The visible picture at t ms after the camera started; `frameNumber`
    // moves a marker so consecutive pictures differ.
    const YuvPicture& renderVideo(int64_t tMs, int64_t frameNumber, bool mirror);
    const ThermalPicture& renderThermal(int64_t tMs, bool mirror);

private:
    struct Figure {
        bool visible = false;
        double cx = 0, cy = 0; // head centre, as a share of the picture
        double size = 0; // head radius, as a share of the picture height
        int temperature = 0;
    };
    Figure figureAt(int64_t tMs) const;
    void drawTexturedBackground();
    void drawFigure(const Figure& f);
    void addSensorNoise(int64_t frameNumber);

    const Crowd& m_crowd;
    const SceneLook m_look;
    YuvPicture m_video;
    std::vector<uint8_t> m_backgroundY;
    std::vector<uint8_t> m_backgroundU;
    std::vector<uint8_t> m_backgroundV;
    // Sensor look: a 256 x 256 tile of fine texture that moves with the person,
    // and the noise added to each picture (split into a rising and a falling
    // part so that it is added with saturation).
    std::vector<int8_t> m_tile;
    std::vector<uint8_t> m_noiseUp;
    std::vector<uint8_t> m_noiseDown;
    ThermalPicture m_thermal;
};

} // namespace camsim
