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
    QList<Device::FrameData> video; // decoded pictures
    QList<Device::FrameData> thermal; // false-colour pictures
    QList<Device::FrameData> audio;
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

public slots:
    void onPreview(int, Device::PreviewState state, int result) { states.append({ state, result }); }
    void onFrameV(Device::FrameData frame)
    {
        if (frame.type == Device::FrameTemperature) {
            thermal.append(frame);
            order += 'T';
        } else {
            video.append(frame);
            order += 'V';
        }
    }
    void onFrameA(Device::FrameData frame)
    {
        audio.append(frame);
        order += 'A';
    }
    void onTime(QString text) { times.append(text); }
    void onSpeed(double speed) { speeds.append(speed); }
    void onTempResult(int unit) { units.append(unit); }
};
