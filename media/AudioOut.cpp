#include "media/AudioOut.h"

AudioOut::AudioOut(QObject* parent)
    : QObject(parent)
{
}

AudioOut::~AudioOut() = default;

void AudioOut::setDevice(FrameSource* device)
{
    Q_UNUSED(device)
}

void AudioOut::onSigGotFrameA(FrameData frame)
{
    Q_UNUSED(frame)
}
