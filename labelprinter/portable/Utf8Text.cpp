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

std::size_t utf8SequenceLength(const char* text, std::size_t left)
{
    if (left == 0) {
        return 0;
    }
    const auto lead = static_cast<unsigned char>(text[0]);
    if (lead < 0x80U) {
        return 1;
    }
    // The second byte's range rules out overlong forms, surrogates and
    // code points beyond U+10FFFF.
    std::size_t length = 0;
    unsigned char low = 0x80U;
    unsigned char high = 0xBFU;
    if (lead >= 0xC2U && lead <= 0xDFU) {
        length = 2;
    } else if (lead >= 0xE0U && lead <= 0xEFU) {
        length = 3;
        low = lead == 0xE0U ? 0xA0U : 0x80U;
        high = lead == 0xEDU ? 0x9FU : 0xBFU;
    } else if (lead >= 0xF0U && lead <= 0xF4U) {
        length = 4;
        low = lead == 0xF0U ? 0x90U : 0x80U;
        high = lead == 0xF4U ? 0x8FU : 0xBFU;
    } else {
        return 0;
    }
    if (length > left) {
        return 0;
    }
    const auto second = static_cast<unsigned char>(text[1]);
    if (second < low || second > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0U) != 0x80U) {
            return 0;
        }
    }
    return length;
}

std::string validUtf8(const std::string& text)
{
    std::string valid;
    valid.reserve(text.size());
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t length = utf8SequenceLength(text.data() + at, text.size() - at);
        if (length == 0) {
            valid += "\xEF\xBF\xBD";
            ++at;
            continue;
        }
        valid.append(text, at, length);
        at += length;
    }
    return valid;
}

} // namespace kvprint
