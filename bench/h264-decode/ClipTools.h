#pragma once
// Helpers the two stream benchmarks share: finding the programs they run,
// writing the simulator's clip, splitting it into the frames a camera sends,
// and running the reference decoder.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace benchclip {

// A program of the build (camsim) or of the system (ffmpeg); empty if missing.
QString buildProgram(const QString& name);
QString systemProgram(const QString& name);

// Writes `seconds` of the simulator's 1920 × 1080 H.264 scene to `path`.
bool writeClip(const QString& path, int seconds);

struct Frame {
    bool key = false;
    QByteArray data;
};
// Splits an Annex-B H.264 stream into one frame per picture.
QList<Frame> splitH264(const QString& path);

// Runs a program to its end (bounded by `timeoutMs`); returns its wall time in
// ms, adds its CPU time (ms) to *cpuMs and hands out its error output when
// asked. -1 on failure.
qint64 runProgram(const QString& program, const QStringList& arguments, int timeoutMs, double* cpuMs = nullptr,
    QString* errorOutput = nullptr);

// The reference decoder's own decoding time (its -benchmark "rtime"), in ms,
// without its start-up; -1 on failure.
qint64 referenceDecodeMs(const QString& ffmpeg, const QString& clip);

// CPU time of this process so far, in ms.
double ownCpuMs();

} // namespace benchclip
