// Stand-in for the label printer vendor's SDK, loaded at run time by file
// name. Every call is traced; the label is collected between
// PTK_ClearBuffer and PTK_PrintLabel and, when $PRINTER_PREVIEW_DIR is set,
// saved there as a PNG. Results: 0 for success, -1 for a failure (also when
// $PRINTER_FAIL names the function).

#include <CDFPSK.h>

#include "CallTrace.h"
#include "LabelRaster.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <process.h>
#define CDFPSK_API extern "C" __declspec(dllexport)
#else
#include <unistd.h>
#define CDFPSK_API extern "C" __attribute__((visibility("default")))
#endif

using printerstandin::CallTrace;
using printerstandin::failureInjected;
using printerstandin::LabelRaster;

namespace {

constexpr int ok = 0;
constexpr int failed = -1;
// White border around the preview, so a QR code at the label's edge still
// has its quiet zone.
constexpr int border = 16;
constexpr std::size_t maxItems = 256;

struct Item {
    bool qrCode = false;
    int x = 0;
    int y = 0;
    int rotation = 0;
    int horizontal = 1;
    int vertical = 1;
    std::string text;
};

struct Label {
    bool portOpen = false;
    int width = 0;
    int height = 0;
    int originX = 0;
    int originY = 0;
    std::vector<Item> items;
};

std::mutex& labelLock()
{
    static std::mutex lock;
    return lock;
}

Label& label()
{
    static Label theLabel;
    return theLabel;
}

// Runs a call that needs the open port, under the lock.
template <typename Action> int withOpenPort(const char* function, Action action)
{
    if (failureInjected(function)) {
        return failed;
    }
    std::lock_guard<std::mutex> guard(labelLock());
    if (!label().portOpen) {
        return failed;
    }
    return action(label());
}

void extentOf(const Item& item, int& right, int& bottom)
{
    int w = item.qrCode ? LabelRaster::qrSide(item.text, item.horizontal)
                        : LabelRaster::textWidth(item.text, item.horizontal);
    int h = item.qrCode ? w : LabelRaster::textHeight(item.vertical);
    if (item.rotation % 2 != 0) {
        std::swap(w, h);
    }
    right = std::max(right, item.x + w);
    bottom = std::max(bottom, item.y + h);
}

long processId()
{
#if defined(_WIN32)
    return _getpid();
#else
    return getpid();
#endif
}

bool savePreview(const Label& current)
{
    const char* folder = std::getenv("PRINTER_PREVIEW_DIR");
    if (!folder || !*folder) {
        return true;
    }
    int right = current.width;
    int bottom = current.height;
    for (const auto& item : current.items) {
        extentOf(item, right, bottom);
    }
    LabelRaster raster(std::min(right, LabelRaster::maxSide - 2 * border) + 2 * border,
        std::min(bottom, LabelRaster::maxSide - 2 * border) + 2 * border);
    // An origin before the label's corner moves items over its top or left
    // edge: that part is cut off, as the printer would.
    raster.cutBefore(border, border);
    for (const auto& item : current.items) {
        if (item.qrCode) {
            raster.drawQrCode(border + item.x, border + item.y, item.rotation, item.horizontal, item.text);
        } else {
            raster.drawText(border + item.x, border + item.y, item.rotation, item.horizontal, item.vertical, item.text);
        }
    }
    static std::atomic<int> sequence { 0 };
    const std::string path = std::string(folder) + "/label-" + std::to_string(static_cast<long>(processId())) + "-"
        + std::to_string(++sequence) + ".png";
    return raster.savePng(path);
}

bool inRange(int value)
{
    return value >= 0 && value <= LabelRaster::maxSide;
}

// Origins may lie before the label's corner: templates use that to move a
// label that the printer feeds too far back onto the stock.
bool originInRange(int value)
{
    return value >= -LabelRaster::maxSide && value <= LabelRaster::maxSide;
}

} // namespace

CDFPSK_API int CDFPSK_CALL OpenPort(int port)
{
    CallTrace("OpenPort").arg(port).write();
    if (failureInjected("OpenPort") || port < 0) {
        return failed;
    }
    std::lock_guard<std::mutex> guard(labelLock());
    label() = Label();
    label().portOpen = true;
    return ok;
}

CDFPSK_API int CDFPSK_CALL ClosePort()
{
    CallTrace("ClosePort").write();
    return withOpenPort("ClosePort", [](Label& current) {
        current = Label();
        return ok;
    });
}

