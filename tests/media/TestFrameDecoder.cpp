// Decoder threads: pacing against the stream clock, prompt shutdown, and the
// pictures and sound they hand on.

#include "device/Device.h"
#include "media/AudioDecoders.h"
#include "media/DecodedPicture.h"
#include "media/FrameData.h"
#include "media/VideoDecoders.h"
#include "TestPatience.h"

#include "TestEncoders.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QStringList>
#include <QtTest>

#include <cstdint>
#include <memory>
#include <mutex>

namespace {

std::mutex g_logMutex;
QStringList g_log;
QtMessageHandler g_previousHandler = nullptr;

void captureLog(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    {
        std::lock_guard<std::mutex> locker(g_logMutex);
        g_log.append(message);
    }
    if (type != QtDebugMsg && g_previousHandler)
        g_previousHandler(type, context, message);
}

int logCount(const QString& text)
{
    std::lock_guard<std::mutex> locker(g_logMutex);
    int n = 0;
    for (const QString& line : qAsConst(g_log))
        n += line.contains(text) ? 1 : 0;
    return n;
}

void clearLog()
{
    std::lock_guard<std::mutex> locker(g_logMutex);
    g_log.clear();
}

// Collects decoded frames on the test thread, with the time each arrived.
class FrameSink : public QObject {
    Q_OBJECT
public:
    explicit FrameSink(FrameDecoder* decoder)
    {
        connect(decoder, &FrameDecoder::sigDecodedFrame, this, &FrameSink::onFrame, Qt::QueuedConnection);
        clock.start();
    }
    QList<Device::FrameData> frames;
    QList<qint64> arrivals;
    QElapsedTimer clock;

public slots:
    void onFrame(Device::FrameData frame)
    {
        frames.append(frame);
        arrivals.append(clock.elapsed());
    }
};

Device::FrameData frameOf(int type, qint64 pts, const QByteArray& payload, int width = 0, int height = 0)
{
    Device::FrameData f;
    f.type = type;
    f.frameRate = 25;
    f.width = width;
    f.height = height;
    f.pts = pts;
    f.data = payload;
    return f;
}

Device::FrameData frameOf(int type, const testenc::Packet& packet, int width, int height)
{
    return frameOf(
        type, 0, QByteArray(reinterpret_cast<const char*>(packet.data.data()), int(packet.data.size())), width, height);
}

// One 256-byte mono block: the first sample and the step index in the header,
// then 504 samples of the same nibble.
QByteArray adpcmBlock(int16_t first, uint8_t nibble)
{
    QByteArray block(256, char(nibble | nibble << 4));
    block[0] = char(uint16_t(first) & 0xff);
    block[1] = char(uint16_t(first) >> 8);
    block[2] = 0; // step index
    block[3] = 0;
    return block;
}

QVector<int> samplesOf(const QByteArray& pcm)
{
    QVector<int> out;
    for (int i = 0; i + 1 < pcm.size(); i += 2)
        out.append(int16_t(uint16_t(uint8_t(pcm[i])) | uint16_t(uint8_t(pcm[i + 1])) << 8));
    return out;
}

} // namespace

