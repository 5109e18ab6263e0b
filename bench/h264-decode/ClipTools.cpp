#include "ClipTools.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <algorithm>

#include <sys/resource.h>
#include <sys/time.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace benchclip {

namespace {

double toMs(const timeval& t)
{
    return t.tv_sec * 1000.0 + t.tv_usec / 1000.0;
}

double cpuOf(int who)
{
    rusage usage {};
    getrusage(who, &usage);
    return toMs(usage.ru_utime) + toMs(usage.ru_stime);
}

} // namespace

QString buildProgram(const QString& name)
{
    QStringList candidates;
    const QString buildDir = qEnvironmentVariable("ARDENIX_BUILD_DIR");
    if (!buildDir.isEmpty())
        candidates << buildDir + "/bin/" + name;
    candidates << QCoreApplication::applicationDirPath() + "/../bin/" + name;
    for (const QString& c : candidates)
        if (QFileInfo(c).isExecutable())
            return c;
    return QString();
}

QString systemProgram(const QString& name)
{
    return QStandardPaths::findExecutable(name);
}

bool writeClip(const QString& path, int seconds)
{
    const QString camsim = buildProgram("camsim");
    if (camsim.isEmpty())
        return false;
    const qint64 ms = runProgram(camsim,
        { "--write-clip", path, "--codec", "h264", "--bitrate", QString::number(kCameraKbit), "--clip-seconds",
            QString::number(seconds), "--clip-size", "1920x1080" },
        600000);
    return ms >= 0 && QFileInfo(path).size() > 0;
}

QList<Frame> splitH264(const QString& path)
{
    QList<Frame> frames;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return frames;
    const QByteArray stream = file.readAll();
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    AVCodecParserContext* parser = av_parser_init(AV_CODEC_ID_H264);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    if (!parser || !context) {
        av_parser_close(parser);
        avcodec_free_context(&context);
        return frames;
    }
    // The parser cuts at picture boundaries; parameter sets go with the key
    // frame that follows them, as cameras send them.
    const auto* data = reinterpret_cast<const uint8_t*>(stream.constData());
    int left = stream.size();
    for (int guard = 0; guard < 1000000; ++guard) {
        uint8_t* out = nullptr;
        int outSize = 0;
        const int used
            = av_parser_parse2(parser, context, &out, &outSize, data, left, AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
        if (used < 0)
            break;
        data += used;
        left -= used;
        if (outSize > 0)
            frames.append({ parser->key_frame == 1, QByteArray(reinterpret_cast<const char*>(out), outSize) });
        if (left == 0 && outSize == 0) {
            // Flush the last picture.
            av_parser_parse2(parser, context, &out, &outSize, nullptr, 0, AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
            if (outSize > 0)
                frames.append({ parser->key_frame == 1, QByteArray(reinterpret_cast<const char*>(out), outSize) });
            break;
        }
    }
    av_parser_close(parser);
    avcodec_free_context(&context);
    return frames;
}

qint64 runProgram(
    const QString& program, const QStringList& arguments, int timeoutMs, double* cpuMs, QString* errorOutput)
{
    QProcess process;
    if (!errorOutput)
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    const double before = cpuOf(RUSAGE_CHILDREN);
    QElapsedTimer timer;
    timer.start();
    process.start(program, arguments);
    if (!process.waitForStarted(10000))
        return -1;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        return -1;
    }
    const qint64 elapsed = timer.elapsed();
    if (errorOutput)
        *errorOutput = QString::fromUtf8(process.readAllStandardError());
    if (cpuMs)
        *cpuMs += cpuOf(RUSAGE_CHILDREN) - before;
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0 ? elapsed : -1;
}

bool referenceDecode(const QString& ffmpeg, const QString& clip, double& cpuMs, double& wallMs)
{
    QString log;
    if (runProgram(ffmpeg, { "-hide_banner", "-nostats", "-benchmark", "-threads", "1", "-i", clip, "-f", "null", "-" },
            600000, nullptr, &log)
        < 0)
        return false;
    const QRegularExpressionMatch m
        = QRegularExpression("utime=([0-9.]+)s stime=([0-9.]+)s rtime=([0-9.]+)s").match(log);
    if (!m.hasMatch())
        return false;
    cpuMs = (m.captured(1).toDouble() + m.captured(2).toDouble()) * 1000.0;
    wallMs = m.captured(3).toDouble() * 1000.0;
    return true;
}

double ownCpuMs()
{
    return cpuOf(RUSAGE_SELF);
}

int roundsFromEnvironment(int fallback)
{
    const int n = qEnvironmentVariableIntValue("BENCH_ROUNDS");
    return n > 0 ? std::clamp(n, 1, 99) : fallback;
}

int secondsFromEnvironment(int fallback)
{
    const int n = qEnvironmentVariableIntValue("BENCH_SECONDS");
    return n > 0 ? std::clamp(n, 1, 600) : fallback;
}

namespace {

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    const int n = values.size();
    if (n == 0)
        return 0;
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

void Rounds::add(double o, double r)
{
    ours.append(o);
    reference.append(r);
}

QString Rounds::line(const char* name, const char* unit) const
{
    QList<double> ratios;
    for (int i = 0; i < ours.size() && i < reference.size(); ++i)
        if (reference[i] > 0)
            ratios.append(ours[i] / reference[i]);
    if (ratios.isEmpty())
        return QString("BENCH %1 failed").arg(name);
    return QString("BENCH %1 ratio=%2 ours=%3%4 reference=%5%4 min=%6 max=%7")
        .arg(name)
        .arg(median(ratios), 0, 'f', 3)
        .arg(median(ours), 0, 'f', 0)
        .arg(unit)
        .arg(median(reference), 0, 'f', 0)
        .arg(*std::min_element(ratios.begin(), ratios.end()), 0, 'f', 3)
        .arg(*std::max_element(ratios.begin(), ratios.end()), 0, 'f', 3);
}

} // namespace benchclip
