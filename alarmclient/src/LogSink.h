#pragma once
// LogSink: hands diagnostic text to the client's log callback, cut to 1023
// characters. Outside text is passed as text, never used as a format.
// Callable from any thread.

#include <Fixlink/PCCFixlink.h>

#include <cstddef>

namespace fixlink {

class LogSink {
public:
    static constexpr std::size_t kLimit = 1024;

    LogSink(const void* user, kvtool::PCCFixlink::LogCallback callback);

    void text(const char* text, std::size_t length) const;
#if defined(__MINGW32__)
    __attribute__((format(gnu_printf, 2, 3)))
#elif defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    void
    format(const char* format, ...) const;

private:
    const void* m_user;
    kvtool::PCCFixlink::LogCallback m_callback;
};

} // namespace fixlink
