#pragma once
// Helpers the two stream benchmarks share: finding the programs they run,
// writing the simulator's camera-like clip, splitting it into the frames a
// camera sends, running the reference decoder, and summing up the rounds.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace benchclip {

// A program of the build (camsim) or of the system (ffmpeg); empty if missing.
QString buildProgram(const QString& name);
QString systemProgram(const QString& name);

// The camera's bit rate the clips and the streamed session use, kbit/s.
constexpr int kCameraKbit = 4096;

// Writes `seconds` of the simulator's 1920 × 1080 H.264 stream to `path`, as
// a camera sends it (constant bit rate, noisy textured scene).
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

// The reference decoder's own decoding cost on one thread, without its
// start-up (its -benchmark figures), in ms: CPU time (user + system) and wall
// time. False on failure.
bool referenceDecode(const QString& ffmpeg, const QString& clip, double& cpuMs, double& wallMs);

// CPU time of this process so far, in ms.
double ownCpuMs();

// Rounds and seconds from BENCH_ROUNDS and BENCH_SECONDS, within limits.
int roundsFromEnvironment(int fallback);
int secondsFromEnvironment(int fallback);

// Paired measurements of ours and the reference, one pair per round (the two
// sides alternate within a round).
struct Rounds {
    QList<double> ours;
    QList<double> reference;

    void add(double o, double r);
    // BENCH <name> ratio=<median of the rounds' ratios> ours=<median><unit>
    // reference=<median><unit> min=<lowest ratio> max=<highest ratio>
    QString line(const char* name, const char* unit) const;
};

} // namespace benchclip
