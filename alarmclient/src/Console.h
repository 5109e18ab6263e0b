#pragma once
// Console: the library's own diagnostic lines. They go to standard error,
// and only when FIXLINK_TRACE is set in the environment, so that a program
// using the library keeps its standard output to itself.

namespace fixlink {

#if defined(__MINGW32__)
// mingw's C++ runtime formats as C99 does (%zu and all), not as msvcrt.
__attribute__((format(gnu_printf, 1, 2)))
#elif defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void console(const char* format, ...);

} // namespace fixlink
