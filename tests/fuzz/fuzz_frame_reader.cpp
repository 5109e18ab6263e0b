// Fuzz target: the session frame reader, fed arbitrary bytes as if they came
// off the socket, and the frame builder, whose output must always read back.

#include "Wire.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

using namespace fixlink;

namespace {

const SessionKey kKey
    = { 0x2b, 0x7e, 0x15, 0x16, 0x28, 0xae, 0xd2, 0xa6, 0xab, 0xf7, 0x15, 0x88, 0x09, 0xcf, 0x4f, 0x3c };

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Frames one after another, until one cannot be read.
    std::size_t pos = 0;
    const ReadExact fromInput = [&](std::uint8_t* p, std::size_t n) {
        if (size - pos < n)
            return false;
        std::memcpy(p, data + pos, n);
        pos += n;
        return true;
    };
    FrameBuffer buffer {};
    for (int i = 0; i < 64; ++i) {
        Frame frame;
        const int length = readFrame(fromInput, buffer, kKey, frame);
        if (length < 0)
            break;
        if (frame.data < buffer.data() || frame.data + frame.length > buffer.data() + buffer.size())
            std::abort();
    }

    // Whatever is built must read back unchanged, encrypted or not.
    if (size >= 1) {
        const int encryption = data[0] & 1;
        FrameBuffer out {};
        const int total = buildFrame(out, 20, data[0] >> 7, data + 1, size - 1, encryption, kKey, 1, 0x12345678);
        if (total > 0) {
            std::size_t readPos = 0;
            const ReadExact fromOut = [&](std::uint8_t* p, std::size_t n) {
                if (static_cast<std::size_t>(total) - readPos < n)
                    return false;
                std::memcpy(p, out.data() + readPos, n);
                readPos += n;
                return true;
            };
            FrameBuffer in {};
            Frame frame;
            if (readFrame(fromOut, in, kKey, frame) != static_cast<int>(size - 1)
                || (size > 1 && std::memcmp(frame.data, data + 1, size - 1) != 0))
                std::abort();
        } else if (size - 1 <= kFrameBufferSize - kHeaderSize - kInfoSize) {
            std::abort();
        }
    }
    return 0;
}
