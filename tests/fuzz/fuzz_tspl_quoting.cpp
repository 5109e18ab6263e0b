// Fuzz target: texts from the label template going into TSPL commands. A
// quoted text must never end its string early, and a text without control
// characters must never end the command line.

#include "LabelContent.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string quoted = kvprint::tsplQuoted(text);
    if (quoted.size() < 2 || quoted.front() != '"' || quoted.back() != '"')
        std::abort();
    // Reading the literal back as the printer does gives the text again.
    const std::string escape = "\\[\"]";
    std::string back;
    for (std::size_t i = 1; i + 1 < quoted.size();) {
        if (quoted.compare(i, escape.size(), escape) == 0 && i + escape.size() < quoted.size()) {
            back += '"';
            i += escape.size();
        } else if (quoted[i] == '"') {
            std::abort();
        } else {
            back += quoted[i++];
        }
    }
    if (back != text)
        std::abort();

    kvprint::LabelContent content;
    content.qrContent = text;
    if (!kvprint::holdsControlCharacters(content) && quoted.find_first_of("\r\n") != std::string::npos)
        std::abort();
    return 0;
}
