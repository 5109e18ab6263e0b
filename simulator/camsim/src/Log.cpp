#include "Log.h"

#include <cstdio>
#include <mutex>

namespace camsim {

void logLine(const std::string& text)
{
    // Lines carry what peers sent (user names, say): a line break or other
    // control byte in them must not start a line of its own or cut one short.
    std::string line = text;
    for (char& c : line)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    static std::mutex mutex;
    std::lock_guard<std::mutex> lock(mutex);
    std::fprintf(stderr, "camsim: %s\n", line.c_str());
    std::fflush(stderr);
}

} // namespace camsim