class TestFrameDecoder : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qRegisterMetaType<Device::FrameData>("Device::FrameData");
        registerFrameMetaType();
        g_previousHandler = qInstallMessageHandler(captureLog);
    }
    void cleanupTestCase() { qInstallMessageHandler(g_previousHandler); }
    void init() { clearLog(); }

    void untimedFramesPassAtOnceAndLeaveTheClockUnset()
    {
        PCMDecoder decoder;
        FrameSink sink(&decoder);
        for (int i = 0; i < 3; ++i)
            decoder.addFrame(frameOf(Device::FramePcm, 0, QByteArray(320, char(i))));
        QTRY_COMPARE_WITH_TIMEOUT(sink.frames.size(), 3, patient(5000));
        QCOMPARE(decoder.baseTimestamp(), qint64(-1));
        QCOMPARE(decoder.baseTime(), qint64(-1));
        // In queue order, payload untouched.
        QCOMPARE(sink.frames[2].data, QByteArray(320, char(2)));
        QCOMPARE(sink.frames[0].pts, qint64(0));
    }

    void firstTimedFrameSetsTheClock()
    {
        PCMDecoder decoder;
        FrameSink sink(&decoder);
        const qint64 before = QDateTime::currentMSecsSinceEpoch();
        decoder.addFrame(frameOf(Device::FramePcm, 1234567, QByteArray(8, 'a')));
        QTRY_COMPARE_WITH_TIMEOUT(sink.frames.size(), 1, patient(5000));
        QCOMPARE(decoder.baseTimestamp(), qint64(1234567));
        QVERIFY(decoder.baseTime() >= before);
        QVERIFY(sink.arrivals[0] < 4000); // passed on, not held for a full wait
    }

    void pacing_data()
    {
        QTest::addColumn<qint64>("ahead");
        QTest::addColumn<qint64>("minHold");
        QTest::addColumn<qint64>("maxHold");
        QTest::addColumn<bool>("logged");
        // Timing is the behaviour here; the bounds are generous for a busy machine.
        QTest::newRow("500 ms early is held") << qint64(500) << qint64(400) << qint64(3000) << false;
        QTest::newRow("1500 ms early is held and logged") << qint64(1500) << qint64(1350) << qint64(4000) << true;
        QTest::newRow("5000 ms early passes at once") << qint64(5000) << qint64(0) << qint64(3000) << true;
        QTest::newRow("before the reference passes at once") << qint64(-2000) << qint64(0) << qint64(3000) << true;
        QTest::newRow("due frames pass at once") << qint64(0) << qint64(0) << qint64(3000) << false;
    }

    void pacing()
    {
        QFETCH(qint64, ahead);
        QFETCH(qint64, minHold);
        QFETCH(qint64, maxHold);
        QFETCH(bool, logged);
        PCMDecoder decoder;
        FrameSink sink(&decoder);
        const qint64 reference = 1600000000000;
        decoder.setBaseTimestamp(reference);
        decoder.setBaseTime(QDateTime::currentMSecsSinceEpoch());
        QElapsedTimer sent;
        sent.start();
        decoder.addFrame(frameOf(Device::FramePcm, reference + ahead, QByteArray(4, 'p')));
        QTRY_COMPARE_WITH_TIMEOUT(sink.frames.size(), 1, patient(8000));
        const qint64 held = sent.elapsed();
        QVERIFY2(held >= minHold && held <= maxHold, qPrintable(QString("held %1 ms").arg(held)));
        QCOMPARE(logCount("delay time:") > 0, logged);
        // The decoder never moves its own clock once set.
        QCOMPARE(decoder.baseTimestamp(), reference);
    }

    void destructionCutsWaitsShortAndLogsTheEnd()
    {
        auto decoder = std::make_unique<PCMDecoder>();
        FrameSink sink(decoder.get());
        decoder->setBaseTimestamp(1000);
        decoder->setBaseTime(QDateTime::currentMSecsSinceEpoch());
        decoder->addFrame(frameOf(Device::FramePcm, 1000 + 3500, QByteArray(4, 'x')));
        // The decoder logs how long it holds the frame back, then waits.
        QTRY_COMPARE_WITH_TIMEOUT(logCount("delay time:"), 1, patient(5000));
        QElapsedTimer timer;
        timer.start();
        decoder.reset();
        // A wait that ran to its end would have passed the frame on.
        QCoreApplication::processEvents();
        QCOMPARE(sink.frames.size(), 0);
        QVERIFY2(timer.elapsed() < patient(2800), "the pacing wait was not cut short");
        QCOMPARE(logCount("PCM exit."), 1);
    }

    void everyDecoderLogsStartAndEnd_data()
    {
        QTest::addColumn<QString>("name");
        for (const char* name : { "H264", "H265", "PCM", "ADPCM", "AAC", "G711" })
            QTest::newRow(name) << QString(name);
    }

    void everyDecoderLogsStartAndEnd()
    {
        QFETCH(QString, name);
        std::unique_ptr<FrameDecoder> decoder;
        if (name == "H264")
            decoder = std::make_unique<H264Decoder>();
        else if (name == "H265")
            decoder = std::make_unique<H265Decoder>();
        else if (name == "PCM")
            decoder = std::make_unique<PCMDecoder>();
        else if (name == "ADPCM")
            decoder = std::make_unique<ADPCMDecoder>();
        else if (name == "AAC")
            decoder = std::make_unique<AACDecoder>();
        else
            decoder = std::make_unique<G711Decoder>();
        QTRY_COMPARE_WITH_TIMEOUT(logCount(name + " running."), 1, patient(5000));
        QElapsedTimer timer;
        timer.start();
        decoder.reset();
        QVERIFY(timer.elapsed() < 5000);
        QCOMPARE(logCount(name + " exit."), 1);
    }

    void h264PicturesArePackedTight()
    {
        const int w = 160;
        const int h = 96;
        std::vector<testenc::Packet> packets;
        QVERIFY(testenc::encodeVideo(testenc::Video::H264, w, h, 10, 5, packets));
        QCOMPARE(int(packets.size()), 10);
        H264Decoder decoder;
        FrameSink sink(&decoder);
        for (const auto& p : packets)
            decoder.addFrame(frameOf(p.key ? Device::FrameH264Key : Device::FrameH264, p, w, h));
        // One picture per coded frame: nothing is held inside the decoder.
        QTRY_COMPARE_WITH_TIMEOUT(sink.frames.size(), 10, patient(10000));
        for (int i = 0; i < 10; ++i) {
            const Device::FrameData& f = sink.frames[i];
            QCOMPARE(f.width, w);
            QCOMPARE(f.height, h);
            QCOMPARE(f.data.size(), w * h + 2 * (w / 2) * (h / 2));
            const testenc::Picture src = testenc::pattern(w, h, i);
            const auto* y = reinterpret_cast<const uint8_t*>(f.data.constData());
            QVERIFY2(testenc::meanDifference(y, src.y.data(), src.y.size()) < 12.0, qPrintable(QString::number(i)));
            QVERIFY(qAbs(int(uint8_t(f.data[w * h + 10])) - 128) < 6);
            QVERIFY(qAbs(int(uint8_t(f.data.back())) - 128) < 6);
        }
    }

    void decodedSizeWinsOverAWrongStoredSize()
    {
        const int w = 96;
        const int h = 64;
        std::vector<testenc::Packet> packets;
        QVERIFY(testenc::encodeVideo(testenc::Video::H265, w, h, 3, 3, packets));
        H265Decoder decoder;
        FrameSink sink(&decoder);
        for (const auto& p : packets)
            decoder.addFrame(frameOf(p.key ? Device::FrameH265Key : Device::FrameH265, p, 1920, 1080));
        QTRY_COMPARE_WITH_TIMEOUT(sink.frames.size(), 3, patient(10000));
        for (const Device::FrameData& f : qAsConst(sink.frames)) {
            QCOMPARE(f.width, w);
            QCOMPARE(f.height, h);
            QCOMPARE(f.data.size(), w * h * 3 / 2);
        }
    }

    void failedDecodesAreDroppedAndLogged()
    {
        H264Decoder video;
        G711Decoder audio;
        FrameSink videoSink(&video);
        FrameSink audioSink(&audio);
        video.addFrame(frameOf(Device::FrameH264, 0, QByteArray(10, '\x7f')));
        video.addFrame(frameOf(Device::FrameH264, 0, QByteArray(200, '\x55')));
        audio.addFrame(frameOf(Device::FrameG711, 0, QByteArray()));
        audio.addFrame(frameOf(Device::FrameG711, 0, QByteArray(160, '\xd5')));
        QTRY_COMPARE_WITH_TIMEOUT(audioSink.frames.size(), 1, patient(5000));
        QTRY_COMPARE_WITH_TIMEOUT(video.frameCount(), 0, patient(5000));
        QTRY_COMPARE_WITH_TIMEOUT(logCount("Decode failed!"), 2, patient(5000));
        QCOMPARE(audioSink.frames[0].data.size(), 320);
        QCOMPARE(videoSink.frames.size(), 0);
    }

    void h264PicturesWithFullChromaAreDropped()
    {
        const int w = 64;
        const int h = 48;
        std::vector<testenc::Packet> packets;
        QVERIFY(testenc::encodeVideo(testenc::Video::H264, w, h, 3, 3, packets, testenc::Chroma::Full));
        QCOMPARE(int(packets.size()), 3);
        H264Decoder decoder;
        FrameSink sink(&decoder);
        for (const auto& p : packets)
            decoder.addFrame(frameOf(p.key ? Device::FrameH264Key : Device::FrameH264, p, w, h));
        QTRY_COMPARE_WITH_TIMEOUT(logCount("Decode failed!"), 3, patient(10000));
        QCoreApplication::processEvents();
        QCOMPARE(sink.frames.size(), 0);
    }

    void packingHalvesChromaRoundingDown()
    {
        // 5 × 3 picture with padded strides.
        const uint8_t y[] = { 1, 2, 3, 4, 5, 0, 0, 0, 6, 7, 8, 9, 10, 0, 0, 0, 11, 12, 13, 14, 15, 0, 0, 0 };
        const uint8_t u[] = { 20, 21, 99, 99 };
        const uint8_t v[] = { 30, 31, 99, 99 };
        DecodedPicture p { y, u, v, 8, 4, 4, 5, 3 };
        QByteArray out;
        QVERIFY(packYuv420(p, out));
        const QByteArray expected("\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f\x14\x15\x1e\x1f", 19);
        QCOMPARE(out, expected);

        p.height = 1; // no chroma rows
        QVERIFY(packYuv420(p, out));
        QCOMPARE(out, QByteArray("\x01\x02\x03\x04\x05", 5));

        p.height = 3;
        p.strideY = 4; // rows would overlap: not a picture
        QVERIFY(!packYuv420(p, out));
        p.strideY = 8;
        p.u = nullptr;
        QVERIFY(!packYuv420(p, out));
    }

    // The ADPCM decoder thread decodes: a block of known nibbles comes out as
    // the samples the IMA ADPCM rules give.
    void adpcmBlockDecodesToKnownSamples_data()
    {
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("nibble");
        QTest::addColumn<QVector<int>>("expected");
        // Nibble 4: each step adds the step size and an eighth of it, and
        // moves two entries up the step table (7, 9, 11, 13, 16, 19, 23, 28).
        QTest::newRow("rising") << 0 << 4 << QVector<int>({ 0, 7, 17, 29, 43, 61, 82, 107, 138 });
        QTest::newRow("falling") << 1000 << 0xc << QVector<int>({ 1000, 993, 983, 971, 957, 939, 918, 893, 862 });
        // Nibble 0 keeps the sample and the smallest step.
        QTest::newRow("flat") << -300 << 0 << QVector<int>({ -300, -300, -300, -300, -300, -300, -300, -300, -300 });
    }

    void adpcmBlockDecodesToKnownSamples()
    {
        QFETCH(int, first);
        QFETCH(int, nibble);
        QFETCH(QVector<int>, expected);
        ADPCMDecoder decoder;
        QList<FrameData> out;
        connect(&decoder, &FrameDecoder::sigDecodedFrame, this, [&](FrameData frame) { out.append(frame); });
        FrameData frame;
        frame.type = 22;
        frame.data = adpcmBlock(int16_t(first), uint8_t(nibble));
        decoder.addFrame(frame);
        QTRY_COMPARE_WITH_TIMEOUT(out.size(), 1, patient(10000));
        const QVector<int> samples = samplesOf(out[0].data);
        QCOMPARE(samples.size(), 505);
        QCOMPARE(samples.mid(0, expected.size()), expected);
        QCOMPARE(out[0].type, 22);
    }
};

QTEST_GUILESS_MAIN(TestFrameDecoder)
#include "TestFrameDecoder.moc"
