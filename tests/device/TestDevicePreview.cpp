// The preview worker's dispatch, fed as the SDK's frame thread would feed it:
// temperature pictures, queue admission, the decoder queues' limits under a
// burst, the time-stamp limit, sound held back until the first picture, and
// the data rate.

#include "device/DevicePreview.h"
#include "device/ThermalPalette.h"
#include "TestPatience.h"

#include "PreviewSink.h"
#include "TestEncoders.h"

#include "KV_DeviceLogin.h"
#include "KV_DeviceTypes.h"

#include <QtTest>

#include <numeric>

namespace {

using SdkFrame = KV::Protocol::Device::FrameData;

SdkFrame sdkFrame(int type, qint64 timestamp, std::vector<uint8_t> data)
{
    SdkFrame f;
    f.frameType = type;
    f.frameRate = 25;
    f.timestamp = timestamp;
    f.data = std::move(data);
    return f;
}

void put16(std::vector<uint8_t>& out, size_t at, int v)
{
    out[at] = uint8_t(v & 0xff);
    out[at + 1] = uint8_t((v >> 8) & 0xff);
}

// A temperature frame: header of `headerLength` bytes, then the pixels.
std::vector<uint8_t> temperatureFrame(
    int headerLength, int width, int height, int unit, const std::vector<int>& pixels, int temperature = 365)
{
    std::vector<uint8_t> out(size_t(headerLength) + pixels.size() * 2, 0);
    out[1] = uint8_t(headerLength);
    put16(out, 2, width);
    put16(out, 4, height);
    put16(out, 8, temperature);
    if (headerLength > 10)
        out[10] = uint8_t(unit);
    for (size_t i = 0; i < pixels.size(); ++i)
        put16(out, size_t(headerLength) + 2 * i, pixels[i]);
    return out;
}

QByteArray rgbOf(std::initializer_list<int> entries)
{
    QByteArray out;
    for (int e : entries) {
        const uint32_t c = ThermalPalette::color(e);
        out.append(char(c >> 16)).append(char(c >> 8)).append(char(c));
    }
    return out;
}

// The first frame sets the decoder's clock; the second is due this much
// later, so the decoder holds it while the rest of a burst arrives.
constexpr qint64 kStart = 1700000000000;
constexpr qint64 kHold = 3000;

} // namespace

class TestDevicePreview : public QObject {
    Q_OBJECT

    DeviceRecord m_record;
    DevicePreview* m_preview = nullptr;
    PreviewSink* m_sink = nullptr;

    // Starts without a login: the start fails, yet the worker counts as
    // running, so frames fed by hand are dispatched.
    void startWithoutCamera()
    {
        QMetaObject::invokeMethod(m_preview, "StartPreview", Qt::QueuedConnection, Q_ARG(LoginInfoPtr, LoginInfoPtr()),
            Q_ARG(bool, true), Q_ARG(bool, false));
        QTRY_VERIFY_WITH_TIMEOUT(m_preview->isRunning(), patient(5000));
    }

signals:
    void startRequested(LoginInfoPtr login, bool isHD, bool isShowthermal);
    void stopRequested();

private slots:
    void initTestCase() { Device::registerMetaTypes(); }

    void init()
    {
        m_record = DeviceRecord();
        m_record.id = 7;
        m_preview = new DevicePreview(&m_record);
        m_sink = new PreviewSink(m_preview);
        connect(this, &TestDevicePreview::startRequested, m_preview, &DevicePreview::StartPreview);
        connect(this, &TestDevicePreview::stopRequested, m_preview, &DevicePreview::StopPreview);
    }

    void cleanup()
    {
        delete m_preview;
        delete m_sink;
    }

