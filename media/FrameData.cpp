#include "media/FrameData.h"

void registerFrameMetaType()
{
    qRegisterMetaType<FrameData>("FrameData");
    qRegisterMetaType<FrameData>("FrameData&");
    qRegisterMetaType<FrameData>("Device::FrameData");
    qRegisterMetaType<FrameData>("Device::FrameData&");
}
