// Receives a camera's live stream. After Start() a thread of the helper's own
// calls the callback for every frame, reconnecting by itself (with growing
// pauses) when the connection drops, until the helper is deleted. The
// destructor returns promptly and no callback runs once it has returned
// (deleting the helper from inside its own callback is tolerated: the call
// in progress is the last one).
#pragma once

#include "KV_DeviceTypes.h"

#include <functional>
#include <memory>

namespace KV {
namespace Protocol {
namespace Device {

class PreviewHelperEx {
public:
    using FrameCallback = std::function<void(const FrameData&)>;

    PreviewHelperEx(const LoginInfo& info, FrameCallback callback);
    virtual ~PreviewHelperEx();
    PreviewHelperEx(const PreviewHelperEx&) = delete;
    PreviewHelperEx& operator=(const PreviewHelperEx&) = delete;

    // Opens the main (isHD) or the sub stream; 0 when the camera accepted it.
    PreviewResult Start(bool isHD);
    // Audio frames are sent only while the audio is on (off at start).
    void SetAudioState(bool on);
    // Mirrors the picture left to right; a second call undoes it.
    void SetReverse();
    // The picture size the camera announced for the running stream; 0 before.
    int width() const;
    int height() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace Device
} // namespace Protocol
} // namespace KV