    void failedStartReportsFailedThenStarted()
    {
        startWithoutCamera();
        QTRY_COMPARE_WITH_TIMEOUT(m_sink->states.size(), 3, patient(5000));
        QCOMPARE(m_sink->states[0].first, Device::PreviewStarting);
        QCOMPARE(m_sink->states[1].first, Device::PreviewFailed);
        QCOMPARE(m_sink->states[2].first, Device::PreviewStarted);
        QCOMPARE(m_sink->states[2].second, m_sink->states[1].second);
        QVERIFY(m_sink->states[1].second != 0);
        // Without a helper there is nothing to stop, and nothing is reported
        // before the next start's reports.
        emit stopRequested();
        emit startRequested(LoginInfoPtr(), true, false);
        QTRY_VERIFY_WITH_TIMEOUT(m_sink->states.size() >= 6, patient(5000));
        QCOMPARE(m_sink->states[3].first, Device::PreviewStarting);
        QCOMPARE(m_sink->count(Device::PreviewStopped), 0);
        QVERIFY(!m_preview->flip());
    }

    void temperatureFramesBecomeFalseColour()
    {
        startWithoutCamera();
        m_preview->onSdkFrame(sdkFrame(10, 1000, temperatureFrame(16, 2, 2, 10, { -4, -3, 296, 297 })));
        m_preview->onSdkFrame(sdkFrame(10, 1040, temperatureFrame(16, 2, 2, 10, { 0, 2, 7, 12 })));
        m_preview->onSdkFrame(sdkFrame(10, 1080, temperatureFrame(16, 2, 1, 1, { 150, 370 })));
        QTRY_COMPARE_WITH_TIMEOUT(m_sink->thermal.size(), 3, patient(5000));
        const Device::FrameData& first = m_sink->thermal[0];
        QCOMPARE(first.width, 2);
        QCOMPARE(first.height, 2);
        QCOMPARE(first.pts, qint64(1000));
        QCOMPARE(first.data, rgbOf({ 1, 0, 59, 60 }));
        QCOMPARE(m_sink->thermal[1].data, rgbOf({ 0, 1, 2, 3 }));
        QCOMPARE(m_sink->thermal[2].data.size(), 2 * 1 * 3);
        // Each unit is reported once, when it changes.
        QCOMPARE(m_sink->units, QList<int>({ 10, 1 }));
    }

    void shortHeaderMeansNoUnit()
    {
        startWithoutCamera();
        m_preview->onSdkFrame(sdkFrame(10, 1000, temperatureFrame(10, 1, 1, 1, { 100 })));
        QTRY_COMPARE_WITH_TIMEOUT(m_sink->thermal.size(), 1, patient(5000));
        QCOMPARE(m_sink->units, QList<int>({ 0 }));
    }

    void truncatedTemperatureFramesAreDropped()
    {
        startWithoutCamera();
        std::vector<uint8_t> pixelsMissing = temperatureFrame(16, 4, 4, 1, std::vector<int>(16, 100));
        pixelsMissing.resize(pixelsMissing.size() - 1);
        std::vector<uint8_t> headerMissing = temperatureFrame(40, 1, 1, 10, {});
        headerMissing.resize(20);
        std::vector<uint8_t> noWidth = temperatureFrame(16, 0, 4, 10, std::vector<int>(4, 100));
        std::vector<uint8_t> negativeHeight = temperatureFrame(16, 4, -2, 10, std::vector<int>(8, 100));
        size_t bytes = 0;
        for (const auto& bad : { pixelsMissing, headerMissing, noWidth, negativeHeight, std::vector<uint8_t>(5, 1) }) {
            bytes += bad.size();
            m_preview->onSdkFrame(sdkFrame(10, 1000, bad));
        }
        // They still count for the data rate.
        double total = 0;
        QTRY_VERIFY_WITH_TIMEOUT(
            (total = std::accumulate(m_sink->speeds.begin(), m_sink->speeds.end(), 0.0)) >= bytes / 1024.0 - 1e-9,
            patient(5000));
        QCOMPARE(total, bytes / 1024.0);
        QCOMPARE(m_sink->thermal.size(), 0);
        // A complete header still reports its unit (1, then 10 from the frame
        // without width); the one cut inside its header does not.
        QCOMPARE(m_sink->units, QList<int>({ 1, 10 }));
    }

