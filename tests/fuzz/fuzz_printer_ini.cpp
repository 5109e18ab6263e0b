// Fuzz target: the label printer's "printer.ini" as the profile reader takes
// it, and a write into it that must read back.

#include "portable/ProfileIni.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

using kvprint::ProfileIni;

namespace {

// In the current folder: scripts/fuzz.sh runs each target in one of its own.
const std::string kFile = "printer.ini";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 8192)
        return 0;
    {
        std::ofstream out(kFile, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    ProfileIni ini(kFile);
    ini.load();
    for (const char* section : { "Printer", "QR", "User", "Pwd", "Model" }) {
        for (const char* key : { "x", "y", "value", "show", "QRr", "QRo", "font" }) {
            const std::string text = ini.readString(section, key, "fallback", 256);
            if (text.size() > 255)
                std::abort();
            ini.readInt(section, key, 7);
        }
    }
    ProfileIni::parseInt(std::string(reinterpret_cast<const char*>(data), size));

    // A value written in keeps every other line and reads back.
    const std::string value = "v=1 [x]";
    ini.writeString("Fuzz", "Key", value);
    if (ini.readString("Fuzz", "Key", "", 256) != value)
        std::abort();
    ini.save();
    ProfileIni again(kFile);
    again.load();
    if (again.readString("fuzz", "key", "", 256) != value)
        std::abort();
    return 0;
}
