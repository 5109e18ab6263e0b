#include "LabelPrinters.h"

#include "portable/SystemPaths.h"

#include <TSCLIB.h>

#include <cstdio>
#include <string>

namespace kvprint {

namespace {

void console(const char* what, int result)
{
    std::printf("%s %d\n", what, result);
    std::fflush(stdout);
}

// Template values come from a file anyone may edit; wrap around like the
// 32-bit arithmetic the printer expects rather than overflow.
int scaled(int value, unsigned int factor)
{
    return static_cast<int>(static_cast<unsigned int>(value) * factor);
}

template <typename Item> int drawItem(const Item& item, const std::string& text)
{
    return windowsfont(item.x, item.y, scaled(item.font, 10), scaled(item.direct, 90), 0, 0, "Arial", text.c_str());
}

int send(const std::string& command)
{
    return sendcommand(command.c_str());
}

} // namespace

int printOnTscPrinter(const CTagwright::_sructPrinterConfig& config, const LabelContent& content)
{
    // Refused before the port is opened: a control character in a command
    // string would end the command and start another.
    if (holdsControlCharacters(content)) {
        return -1;
    }
    const std::string printer = defaultPrinterName();
    if (printer.empty() || printer.size() > labelTextLimit || openport(printer.c_str()) != 1) {
        return -1;
    }
    std::printf("打开打印机 %s\n", printer.c_str());
    std::fflush(stdout);

    using std::to_string;
    send("CLS");
    send("SIZE " + to_string(config.width) + " mm," + to_string(config.height) + " mm");
    send("GAP " + to_string(config.gaph) + " mm,0 mm");
    send("SPEED " + to_string(config.px));
    send("DENSITY 15");
    send("DIRECTION " + to_string(config.direct));
    const std::string qrCommand = "QRCODE " + to_string(config.QRx) + "," + to_string(config.QRy) + ",L,"
        + to_string(config.QRr) + ",M," + to_string(scaled(config.QRo, 90)) + ",M2,S1," + tsplQuoted(content.qrContent);
    console("二维码ret", send(qrCommand));

    if (content.showDeviceNumber) {
        console("打印IDret", drawItem(config.DeviceID, content.deviceNumber));
    }
    console("打印admin", drawItem(config.User, content.user));
    console("打印pwd", drawItem(config.Pwd, content.pwd));
    if (content.showModel) {
        console("打印型号", drawItem(config.Model, content.model));
    }
    console("打印结果", printlabel("1", "1"));
    console("关闭端口", closeport());
    return 0;
}

} // namespace kvprint