CDFPSK_API int CDFPSK_CALL PTK_ClearBuffer()
{
    CallTrace("PTK_ClearBuffer").write();
    return withOpenPort("PTK_ClearBuffer", [](Label& current) {
        current.items.clear();
        return ok;
    });
}

CDFPSK_API int CDFPSK_CALL PTK_SetLabelHeight(int height, int gap, int offset, int mode)
{
    CallTrace("PTK_SetLabelHeight").arg(height).arg(gap).arg(offset).arg(mode).write();
    return withOpenPort("PTK_SetLabelHeight", [height, gap](Label& current) {
        if (!inRange(height) || gap < 0) {
            return failed;
        }
        current.height = height;
        return ok;
    });
}

CDFPSK_API int CDFPSK_CALL PTK_SetLabelWidth(int width)
{
    CallTrace("PTK_SetLabelWidth").arg(width).write();
    return withOpenPort("PTK_SetLabelWidth", [width](Label& current) {
        if (!inRange(width)) {
            return failed;
        }
        current.width = width;
        return ok;
    });
}

CDFPSK_API int CDFPSK_CALL PTK_SetDarkness(int darkness)
{
    CallTrace("PTK_SetDarkness").arg(darkness).write();
    return withOpenPort("PTK_SetDarkness", [](Label&) { return ok; });
}

CDFPSK_API int CDFPSK_CALL PTK_SetPrintSpeed(int speed)
{
    CallTrace("PTK_SetPrintSpeed").arg(speed).write();
    return withOpenPort("PTK_SetPrintSpeed", [](Label&) { return ok; });
}

CDFPSK_API int CDFPSK_CALL PTK_SetDirection(char direction)
{
    CallTrace("PTK_SetDirection").arg(direction).write();
    return withOpenPort(
        "PTK_SetDirection", [direction](Label&) { return (direction == 'B' || direction == 'T') ? ok : failed; });
}

CDFPSK_API int CDFPSK_CALL PTK_SetCoordinateOrigin(int x, int y)
{
    CallTrace("PTK_SetCoordinateOrigin").arg(x).arg(y).write();
    return withOpenPort("PTK_SetCoordinateOrigin", [x, y](Label& current) {
        if (!originInRange(x) || !originInRange(y)) {
            return failed;
        }
        current.originX = x;
        current.originY = y;
        return ok;
    });
}

CDFPSK_API int CDFPSK_CALL PTK_DrawBar2D_QREx(
    int x, int y, int rotation, int cellSize, int level, int mask, int version, const char* name, const char* data)
{
    CallTrace("PTK_DrawBar2D_QREx")
        .arg(x)
        .arg(y)
        .arg(rotation)
        .arg(cellSize)
        .arg(level)
        .arg(mask)
        .arg(version)
        .arg(name)
        .arg(data)
        .write();
    return withOpenPort("PTK_DrawBar2D_QREx", [=](Label& current) {
        if (!data || !*data || !name || !inRange(x) || !inRange(y) || current.items.size() >= maxItems) {
            return failed;
        }
        Item item;
        item.qrCode = true;
        item.x = current.originX + x;
        item.y = current.originY + y;
        item.rotation = rotation;
        item.horizontal = cellSize;
        item.text = data;
        current.items.push_back(item);
        return ok;
    });
}

CDFPSK_API int CDFPSK_CALL PTK_DrawText(
    int x, int y, int direction, int font, int horizontal, int vertical, char mode, const char* text)
{
    CallTrace("PTK_DrawText")
        .arg(x)
        .arg(y)
        .arg(direction)
        .arg(font)
        .arg(horizontal)
        .arg(vertical)
        .arg(mode)
        .arg(text)
        .write();
    return withOpenPort("PTK_DrawText", [=](Label& current) {
        if (!text || !inRange(x) || !inRange(y) || current.items.size() >= maxItems) {
            return failed;
        }
        Item item;
        item.x = current.originX + x;
        item.y = current.originY + y;
        item.rotation = direction;
        item.horizontal = horizontal;
        item.vertical = vertical;
        item.text = text;
        current.items.push_back(item);
        return ok;
    });
}

CDFPSK_API int CDFPSK_CALL PTK_PrintLabel(int count, int copies)
{
    CallTrace("PTK_PrintLabel").arg(count).arg(copies).write();
    return withOpenPort("PTK_PrintLabel", [count, copies](const Label& current) {
        if (count < 1 || copies < 1) {
            return failed;
        }
        return savePreview(current) ? ok : failed;
    });
}
