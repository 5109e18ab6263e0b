// Draws the simulated camera's two pictures: the visible picture (planar
// YUV 4:2:0) and the temperature picture (signed 16-bit values), with the
// crowd's current person walking up to the face frame in the middle. One
// Scene per stream thread; the drawing buffers are its own.
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

class Scene {
public:
    Scene(const Crowd& crowd, int videoWidth, int videoHeight, int thermalWidth, int thermalHeight);

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

    const Crowd& m_crowd;
    YuvPicture m_video;
    std::vector<uint8_t> m_backgroundY;
    ThermalPicture m_thermal;
};

} // namespace camsim
