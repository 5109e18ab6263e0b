// Fuzz target: routing of received data blocks. The first input byte is the
// data kind, the rest the data.

#include "LogSink.h"
#include "MessageRouter.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

using kvtool::PCCFixlink;

namespace {

void onData(const void*, const void* data, PCCFixlink::DataType type)
{
    if (type == PCCFixlink::RegisterResult) {
        const std::int32_t code = *static_cast<const std::int32_t*>(data);
        if (code != 1 && code != -1 && code != 0 && code != 3)
            std::abort();
        return;
    }
    const auto* r = static_cast<const PCCFixlink::TempAlarmRecord*>(data);
    for (const auto* f : { &r->alarmType, &r->temp, &r->ts }) {
        if (f->state != 1 && f->state != 3)
            std::abort();
    }
}

void onLog(const void*, const char* text)
{
    if (std::strlen(text) >= fixlink::LogSink::kLimit)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    // An exact-size copy, so reading past the block is caught.
    const std::vector<std::uint8_t> block(data + 1, data + size);
    const fixlink::LogSink log(nullptr, onLog);
    const fixlink::MessageRouter router(nullptr, onData, log);
    router.route(block.empty() ? nullptr : block.data(), block.size(), data[0]);
    return 0;
}
