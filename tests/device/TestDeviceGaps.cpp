// Device-layer rules that other tests left unguarded: the decoder queues'
// limits under a burst, the search answer's way into the record, the record
// fields setDevice keeps, the configuration worker's "no value" answers and
// the first-frame report of a restarted stream.

#include "device/Device.h"
#include "device/DevicePreview.h"
#include "device/DeviceSearch.h"
#include "TestPatience.h"

#include "Camsim.h"
#include "PreviewSink.h"
#include "TestEncoders.h"

#include "KV_DeviceTypes.h"

#include <QFile>
#include <QtTest>

#include <cstring>
#include <memory>

namespace {

using SdkFrame = KV::Protocol::Device::FrameData;

// Addresses of their own, so that other tests' simulators do not collide.
const char* const kCamera = "127.0.66.2";
const char* const kNobody = "127.0.66.9";

SdkFrame sdkFrame(int type, qint64 timestamp, const std::vector<uint8_t>& data)
{
    SdkFrame f;
    f.frameType = type;
    f.frameRate = 25;
    f.timestamp = timestamp;
    f.data = data;
    return f;
}

// The first frame sets the decoder's clock; the second is due this much
// later, so the decoder holds it while the rest of a burst arrives.
constexpr qint64 kStart = 1700000000000;
constexpr qint64 kHold = 3000;

QByteArray sample(const QString& name)
{
    QFile file(qEnvironmentVariable("ARDENIX_SOURCE_DIR") + "/tests/data/" + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class FedSearch : public DeviceSearch {
public:
    using DeviceSearch::OnDeviceFound;
    using DeviceSearch::OnSearchFinished;
    using DeviceSearch::OnSearchStarted;
};

DeviceRecord recordFor(const QString& address)
{
    DeviceRecord r;
    r.id = 6;
    r.address = address;
    r.userName = "admin";
    r.password = "secret";
    return r;
}

} // namespace

class TestDeviceGaps : public QObject {
    Q_OBJECT

    DeviceRecord m_record;
    DevicePreview* m_preview = nullptr;
    PreviewSink* m_sink = nullptr;

    void startWithoutCamera()
    {
        QMetaObject::invokeMethod(m_preview, "StartPreview", Qt::QueuedConnection, Q_ARG(LoginInfoPtr, LoginInfoPtr()),
            Q_ARG(bool, true), Q_ARG(bool, false));
        QTRY_VERIFY_WITH_TIMEOUT(m_preview->isRunning(), patient(5000));
    }

private slots:
    void initTestCase()
    {
        Device::registerMetaTypes();
        qputenv("KVSDK_LOGIN_TIMEOUT_MS", "2000");
    }

    void init()
    {
        m_record = DeviceRecord();
        m_record.id = 8;
        m_preview = new DevicePreview(&m_record);
        m_sink = new PreviewSink(m_preview);
    }

    void cleanup()
    {
        delete m_preview;
        delete m_sink;
        m_preview = nullptr;
        m_sink = nullptr;
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
        QTRY_VERIFY_WITH_TIMEOUT(m_sink->videoCount >= 48, patient(20000));
        QTest::qWait(1000);
        QVERIFY2(m_sink->videoCount <= 50, qPrintable(QString::number(m_sink->videoCount)));
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

    void searchAnswerFillsEveryField()
    {
        const QByteArray datagram = sample("camera-sdk/answers/search-answer.bin");
        QCOMPARE(datagram.size(), 16 + 4 + int(sizeof(CamSearchRecord)));
        CamSearchRecord raw;
        std::memcpy(&raw, datagram.constData() + 20, sizeof raw);

        FedSearch search;
        QSignalSpy published(&search, &DeviceSearch::sigDevListChanged);
        search.OnSearchStarted();
        search.OnDeviceFound(&raw);
        // The same camera answering twice is listed twice.
        search.OnDeviceFound(&raw);
        search.OnSearchFinished();
        QCOMPARE(published.size(), 1);
        const QList<DeviceRecord> found = search.deviceList();
        QCOMPARE(found.size(), 2);
        for (const DeviceRecord& r : found) {
            QCOMPARE(r.deviceName, QString("cam-07"));
            QCOMPARE(r.address, QString("127.0.0.1"));
            QCOMPARE(r.macAddress, QString("02:00:00:00:00:07"));
            QCOMPARE(r.serialNumber, QString("SN0007"));
            QCOMPARE(r.port, 8800);
            for (int i = 0; i < 5; ++i)
                QCOMPARE(r.searchCapability[i], i + 1);
            QCOMPARE(r.id, 7);
            QCOMPARE(r.userName, QString("admin"));
            QCOMPARE(r.password, QString("secret"));
            // What the login fills stays at its default.
            QCOMPARE(r.videoWidth, -1);
            QCOMPARE(r.loginField, quint8(0));
        }

        // Strings that fill their fields end there.
        const QByteArray full = sample("camera-sdk/answers/search-answer-unterminated.bin");
        QCOMPARE(full.size(), datagram.size());
        std::memcpy(&raw, full.constData() + 20, sizeof raw);
        const DeviceRecord r = DeviceSearch::recordFrom(raw);
        QCOMPARE(r.deviceName, QString(128, 'A'));
        QCOMPARE(r.address, QString(32, 'A'));
        QCOMPARE(r.password, QString(128, 'A'));

        // A new search starts from an empty list.
        search.OnSearchStarted();
        search.OnSearchFinished();
        QVERIFY(search.deviceList().isEmpty());
    }

    void setDeviceKeepsPictureSizeAndLoginBytes()
    {
        Device device(recordFor(kNobody));
        DeviceRecord* own = device.deviceRecord();
        own->videoWidth = 640;
        own->videoHeight = 480;
        own->loginField = 2;
        own->hasThermalPicture = 1;

        DeviceRecord next;
        next.id = 41;
        next.port = 9900;
        next.address = "127.0.66.41";
        next.serialNumber = "SN41";
        next.deviceName = "cam-41";
        next.macAddress = "02:00:00:00:00:41";
        next.userName = "user41";
        next.password = "pw41";
        next.loginField = 9;
        next.videoWidth = 11;
        next.videoHeight = 12;
        next.channelCount = 3;
        next.announcedWidth = 1280;
        next.announcedHeight = 720;
        next.frameRate = 30;
        next.hasAudio = 1;
        next.canMirror = 1;
        next.thermalWidth = 160;
        next.thermalHeight = 120;
        next.hasTemperature = 1;
        next.hasThermalPicture = 0;
        for (int i = 0; i < 5; ++i)
            next.searchCapability[i] = 50 + i;
        QVERIFY(device.setDevice(next));

        const DeviceRecord& r = *device.deviceRecord();
        QCOMPARE(r.videoWidth, 640);
        QCOMPARE(r.videoHeight, 480);
        QCOMPARE(r.loginField, quint8(2));
        QCOMPARE(r.hasThermalPicture, quint8(1));
        QCOMPARE(r.id, 41);
        QCOMPARE(r.port, 9900);
        QCOMPARE(r.address, next.address);
        QCOMPARE(r.serialNumber, next.serialNumber);
        QCOMPARE(r.deviceName, next.deviceName);
        QCOMPARE(r.macAddress, next.macAddress);
        QCOMPARE(r.userName, next.userName);
        QCOMPARE(r.password, next.password);
        QCOMPARE(r.channelCount, 3);
        QCOMPARE(r.announcedWidth, 1280);
        QCOMPARE(r.announcedHeight, 720);
        QCOMPARE(r.frameRate, 30);
        QCOMPARE(r.hasAudio, quint8(1));
        QCOMPARE(r.canMirror, quint8(1));
        QCOMPARE(r.thermalWidth, 160);
        QCOMPARE(r.thermalHeight, 120);
        QCOMPARE(r.hasTemperature, quint8(1));
        for (int i = 0; i < 5; ++i)
            QCOMPARE(r.searchCapability[i], 50 + i);
    }

    // Nothing answers, or the camera refuses: thresholds and time zone come
    // back as -1000.
    void configWorkerAnswersNoValue_data()
    {
        QTest::addColumn<bool>("camera");
        QTest::newRow("nobody listens") << false;
        QTest::newRow("no login") << true;
    }

    void configWorkerAnswersNoValue()
    {
        QFETCH(bool, camera);
        std::unique_ptr<Camsim> sim;
        if (camera) {
            if (Camsim::program().isEmpty())
                QSKIP("the camera simulator was not built");
            sim = std::make_unique<Camsim>(QStringList { "--address", kCamera, "--search-port", "-1" });
            QVERIFY2(sim->waitReady(), qPrintable(sim->errors()));
        }
        Device device(recordFor(camera ? kCamera : kNobody));
        QSignalSpy thermal(&device, &Device::sigGotThermalInfo);
        QSignalSpy zone(&device, &Device::sigGotTimezoneInfo);
        device.getThermalInfo();
        QTRY_COMPARE_WITH_TIMEOUT(thermal.size(), 1, patient(10000));
        QCOMPARE(thermal[0][0].toInt(), -1000);
        QCOMPARE(thermal[0][1].toInt(), -1000);
        device.getDeviceInfo(1);
        QTRY_COMPARE_WITH_TIMEOUT(zone.size(), 1, patient(10000));
        QCOMPARE(zone[0][0].toInt(), -1000);
        // Only the time-zone request is answered.
        device.getDeviceInfo(0);
        QTest::qWait(300);
        QCOMPARE(zone.size(), 1);
    }

    // After a stop and a new start: no second first-frame report, and sound
    // waits for the new stream's first picture again.
    void restartedStreamReportsNoSecondFirstFrame()
    {
        if (Camsim::program().isEmpty())
            QSKIP("the camera simulator was not built");
        Camsim sim({ "--address", kCamera, "--search-port", "-1", "--password", "secret" });
        QVERIFY2(sim.waitReady(), qPrintable(sim.errors()));
        Device device(recordFor(kCamera));
        QSignalSpy logins(&device, &Device::sigLogin);
        device.login(false, false, 0);
        QTRY_COMPARE_WITH_TIMEOUT(logins.size(), 2, patient(10000));
        QCOMPARE(logins[1][1].value<Device::LoginState>(), Device::LoginSuccess);

        PreviewSink sink(&device);
        device.setAudioEnabled(true);
        device.startPreview(true, false);
        QTRY_VERIFY_WITH_TIMEOUT(sink.videoCount >= 2 && sink.audioCount >= 2, patient(20000));
        QCOMPARE(sink.count(Device::PreviewFirstFrame), 1);
        device.stopPreview();
        QTRY_COMPARE_WITH_TIMEOUT(sink.count(Device::PreviewStopped), 1, patient(10000));

        PreviewSink after(&device);
        device.startPreview(true, false);
        QTRY_VERIFY_WITH_TIMEOUT(after.videoCount >= 2 && after.audioCount >= 2, patient(20000));
        // Temperature pictures do not count: sound waits for a decoded one.
        QVERIFY2(
            after.order.contains('V') && after.order.indexOf('V') < after.order.indexOf('A'), qPrintable(after.order));
        QCOMPARE(after.count(Device::PreviewFirstFrame), 0);
        QCOMPARE(sink.count(Device::PreviewFirstFrame), 1);
        QCOMPARE(after.count(Device::PreviewStarted), 1);
    }
};

QTEST_GUILESS_MAIN(TestDeviceGaps)
#include "TestDeviceGaps.moc"
