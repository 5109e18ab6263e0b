#include "Console.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace fixlink {

namespace {

bool traceEnabled()
{
    static const bool enabled = [] {
        const char* value = std::getenv("FIXLINK_TRACE");
        return value && *value && *value != '0';
    }();
    return enabled;
}

} // namespace

void console(const char* format, ...)
{
    if (!traceEnabled())
        return;
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
}

} // namespace fixlink
