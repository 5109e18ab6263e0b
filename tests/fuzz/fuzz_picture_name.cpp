// Fuzz target: alarm picture names as the statistics store and the alarm
// list read them from the picture folder.

#include "store/PictureName.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 4096)
        return 0;
    const QString path = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<int>(size));
    const PictureName name = PictureName::parse(path);
    name.celsius();
    name.stateCode();
    name.unitDigit();
    const QString day = name.day();
    const QString dateTime = name.dateTime();
    if (!name.valid && (!name.camera.isEmpty() || !name.stamp.isEmpty()))
        std::abort();
    if (name.hasStamp() != (day.size() == 10) || name.hasStamp() != (dateTime.size() == 19))
        std::abort();
    if (!name.hasStamp() && (!day.isEmpty() || !dateTime.isEmpty()))
        std::abort();
    return 0;
}
