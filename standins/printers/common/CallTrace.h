// Shared by the printer stand-ins: one trace line per call appended to the
// file named by $PRINTER_TRACE, and failure injection through
// $PRINTER_FAIL (a function name, or several separated by commas).
// Safe to use from any thread; each line goes out in one write.
#pragma once

#include <string>

namespace printerstandin {

class CallTrace {
public:
    explicit CallTrace(const char* function);

    // Integers in decimal, characters as 'B', strings in double quotes with
    // backslash escapes for quotes, backslashes and control bytes.
    CallTrace& arg(int value);
    CallTrace& arg(char value);
    CallTrace& arg(const char* value);
    // Appends "name(arg, …)" and a newline to the trace file, if any.
    void write();

private:
    void separate();

    std::string m_line;
    bool m_first = true;
};

// True when $PRINTER_FAIL names the function.
bool failureInjected(const char* function);

} // namespace printerstandin