    void timestampsBeyondTheLimitAreDropped()
    {
        startWithoutCamera();
        const auto frame = temperatureFrame(16, 1, 1, 10, { 100 });
        m_preview->onSdkFrame(sdkFrame(10, 4102416000001LL, frame));
        m_preview->onSdkFrame(sdkFrame(10, -1, frame)); // all bits set: far beyond
        m_preview->onSdkFrame(sdkFrame(10, 4102416000000LL, frame));
        // The frame within the limit came last: any other would be before it.
        QTRY_VERIFY_WITH_TIMEOUT(
            !m_sink->thermal.isEmpty() && m_sink->thermal.last().pts == 4102416000000LL, patient(5000));
        QCOMPARE(m_sink->thermalCount, 1);
    }

    void queueAdmission_data()
    {
        QTest::addColumn<int>("waiting");
        QTest::addColumn<bool>("key");
        QTest::addColumn<bool>("waitKeyBefore");
        QTest::addColumn<bool>("admitted");
        QTest::addColumn<bool>("waitKeyAfter");
        QTest::newRow("short queue takes any frame") << 47 << false << false << true << false;
        QTest::newRow("after a lost key frame others wait") << 10 << false << true << false << true;
        QTest::newRow("the next key frame resumes video") << 10 << true << true << true << false;
        QTest::newRow("from 48 other frames are dropped") << 48 << false << false << false << false;
        QTest::newRow("from 48 key frames still join") << 50 << true << true << true << false;
        QTest::newRow("up to 71 key frames join") << 71 << true << false << true << false;
        QTest::newRow("from 72 nothing joins") << 72 << false << false << false << false;
        QTest::newRow("a dropped key frame is remembered") << 72 << true << false << false << true;
    }

    void queueAdmission()
    {
        QFETCH(int, waiting);
        QFETCH(bool, key);
        QFETCH(bool, waitKeyBefore);
        QFETCH(bool, admitted);
        QFETCH(bool, waitKeyAfter);
        bool waitKey = waitKeyBefore;
        QCOMPARE(DevicePreview::admitVideoFrame(waiting, key, waitKey), admitted);
        QCOMPARE(waitKey, waitKeyAfter);
    }

    // A key frame and 100 others at once: the video queue takes 48, the
    // decoder holds at most the two it took before the queue filled.
    void videoBurstDecodesAtMost48Queued()
    {
        std::vector<testenc::Packet> video;
        QVERIFY(testenc::encodeVideo(testenc::Video::H264, 64, 48, 101, 1000, video));
        QVERIFY(video.front().key && !video.back().key);
        startWithoutCamera();
        for (size_t i = 0; i < video.size(); ++i) {
            const qint64 pts = i == 0 ? kStart : kStart + kHold + qint64(i) * 40;
            m_preview->onSdkFrame(
                sdkFrame(video[i].key ? Device::FrameH264Key : Device::FrameH264, pts, video[i].data));
        }
        // Once the decoder is past the frame it held, the queue has room for
        // a key frame stamped before the clock: it is passed on without a
        // wait and, coming last, marks the end of the burst.
        QTRY_VERIFY_WITH_TIMEOUT(m_sink->videoCount >= 3, patient(20000));
        const qint64 marker = kStart - 1000;
        m_preview->onSdkFrame(sdkFrame(Device::FrameH264Key, marker, video.front().data));
        QTRY_COMPARE_WITH_TIMEOUT(m_sink->lastVideoPts, marker, patient(20000));
        const int burst = m_sink->videoCount - 1;
        QVERIFY2(burst >= 48 && burst <= 50, qPrintable(QString::number(burst)));
    }

