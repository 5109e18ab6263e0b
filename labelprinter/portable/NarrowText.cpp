#include "NarrowText.h"

#include "Utf8Text.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <cstring>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#endif

namespace kvprint {

#if defined(_WIN32)

std::string toNarrowText(const std::string& utf8, std::size_t maxBytes)
{
    std::string result;
    const int wideLength = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    if (wideLength <= 0) {
        return result;
    }
    std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], wideLength);
    char one[8];
    for (std::size_t i = 0; i < wide.size(); ++i) {
        const int units = (i + 1 < wide.size() && wide[i] >= 0xD800 && wide[i] <= 0xDBFF) ? 2 : 1;
        const int n = WideCharToMultiByte(CP_ACP, 0, &wide[i], units, one, sizeof one, nullptr, nullptr);
        if (n <= 0 || result.size() + static_cast<std::size_t>(n) > maxBytes) {
            break;
        }
        result.append(one, static_cast<std::size_t>(n));
        i += static_cast<std::size_t>(units - 1);
    }
    return result;
}

#else

namespace {

// The codeset named by the environment's LC_ALL / LC_CTYPE / LANG, read
// without touching the process's own locale.
std::string localeCodeset()
{
    locale_t user = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
    if (!user) {
        return "UTF-8";
    }
    std::string codeset = nl_langinfo_l(CODESET, user);
    freelocale(user);
    if (codeset.empty() || codeset == "ANSI_X3.4-1968" || codeset == "ASCII") {
        return "UTF-8";
    }
    return codeset;
}

} // namespace

std::string toNarrowText(const std::string& utf8, std::size_t maxBytes)
{
    std::string result;
    iconv_t converter = iconv_open(localeCodeset().c_str(), "UTF-8");
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        converter = iconv_open("UTF-8", "UTF-8");
        if (converter == reinterpret_cast<iconv_t>(-1)) {
            return result;
        }
    }
    // One character at a time, so the text can be cut between characters
    // of the target encoding and a bad character costs only itself.
    std::size_t at = 0;
    while (at < utf8.size()) {
        std::size_t inLength = utf8SequenceLength(utf8.data() + at, utf8.size() - at);
        char out[16];
        std::size_t produced = 0;
        if (inLength > 0) {
            char in[4];
            std::memcpy(in, utf8.data() + at, inLength);
            char* inPtr = in;
            char* outPtr = out;
            std::size_t inLeft = inLength;
            std::size_t outLeft = sizeof out;
            const std::size_t done = iconv(converter, &inPtr, &inLeft, &outPtr, &outLeft);
            produced = sizeof out - outLeft;
            if (done == static_cast<std::size_t>(-1) || inLeft != 0) {
                iconv(converter, nullptr, nullptr, nullptr, nullptr);
                produced = 0;
            }
        } else {
            // A broken sequence stands for its first byte only.
            inLength = 1;
        }
        if (produced == 0) {
            out[0] = '?';
            produced = 1;
        }
        if (result.size() + produced > maxBytes) {
            break;
        }
        result.append(out, produced);
        at += inLength;
    }
    iconv_close(converter);
    return result;
}

#endif

} // namespace kvprint
