#include "CallTrace.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace printerstandin {

CallTrace::CallTrace(const char* function)
    : m_line(function)
{
    m_line += '(';
}

void CallTrace::separate()
{
    if (!m_first) {
        m_line += ", ";
    }
    m_first = false;
}

CallTrace& CallTrace::arg(int value)
{
    separate();
    m_line += std::to_string(value);
    return *this;
}

CallTrace& CallTrace::arg(char value)
{
    separate();
    m_line += '\'';
    m_line += value;
    m_line += '\'';
    return *this;
}

CallTrace& CallTrace::arg(const char* value)
{
    separate();
    if (!value) {
        m_line += "NULL";
        return *this;
    }
    m_line += '"';
    for (const char* c = value; *c; ++c) {
        const auto byte = static_cast<unsigned char>(*c);
        if (*c == '"' || *c == '\\') {
            m_line += '\\';
            m_line += *c;
        } else if (byte < 0x20U || byte == 0x7FU) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            m_line += escaped;
        } else {
            m_line += *c;
        }
    }
    m_line += '"';
    return *this;
}

void CallTrace::write()
{
    const char* path = std::getenv("PRINTER_TRACE");
    if (!path || !*path) {
        return;
    }
    const std::string line = m_line + ")\n";
#if defined(_WIN32)
    // Append-only access keeps lines of concurrent callers whole.
    const HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
#else
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        return;
    }
    // O_APPEND keeps lines of concurrent callers whole.
    const ssize_t written = ::write(fd, line.data(), line.size());
    (void)written;
    ::close(fd);
#endif
}

bool failureInjected(const char* function)
{
    const char* list = std::getenv("PRINTER_FAIL");
    if (!list) {
        return false;
    }
    const std::size_t length = std::strlen(function);
    const char* at = list;
    while (*at) {
        const char* end = std::strchr(at, ',');
        const std::size_t itemLength = end ? static_cast<std::size_t>(end - at) : std::strlen(at);
        if (itemLength == length && std::strncmp(at, function, length) == 0) {
            return true;
        }
        if (!end) {
            break;
        }
        at = end + 1;
    }
    return false;
}

} // namespace printerstandin
