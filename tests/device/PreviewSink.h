#pragma once
// Records what a preview worker or a Device reports, on the test thread.

#include "device/Device.h"

#include <QList>
#include <QObject>
#include <QPair>
#include <QStringList>

class PreviewSink : public QObject {
    Q_OBJECT
public:
    template <typename Source> explicit PreviewSink(Source* source)
    {
        connect(source, &Source::sigPreview, this, &PreviewSink::onPreview, Qt::QueuedConnection);
        connect(source, &Source::sigGotFrameV, this, &PreviewSink::onFrameV, Qt::QueuedConnection);
        connect(source, &Source::sigGotFrameA, this, &PreviewSink::onFrameA, Qt::QueuedConnection);
        connect(source, &Source::sigTimeChanged, this, &PreviewSink::onTime, Qt::QueuedConnection);
        connect(source, &Source::sigSpeedChanged, this, &PreviewSink::onSpeed, Qt::QueuedConnection);
        connect(source, &Source::sigTempResult, this, &PreviewSink::onTempResult, Qt::QueuedConnection);
    }

    QList<QPair<Device::PreviewState, int>> states;
    // The first few frames of each kind are kept, the rest only counted:
    // decoded pictures are large.
    static constexpr int kKept = 4;
    QList<Device::FrameData> video; // decoded pictures
    QList<Device::FrameData> thermal; // false-colour pictures
    QList<Device::FrameData> audio;
    int videoCount = 0;
    int thermalCount = 0;
    int audioCount = 0;
    qint64 lastVideoPts = -1;
    qint64 lastAudioPts = -1;
    QStringList times;
    QList<double> speeds;
    QList<int> units;
    // The order in which pictures and sound arrived: 'V', 'T' or 'A'.
    QString order;

    int count(Device::PreviewState state) const
    {
        int n = 0;
        for (const auto& s : states)
            n += s.first == state ? 1 : 0;
        return n;
    }

private:
    void keep(QList<Device::FrameData>& list, int& count, const Device::FrameData& frame, char kind)
    {
        ++count;
        if (list.size() < kKept)
            list.append(frame);
        if (order.size() < 64)
            order += kind;
    }

public slots:
    void onPreview(int, Device::PreviewState state, int result) { states.append({ state, result }); }
    void onFrameV(Device::FrameData frame)
    {
        if (frame.type == Device::FrameTemperature) {
            keep(thermal, thermalCount, frame, 'T');
        } else {
            lastVideoPts = frame.pts;
            keep(video, videoCount, frame, 'V');
        }
    }
    void onFrameA(Device::FrameData frame)
    {
        lastAudioPts = frame.pts;
        keep(audio, audioCount, frame, 'A');
    }
    void onTime(QString text) { times.append(text); }
    void onSpeed(double speed) { speeds.append(speed); }
    void onTempResult(int unit) { units.append(unit); }
};
