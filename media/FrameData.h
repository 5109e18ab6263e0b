#pragma once
// The frame record that crosses threads between a camera session, the decoder
// threads and the picture and sound outputs, and the QObject that emits
// decoded frames. Below both the device layer and the media pipeline, so the
// outputs attach to a camera session without knowing it.

#include "media/ThreadSync.h"

#include <QByteArray>
#include <QMetaType>
#include <QObject>

// One frame as it travels between threads: coded when it comes from the
// camera; planar YUV 4:2:0 once a video decoder has decoded it; 24-bit RGB
// for a temperature picture; 16-bit mono samples for decoded audio.
struct FrameData {
    FrameData() = default;
    // A copy is what a queued call hands to another thread: the copy into
    // the call is ordered before the receiver's copy out of it.
    FrameData(const FrameData& other)
    {
        ThreadSync::observe(&other);
        *this = other;
        ThreadSync::publish(this);
    }
    FrameData(FrameData&& other) noexcept = default;
    FrameData& operator=(const FrameData& other) = default;
    FrameData& operator=(FrameData&& other) noexcept = default;
    ~FrameData() = default;

    qint32 type = 0;
    qint32 frameRate = 0;
    qint32 width = 0;
    qint32 height = 0;
    qint64 pts = 0; // milliseconds since 1970 as the camera stamps them
    QByteArray data;
};

Q_DECLARE_METATYPE(FrameData)

// Registers FrameData for queued calls under every name a signal may spell
// it with ("FrameData", "Device::FrameData"). Idempotent.
void registerFrameMetaType();

// Emits the decoded pictures (sigGotFrameV) and sound (sigGotFrameA) of one
// source; a camera session is one. Lives on the thread that created it.
class FrameSource : public QObject {
    Q_OBJECT

public:
    using FrameData = ::FrameData;
    using QObject::QObject;

signals:
    void sigGotFrameV(FrameData frame);
    void sigGotFrameA(FrameData frame);
};
