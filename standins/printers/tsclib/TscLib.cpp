// Stand-in for the TSC printer library: every call is traced, and the
// label goes out as TSPL text to the port named at openport. Results: 1 for
// success, -1 for a failure (also when $PRINTER_FAIL names the function).

#include <TSCLIB.h>

#include "CallTrace.h"
#include "TsplPort.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

using printerstandin::CallTrace;
using printerstandin::failureInjected;
using printerstandin::TsplPort;

namespace {

constexpr int ok = 1;
constexpr int failed = -1;

std::mutex& portLock()
{
    static std::mutex lock;
    return lock;
}

TsplPort& port()
{
    static TsplPort thePort;
    return thePort;
}

// A command is one line; a line break inside would start another command.
bool oneLine(const char* text)
{
    for (const char* c = text; *c; ++c) {
        const auto byte = static_cast<unsigned char>(*c);
        if (byte < 0x20U || byte == 0x7FU) {
            return false;
        }
    }
    return true;
}

std::string tsplString(const char* text)
{
    std::string quoted = "\"";
    for (const char* c = text; *c; ++c) {
        if (*c == '"') {
            quoted += "\\[\"]";
        } else {
            quoted += *c;
        }
    }
    return quoted + "\"";
}

bool positiveNumber(const char* text)
{
    const std::size_t length = std::strlen(text);
    return length > 0 && length <= 9 && std::strspn(text, "0123456789") == length && std::atoi(text) > 0;
}

int sendLine(const std::string& line)
{
    std::lock_guard<std::mutex> guard(portLock());
    if (!port().isOpen()) {
        return failed;
    }
    return port().send(line + "\r\n") ? ok : failed;
}

} // namespace

extern "C" {

TSCLIB_API int TSCLIB_CALL openport(const char* printerName)
{
    CallTrace("openport").arg(printerName).write();
    if (failureInjected("openport") || !printerName) {
        return failed;
    }
    std::lock_guard<std::mutex> guard(portLock());
    return port().open(printerName) ? ok : failed;
}

TSCLIB_API int TSCLIB_CALL sendcommand(const char* command)
{
    CallTrace("sendcommand").arg(command).write();
    if (failureInjected("sendcommand") || !command || !oneLine(command)) {
        return failed;
    }
    return sendLine(command);
}

TSCLIB_API int TSCLIB_CALL windowsfont(int x, int y, int fontHeight, int rotation, int fontStyle, int fontUnderline,
    const char* faceName, const char* content)
{
    CallTrace("windowsfont")
        .arg(x)
        .arg(y)
        .arg(fontHeight)
        .arg(rotation)
        .arg(fontStyle)
        .arg(fontUnderline)
        .arg(faceName)
        .arg(content)
        .write();
    if (failureInjected("windowsfont") || !faceName || !content || !oneLine(content)) {
        return failed;
    }
    // The printer's scalable font "0" stands in for the face; its size is
    // the font height.
    const std::string line = "TEXT " + std::to_string(x) + "," + std::to_string(y) + ",\"0\","
        + std::to_string(rotation) + "," + std::to_string(fontHeight) + "," + std::to_string(fontHeight) + ","
        + tsplString(content);
    return sendLine(line);
}

TSCLIB_API int TSCLIB_CALL printlabel(const char* sets, const char* copies)
{
    CallTrace("printlabel").arg(sets).arg(copies).write();
    if (failureInjected("printlabel") || !sets || !copies || !positiveNumber(sets) || !positiveNumber(copies)) {
        return failed;
    }
    return sendLine(std::string("PRINT ") + sets + "," + copies);
}

TSCLIB_API int TSCLIB_CALL closeport()
{
    CallTrace("closeport").write();
    std::lock_guard<std::mutex> guard(portLock());
    if (!port().isOpen()) {
        return failed;
    }
    const bool closed = port().close();
    return (closed && !failureInjected("closeport")) ? ok : failed;
}

} // extern "C"
