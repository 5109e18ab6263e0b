// A one-bit-deep picture of a label, drawn by the vendor stand-in and saved
// as a grey-scale PNG preview. Coordinates are printer dots; pictures are
// bounded in size so a wild template cannot exhaust memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace printerstandin {

class LabelRaster {
public:
    static constexpr int maxSide = 4000;

    LabelRaster(int width, int height);

    int width() const { return m_width; }
    int height() const { return m_height; }

    // QR code for data, cell by cell of cellSize dots, turned by
    // rotation × 90 degrees. False when the data cannot be encoded.
    bool drawQrCode(int x, int y, int rotation, int cellSize, const std::string& data);
    // Text in a 5×7 dot font, each dot scaled by the factors, turned by
    // rotation × 90 degrees; bytes outside printable ASCII show as a box.
    void drawText(int x, int y, int rotation, int horizontal, int vertical, const std::string& text);
    bool savePng(const std::string& path) const;
    // Dots left of x or above y are not drawn from now on.
    void cutBefore(int x, int y);

    // Size a text or QR code of this many cells takes before turning.
    static int textWidth(const std::string& text, int horizontal);
    static int textHeight(int vertical);
    static int qrSide(const std::string& data, int cellSize);

private:
    void setDot(int x, int y);
    void fillCell(int x, int y, int w, int h);

    int m_width;
    int m_height;
    int m_firstX = 0;
    int m_firstY = 0;
    std::vector<std::uint8_t> m_grey;
};

} // namespace printerstandin
