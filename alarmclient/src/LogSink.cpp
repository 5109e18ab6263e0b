#include "LogSink.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace fixlink {

LogSink::LogSink(const void* user, kvtool::PCCFixlink::LogCallback callback)
    : m_user(user)
    , m_callback(callback)
{
}

void LogSink::text(const char* text, std::size_t length) const
{
    if (!m_callback || !text)
        return;
    char buffer[kLimit];
    const std::size_t n = length < kLimit - 1 ? length : kLimit - 1;
    std::memcpy(buffer, text, n);
    buffer[n] = '\0';
    m_callback(m_user, buffer);
}

void LogSink::format(const char* format, ...) const
{
    if (!m_callback)
        return;
    char buffer[kLimit];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    m_callback(m_user, buffer);
}

} // namespace fixlink
