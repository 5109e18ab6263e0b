#pragma once
// Plays the decoded sound (16-bit mono PCM) of a camera session through the
// default audio output, in push mode, on a thread of its own. The source
// whose frames are played is set from the GUI thread; frames of any other
// sender are ignored.

#include "media/FrameData.h"

#include <QObject>

class AudioOut : public QObject {
    Q_OBJECT

public:
    explicit AudioOut(QObject* parent = nullptr);
    ~AudioOut() override;

    // Plays the sound of device from now on (null: none). GUI thread.
    void setDevice(FrameSource* device);

public slots:
    void onSigGotFrameA(FrameData frame);
};
