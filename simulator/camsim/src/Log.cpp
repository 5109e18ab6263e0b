#include "Log.h"

#include <cstdio>
#include <mutex>

namespace camsim {

void logLine(const std::string& text)
{
    static std::mutex mutex;
    std::lock_guard<std::mutex> lock(mutex);
    std::fprintf(stderr, "camsim: %s\n", text.c_str());
    std::fflush(stderr);
}

} // namespace camsim
