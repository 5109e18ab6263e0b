#include "Utf8Text.h"

#include <cstring>

namespace kvprint {

std::size_t utf8PrefixLength(const char* text, std::size_t length, std::size_t maxBytes)
{
    if (length <= maxBytes) {
        return length;
    }
    std::size_t cut = maxBytes;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0U) == 0x80U) {
        --cut;
    }
    return cut;
}

std::string textInBuffer(const char* buffer, std::size_t size)
{
    const void* end = std::memchr(buffer, '\0', size);
    const std::size_t length = end ? static_cast<std::size_t>(static_cast<const char*>(end) - buffer) : size;
    return std::string(buffer, length);
}

} // namespace kvprint