    // Sound is queued up to 72 frames; the rest of a burst is dropped.
    void audioBurstStopsAt72Queued()
    {
        std::vector<testenc::Packet> video;
        QVERIFY(testenc::encodeVideo(testenc::Video::H264, 64, 48, 2, 25, video));
        std::vector<testenc::Packet> sound;
        int samples = 0;
        QVERIFY(testenc::encodeAudio(testenc::Audio::G711ALaw, 8000, 8.0, sound, samples));
        QVERIFY(sound.size() >= 150);
        startWithoutCamera();
        // Sound waits for the first picture.
        for (const auto& p : video)
            m_preview->onSdkFrame(sdkFrame(p.key ? Device::FrameH264Key : Device::FrameH264, 0, p.data));
        QTRY_COMPARE_WITH_TIMEOUT(m_sink->videoCount, 2, patient(10000));
        // The first frame sets the decoder's clock and is passed on at once;
        // the decoder then holds the second while the burst arrives.
        m_preview->onSdkFrame(sdkFrame(Device::FrameG711, kStart, sound[0].data));
        m_preview->onSdkFrame(sdkFrame(Device::FrameG711, kStart + kHold, sound[1].data));
        QTRY_COMPARE_WITH_TIMEOUT(m_sink->audioCount, 1, patient(10000));
        for (size_t i = 2; i < 150; ++i)
            m_preview->onSdkFrame(sdkFrame(Device::FrameG711, kStart + kHold + qint64(i) * 20, sound[i].data));
        // A frame stamped before the clock is passed on without a wait; once
        // the queue has room it goes last and marks the end.
        QTRY_VERIFY_WITH_TIMEOUT(m_sink->audioCount >= 3, patient(20000));
        const qint64 marker = kStart - 1000;
        m_preview->onSdkFrame(sdkFrame(Device::FrameG711, marker, sound[0].data));
        QTRY_COMPARE_WITH_TIMEOUT(m_sink->lastAudioPts, marker, patient(20000));
        // Two frames before the burst, 72 of it and the marker; 71 of the
        // burst only if the decoder had not taken the second frame yet.
        QVERIFY2(m_sink->audioCount == 75 || m_sink->audioCount == 74, qPrintable(QString::number(m_sink->audioCount)));
    }

    void soundWaitsForTheFirstPicture()
    {
        const int w = 64;
        const int h = 48;
        std::vector<testenc::Packet> video;
        QVERIFY(testenc::encodeVideo(testenc::Video::H264, w, h, 3, 25, video));
        std::vector<testenc::Packet> sound;
        int samples = 0;
        QVERIFY(testenc::encodeAudio(testenc::Audio::G711ALaw, 8000, 0.2, sound, samples));
        startWithoutCamera();
        for (int i = 0; i < 3; ++i)
            m_preview->onSdkFrame(sdkFrame(26, 0, sound[size_t(i)].data));
        QTest::qWait(300);
        QCOMPARE(m_sink->audio.size(), 0);

        for (const auto& p : video)
            m_preview->onSdkFrame(sdkFrame(p.key ? 0 : 1, 0, p.data));
        QTRY_COMPARE_WITH_TIMEOUT(m_sink->video.size(), 3, patient(10000));
        for (int i = 3; i < 6; ++i)
            m_preview->onSdkFrame(sdkFrame(26, 0, sound[size_t(i)].data));
        QTRY_COMPARE_WITH_TIMEOUT(m_sink->audio.size(), 3, patient(5000));
        QVERIFY(m_sink->order.startsWith('V'));
        QCOMPARE(m_sink->audio[0].data.size(), int(sound[3].data.size()) * 2);
        // Decoded pictures carry their real size even though the stream's size is unknown here.
        QCOMPARE(m_sink->video[0].width, w);
        QCOMPARE(m_sink->video[0].data.size(), w * h * 3 / 2);
        QCOMPARE(m_sink->count(Device::PreviewFirstFrame), 1);
        QCOMPARE(m_sink->times.size(), 3);
        QCOMPARE(m_sink->times[0], QString("1970-01-01 00:00:00"));
    }

    void dataRateIsReportedInKiBPerSecond()
    {
        startWithoutCamera();
        for (int i = 0; i < 10; ++i)
            m_preview->onSdkFrame(sdkFrame(99, 0, std::vector<uint8_t>(1024, 0)));
        double total = 0;
        QTRY_VERIFY_WITH_TIMEOUT(
            (total = std::accumulate(m_sink->speeds.begin(), m_sink->speeds.end(), 0.0)) >= 10.0, patient(5000));
        QCOMPARE(total, 10.0);
        const int reports = m_sink->speeds.size();
        QTRY_VERIFY_WITH_TIMEOUT(m_sink->speeds.size() > reports, patient(10000));
        QCOMPARE(m_sink->speeds.last(), 0.0);
    }
};

QTEST_GUILESS_MAIN(TestDevicePreview)
#include "TestDevicePreview.moc"
