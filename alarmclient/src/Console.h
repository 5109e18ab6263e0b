#pragma once
// Console: the library's own diagnostic lines. They go to standard error,
// and only when FIXLINK_TRACE is set in the environment, so that a program
// using the library keeps its standard output to itself.

namespace fixlink {

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void console(const char* format, ...);

} // namespace fixlink
