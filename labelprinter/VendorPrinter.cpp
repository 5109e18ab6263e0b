#include "LabelPrinters.h"

#include <cstdio>

namespace kvprint {

namespace {

constexpr int vendorPort = 255;

// Runs one step; an entry point the SDK lacks fails like a refused call.
template <typename Function, typename... Args> int step(Function function, Args... args)
{
    return function ? function(args...) : -1;
}

template <typename Item> int drawItem(const VendorEntryPoints& sdk, const Item& item, const std::string& text)
{
    return step(
        sdk.drawText, item.x, item.y, item.direct, item.font, item.horizontal, item.vertical, 'N', text.c_str());
}

int drawLabel(const VendorEntryPoints& sdk, const CTagwright::_sructPrinterConfig& config,
    const CTagwright::_structPrintParam& param, const LabelContent& content)
{
    if (step(sdk.clearBuffer) != 0) {
        return -12;
    }
    if (step(sdk.setLabelHeight, config.height, config.gaph, 0, 0) != 0) {
        return -1;
    }
    if (step(sdk.setLabelWidth, config.width) != 0) {
        return -12;
    }
    if (step(sdk.setDarkness, config.id) != 0) {
        return -3;
    }
    if (step(sdk.setPrintSpeed, config.px) != 0) {
        return -4;
    }
    if (step(sdk.setDirection, config.direct == 1 ? 'B' : 'T') != 0) {
        return -11;
    }
    if (step(sdk.setCoordinateOrigin, config.movex, config.movey) != 0) {
        return -11;
    }
    if (step(sdk.drawQr, config.QRx, config.QRy, config.QRo, config.QRr, 0, 0, 8, "1", content.qrContent.c_str())
        != 0) {
        return -5;
    }
    if (content.showDeviceNumber && drawItem(sdk, config.DeviceID, content.deviceNumber) != 0) {
        return -6;
    }
    const int userResult = drawItem(sdk, config.User, content.user);
    std::printf("打印admin %d\n", userResult);
    std::fflush(stdout);
    if (userResult != 0) {
        return -7;
    }
    if (drawItem(sdk, config.Pwd, content.pwd) != 0) {
        return -8;
    }
    if (content.showModel && drawItem(sdk, config.Model, content.model) != 0) {
        return -9;
    }
    if (step(sdk.printLabel, param.count, param.copies) != 0) {
        return -10;
    }
    return 0;
}

} // namespace

int printOnVendorPrinter(const VendorEntryPoints& sdk, const CTagwright::_sructPrinterConfig& config,
    const CTagwright::_structPrintParam& param, const LabelContent& content)
{
    if (step(sdk.openPort, vendorPort) != 0) {
        return -2;
    }
    const int result = drawLabel(sdk, config, param, content);
    step(sdk.closePort);
    return result;
}

} // namespace kvprint
