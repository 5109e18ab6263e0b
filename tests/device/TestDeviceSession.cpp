// One camera session through the Device facade against the camera
// simulator: login and re-login, the preview's states and frames, the
// configuration of both kinds of camera and its "no value" answers, search
// and the search answer's way into the record, the record fields setDevice
// keeps, a restarted stream, and destruction while workers are busy.

#include "device/Device.h"
#include "device/DeviceSearch.h"
#include "TestPatience.h"

#include "Camsim.h"
#include "SilentCamera.h"
#include "PreviewSink.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <thread>

namespace {

// Addresses of their own, so that other tests' simulators do not collide.
const char* const kCamera = "127.0.61.2";
const char* const kLegacyCamera = "127.0.61.20";
const char* const kFixedUnitCamera = "127.0.61.30";
const char* const kSearchAnswers = "127.0.61.39";
const char* const kSilentCamera = "127.0.61.50";
// A simulator a case starts for itself, and an address nothing listens on.
const char* const kOwnCamera = "127.0.61.80";
const char* const kNobody = "127.0.61.89";

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

DeviceRecord recordFor(const QString& address, const QString& password = QString(), int id = 5)
{
    DeviceRecord r;
    r.id = id;
    r.port = 8800;
    r.address = address;
    r.userName = "admin";
    r.password = password;
    return r;
}

class LoginSink : public QObject {
    Q_OBJECT
public:
    explicit LoginSink(Device* device) { connect(device, &Device::sigLogin, this, &LoginSink::onLogin); }
    QList<QPair<Device::LoginState, int>> states;
    QList<int> ids;
public slots:
    void onLogin(int id, Device::LoginState state, int result)
    {
        ids.append(id);
        states.append({ state, result });
    }
};

class ConfigSink : public QObject {
    Q_OBJECT
public:
    explicit ConfigSink(Device* device)
    {
        connect(device, &Device::sigGotThermalInfo, this, [this](int high, int low) { thermal.append({ high, low }); });
        connect(device, &Device::sigSetThermalResult, this, [this](int r) { setResults.append(r); });
        connect(device, &Device::sigCutTempTypeResult, this, [this](int r) { cutResults.append(r); });
        connect(device, &Device::sigGotTimezoneInfo, this, [this](int z) { zones.append(z); });
    }
    QList<QPair<int, int>> thermal;
    QList<int> setResults;
    QList<int> cutResults;
    QList<int> zones;
};

bool loggedIn(Device& device, LoginSink& sink)
{
    device.login(false, false, 0);
    return QTest::qWaitFor([&] { return sink.states.size() >= 2; }, patient(10000))
        && sink.states[1] == qMakePair(Device::LoginSuccess, 1001);
}

} // namespace

class TestDeviceSession : public QObject {
    Q_OBJECT

    std::unique_ptr<Camsim> m_camera;

private slots:
    void initTestCase()
    {
        if (Camsim::program().empty())
            QSKIP("the camera simulator was not built");
        qputenv("KVSDK_LOGIN_TIMEOUT_MS", "2000");
        qputenv("KVSDK_SEARCH_WINDOW_MS", "600");
        m_camera = std::make_unique<Camsim>(std::vector<std::string> {
            "--address", kCamera, "--search-port", "-1", "--password", "secret", "--timezone", "-8", "--high", "373" });
        QVERIFY2(m_camera->start(), m_camera->log().c_str());
    }

    void cleanupTestCase() { m_camera.reset(); }

    void loginFillsTheRecord()
    {
        Device device(recordFor(kCamera, "secret"));
        LoginSink sink(&device);
        device.login(false, false, 0);
        QTRY_COMPARE_WITH_TIMEOUT(sink.states.size(), 2, patient(10000));
        QCOMPARE(sink.states[0], qMakePair(Device::LoginRunning, 0));
        QCOMPARE(sink.states[1], qMakePair(Device::LoginSuccess, 1001));
        QCOMPARE(sink.ids, QList<int>({ 5, 5 }));
        const DeviceRecord* r = device.deviceRecord();
        QCOMPARE(r->announcedWidth, 1920);
        QCOMPARE(r->announcedHeight, 1080);
        QVERIFY(r->hasThermalPicture != 0);
        QCOMPARE(r->videoWidth, -1);
        QVERIFY(device.loginInfoValue() > 0);
    }

    void wrongCredentialsFail()
    {
        Device device(recordFor(kCamera, "wrong"));
        LoginSink sink(&device);
        device.login(false, false, 0);
        QTRY_COMPARE_WITH_TIMEOUT(sink.states.size(), 2, patient(10000));
        QCOMPARE(sink.states[0].first, Device::LoginRunning);
        QCOMPARE(sink.states[1], qMakePair(Device::LoginFailed, 1012));
        QCOMPARE(device.loginInfoValue(), 0);
    }

    void reloginAnswersWithTheMarkerOrTheCameraCode()
    {
        Device device(recordFor(kCamera, "secret"));
        LoginSink sink(&device);
        QVERIFY(loggedIn(device, sink));
        const int firstValue = device.loginInfoValue();
        // A second login in a row replaces the first.
        device.login(false, false, 0);
        QTRY_COMPARE_WITH_TIMEOUT(sink.states.size(), 4, patient(10000));
        QCOMPARE(sink.states[3], qMakePair(Device::LoginSuccess, 1001));

        // Each successful re-login answers with the caller's marker, once.
        for (int marker : { 1, 1234, 1235 }) {
            const int before = sink.states.size();
            device.login(false, true, marker);
            QTRY_COMPARE_WITH_TIMEOUT(sink.states.size(), before + 1, patient(10000));
            QCOMPARE(sink.states.last(), qMakePair(Device::LoginRefreshed, marker));
        }
        QVERIFY(device.loginInfoValue() != firstValue);

        DeviceRecord changed = *device.deviceRecord();
        changed.password = "wrong";
        QVERIFY(device.setDevice(changed));
        device.login(false, true, 1234);
        QTRY_COMPARE_WITH_TIMEOUT(sink.states.size(), 8, patient(10000));
        QCOMPARE(sink.states[7], qMakePair(Device::LoginRefreshed, 1012));
        QTest::qWait(100);
        QCOMPARE(sink.states.size(), 8); // no running report for a re-login
    }

    void previewStreamsDecodedPicturesAndSound()
    {
        Device device(recordFor(kCamera, "secret"));
        LoginSink logins(&device);
        PreviewSink sink(&device);
        QVERIFY(loggedIn(device, logins));
        device.startPreview(true, false);
        QTRY_VERIFY_WITH_TIMEOUT(sink.count(Device::PreviewStarted) == 1, patient(10000));
        device.setAudioEnabled(true);
        QCOMPARE(sink.states[0], qMakePair(Device::PreviewStarting, 0));
        QCOMPARE(sink.states[1], qMakePair(Device::PreviewStarted, 0));
        QTRY_VERIFY2_WITH_TIMEOUT(sink.videoCount >= 3 && sink.thermalCount >= 2 && sink.audioCount >= 2,
            qPrintable(QString("%1 pictures, %2 thermal, %3 sound")
                           .arg(sink.videoCount)
                           .arg(sink.thermalCount)
                           .arg(sink.audioCount)),
            patient(20000));

        const Device::FrameData& picture = sink.video.first();
        QCOMPARE(picture.width, 1920);
        QCOMPARE(picture.height, 1080);
        QCOMPARE(picture.data.size(), 1920 * 1080 * 3 / 2);
        const Device::FrameData& thermal = sink.thermal.first();
        QVERIFY(thermal.width > 0 && thermal.height > 0);
        QCOMPARE(thermal.data.size(), thermal.width * thermal.height * 3);
        QCOMPARE(sink.units.value(0), 10); // a Celsius camera
        QCOMPARE(sink.audio.first().type, int(Device::FrameG711));
        QVERIFY(sink.audio.first().data.size() > 0 && sink.audio.first().data.size() % 2 == 0);
        QVERIFY(sink.order.indexOf('V') < sink.order.indexOf('A'));
        QCOMPARE(sink.count(Device::PreviewFirstFrame), 1);
        QVERIFY(!sink.times.isEmpty());
        QCOMPARE(device.deviceRecord()->videoWidth, 1920);

        // While streaming: the record cannot change, a second start is refused.
        DeviceRecord other = recordFor("127.0.61.99");
        QVERIFY(!device.setDevice(other));
        QCOMPARE(device.deviceRecord()->address, QString(kCamera));
        device.startPreview(true, false);
        QTRY_COMPARE_WITH_TIMEOUT(sink.count(Device::PreviewBusy), 1, patient(5000));
        QVERIFY(device.flip());
        QTRY_VERIFY_WITH_TIMEOUT(!sink.speeds.isEmpty() && sink.speeds.last() > 1.0, patient(5000));

        // The stall marker's re-login while pictures flow only refreshes the
        // login: the stream goes on.
        device.login(false, true, Device::kRefreshRestartsPreview);
        QTRY_COMPARE_WITH_TIMEOUT(logins.states.last(),
            qMakePair(Device::LoginRefreshed, int(Device::kRefreshRestartsPreview)), patient(10000));
        const int flowing = sink.videoCount;
        QTRY_VERIFY_WITH_TIMEOUT(sink.videoCount > flowing + 5, patient(10000));
        QCOMPARE(sink.count(Device::PreviewStopped), 0);
        QCOMPARE(sink.count(Device::PreviewStarted), 1);

        device.stopPreview();
        QTRY_COMPARE_WITH_TIMEOUT(sink.count(Device::PreviewStopped), 1, patient(10000));
        QCOMPARE(device.deviceRecord()->videoWidth, -1);
        device.stopPreview();
        QVERIFY(device.setDevice(*device.deviceRecord()));

        // A second preview of the same worker: no second first-frame report.
        const int pictures = sink.videoCount;
        device.startPreview(true, false);
        const int sounds = sink.audioCount;
        // Sound stays on for the new stream.
        QTRY_VERIFY_WITH_TIMEOUT(sink.videoCount > pictures + 2 && sink.audioCount > sounds + 2, patient(20000));
        QCOMPARE(sink.count(Device::PreviewStarted), 2);
        QCOMPARE(sink.count(Device::PreviewStopped), 1);
        QCOMPARE(sink.count(Device::PreviewFirstFrame), 1);
    }

    void reloginRestartsAStreamThatFailedToStart()
    {
        Device device(recordFor(kCamera, "secret"));
        LoginSink logins(&device);
        PreviewSink sink(&device);
        // Asked for before any login: the camera refuses the stream.
        device.startPreview(true, false);
        QTRY_COMPARE_WITH_TIMEOUT(sink.count(Device::PreviewStarted), 1, patient(10000));
        QCOMPARE(sink.count(Device::PreviewFailed), 1);
        device.login(false, true, Device::kRefreshRestartsPreview);
        QTRY_VERIFY_WITH_TIMEOUT(sink.videoCount >= 3, patient(20000));
        QCOMPARE(sink.count(Device::PreviewStarted), 2);
        QCOMPARE(logins.states.size(), 1);
        QCOMPARE(logins.states[0], qMakePair(Device::LoginRefreshed, 1));
    }

    void h265StreamWithAacSound()
    {
        Camsim camera({ "--address", "127.0.61.60", "--search-port", "-1", "--codec", "h265", "--audio", "aac" });
        QVERIFY2(camera.start(), camera.log().c_str());
        Device device(recordFor("127.0.61.60"));
        LoginSink logins(&device);
        PreviewSink sink(&device);
        QVERIFY(loggedIn(device, logins));
        device.startPreview(true, false);
        QTRY_COMPARE_WITH_TIMEOUT(sink.count(Device::PreviewStarted), 1, patient(10000));
        device.setAudioEnabled(true);
        QTRY_VERIFY_WITH_TIMEOUT(sink.videoCount >= 3 && sink.audioCount >= 3, patient(20000));
        const Device::FrameData& picture = sink.video.first();
        QVERIFY(Device::isH265(picture.type));
        QCOMPARE(picture.width, 1920);
        QCOMPARE(picture.height, 1080);
        QCOMPARE(picture.data.size(), 1920 * 1080 * 3 / 2);
        // 1024 samples of 16-bit mono per coded frame, at 32 kHz.
        QCOMPARE(sink.audio.first().type, int(Device::FrameAac));
        QCOMPARE(sink.audio.first().data.size(), 2048);
    }

    void configurationOfAThermalCamera()
    {
        Device device(recordFor(kCamera, "secret"));
        LoginSink logins(&device);
        ConfigSink config(&device);
        QVERIFY(loggedIn(device, logins));
        device.getThermalInfo();
        QTRY_COMPARE_WITH_TIMEOUT(config.thermal.size(), 1, patient(10000));
        QCOMPARE(config.thermal[0].first, 373);
        const int low = config.thermal[0].second;
        device.setThermalInfo(381, 300);
        QTRY_COMPARE_WITH_TIMEOUT(config.setResults.size(), 1, patient(10000));
        QCOMPARE(config.setResults[0], 1001);
        device.getThermalInfo();
        QTRY_COMPARE_WITH_TIMEOUT(config.thermal.size(), 2, patient(10000));
        // The low threshold is the camera's own and stays as it was.
        QCOMPARE(config.thermal[1], qMakePair(381, low));
        device.setThermalInfo(373, 300);
        QTRY_COMPARE_WITH_TIMEOUT(config.setResults.size(), 2, patient(10000));

        device.getDeviceInfo(1);
        QTRY_COMPARE_WITH_TIMEOUT(config.zones.size(), 1, patient(10000));
        QCOMPARE(config.zones[0], -8);
        device.getDeviceInfo(2);
        device.getDeviceInfo(1); // queued behind the request that answers nothing
        QTRY_COMPARE_WITH_TIMEOUT(config.zones.size(), 2, patient(10000));

        device.cutTempType();
        QTRY_COMPARE_WITH_TIMEOUT(config.cutResults.size(), 1, patient(10000));
        QCOMPARE(config.cutResults[0], 1001);
        device.cutTempType(); // and back to Celsius
        QTRY_COMPARE_WITH_TIMEOUT(config.cutResults.size(), 2, patient(10000));
        QCOMPARE(config.cutResults[1], 1001);
    }

    void thresholdSetWithoutAReadFirst()
    {
        // A new session whose first request is a write: it still goes to
        // the thermal block and leaves the rest of the block as it was.
        Device device(recordFor(kCamera, "secret"));
        LoginSink logins(&device);
        ConfigSink config(&device);
        QVERIFY(loggedIn(device, logins));
        device.setThermalInfo(386, 300);
        QTRY_COMPARE_WITH_TIMEOUT(config.setResults.size(), 1, patient(10000));
        QCOMPARE(config.setResults[0], 1001);
        device.getThermalInfo();
        QTRY_COMPARE_WITH_TIMEOUT(config.thermal.size(), 1, patient(10000));
        QCOMPARE(config.thermal[0].first, 386);
        // The unit switch permission survived the write.
        device.cutTempType();
        QTRY_COMPARE_WITH_TIMEOUT(config.cutResults.size(), 1, patient(10000));
        QCOMPARE(config.cutResults[0], 1001);
        device.cutTempType();
        device.setThermalInfo(373, 300);
        QTRY_COMPARE_WITH_TIMEOUT(config.setResults.size(), 2, patient(10000));
    }

    void failedReadKeepsTheBlockForTheNextWrite()
    {
        // A camera of its own: it goes away and comes back in between.
        const std::vector<std::string> options { "--address", "127.0.61.70", "--search-port", "-1", "--high", "373" };
        auto camera = std::make_unique<Camsim>(options);
        QVERIFY2(camera->start(), camera->log().c_str());
        Device device(recordFor("127.0.61.70"));
        LoginSink logins(&device);
        ConfigSink config(&device);
        QVERIFY(loggedIn(device, logins));
        device.getThermalInfo();
        QTRY_COMPARE_WITH_TIMEOUT(config.thermal.size(), 1, patient(10000));
        const QPair<int, int> read = config.thermal[0];
        QCOMPARE(read.first, 373);

        // The time-zone read fails while the camera is gone.
        camera.reset();
        device.getDeviceInfo(1);
        QTRY_COMPARE_WITH_TIMEOUT(config.zones.size(), 1, patient(10000));
        QCOMPARE(config.zones[0], -1000);
        camera = std::make_unique<Camsim>(options);
        QVERIFY2(camera->start(), camera->log().c_str());
        device.login(false, true, 1234);
        QTRY_COMPARE_WITH_TIMEOUT(logins.states.last(), qMakePair(Device::LoginRefreshed, 1234), patient(10000));

        // The write still goes to the thermal block, its low threshold kept.
        device.setThermalInfo(380, 300);
        QTRY_COMPARE_WITH_TIMEOUT(config.setResults.size(), 1, patient(10000));
        QCOMPARE(config.setResults[0], 1001);
        device.getThermalInfo();
        QTRY_COMPARE_WITH_TIMEOUT(config.thermal.size(), 2, patient(10000));
        QCOMPARE(config.thermal[1], qMakePair(380, read.second));
    }

    void configurationOfOtherCameras()
    {
        Camsim legacy({ "--address", kLegacyCamera, "--search-port", "-1", "--legacy-config", "--high", "375" });
        Camsim fixedUnit({ "--address", kFixedUnitCamera, "--search-port", "-1", "--no-unit-switch" });
        QVERIFY2(legacy.start(), legacy.log().c_str());
        QVERIFY2(fixedUnit.start(), fixedUnit.log().c_str());

        Device old(recordFor(kLegacyCamera));
        LoginSink oldLogins(&old);
        ConfigSink oldConfig(&old);
        QVERIFY(loggedIn(old, oldLogins));
        old.getThermalInfo();
        QTRY_COMPARE_WITH_TIMEOUT(oldConfig.thermal.size(), 1, patient(10000));
        QCOMPARE(oldConfig.thermal[0].first, 375);
        old.setThermalInfo(390, 300);
        old.getThermalInfo();
        QTRY_COMPARE_WITH_TIMEOUT(oldConfig.thermal.size(), 2, patient(10000));
        QCOMPARE(oldConfig.setResults, QList<int>({ 1001 }));
        QCOMPARE(oldConfig.thermal[1].first, 390);
        old.cutTempType();
        QTRY_COMPARE_WITH_TIMEOUT(oldConfig.cutResults.size(), 1, patient(10000));
        QCOMPARE(oldConfig.cutResults[0], 0);

        Device fixed(recordFor(kFixedUnitCamera));
        LoginSink fixedLogins(&fixed);
        ConfigSink fixedConfig(&fixed);
        QVERIFY(loggedIn(fixed, fixedLogins));
        fixed.cutTempType();
        QTRY_COMPARE_WITH_TIMEOUT(fixedConfig.cutResults.size(), 1, patient(10000));
        QCOMPARE(fixedConfig.cutResults[0], 0);
    }

    void searchPublishesWhatAnswered()
    {
        Camsim three(
            { "--cameras", "3", "--address", "127.0.61.40", "--search-address", kSearchAnswers, "--first-id", "21" });
        QVERIFY2(three.start(), three.log().c_str());
        DeviceSearch search;
        QList<bool> searching;
        int published = 0;
        connect(&search, &DeviceSearch::sigIsSearchingChanged, this, [&](bool on) { searching.append(on); });
        connect(&search, &DeviceSearch::sigDevListChanged, this, [&] { ++published; });

        qputenv("KVSDK_SEARCH_TARGETS", QByteArray(kSearchAnswers) + ":8801");
        search.Start();
        QTRY_COMPARE_WITH_TIMEOUT(searching.size(), 2, patient(10000));
        QCOMPARE(searching, QList<bool>({ true, false }));
        QCOMPARE(published, 1);
        QList<DeviceRecord> found = search.deviceList();
        QCOMPARE(found.size(), 3);
        std::sort(found.begin(), found.end(), [](const DeviceRecord& a, const DeviceRecord& b) { return a.id < b.id; });
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(found[i].id, 21 + i);
            QCOMPARE(found[i].address, QString("127.0.61.%1").arg(40 + i));
            QCOMPARE(found[i].port, 8800);
        }

        // Nothing answers here: the list empties, and is still published.
        qputenv("KVSDK_SEARCH_TARGETS", "127.0.61.38:8801");
        search.Start();
        QTRY_COMPARE_WITH_TIMEOUT(searching.size(), 4, patient(10000));
        QCOMPARE(published, 2);
        QVERIFY(search.deviceList().isEmpty());
        qunsetenv("KVSDK_SEARCH_TARGETS");
    }

    void destructionWaitsForALoginInProgress()
    {
        SilentCamera silent(kSilentCamera);
        QVERIFY(silent.ok());
        auto device = std::make_unique<Device>(recordFor(kSilentCamera));
        LoginSink sink(device.get());
        QElapsedTimer timer;
        timer.start();
        device->login(false, false, 0);
        QTRY_COMPARE_WITH_TIMEOUT(sink.states.size(), 1, patient(5000));
        QCOMPARE(sink.states[0].first, Device::LoginRunning);
        device.reset();
        // The login gives up after its 2 s limit; the destructor waited for it.
        QVERIFY2(timer.elapsed() >= 1500, qPrintable(QString::number(timer.elapsed())));
    }

    void queuedReloginsGoWithTheSession()
    {
        // Re-logins to a camera that does not answer pile up behind the one
        // in progress; the session ends before they run. Their helpers (two
        // descriptors each) must go with it.
        SilentCamera silent(kSilentCamera);
        QVERIFY(silent.ok());
        qputenv("KVSDK_LOGIN_TIMEOUT_MS", "300");
        const auto openDescriptors = [] {
            return QDir("/proc/self/fd").entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size();
        };
        const auto cycle = [] {
            auto device = std::make_unique<Device>(recordFor(kSilentCamera));
            LoginSink sink(device.get());
            device->login(false, false, 0);
            QTRY_COMPARE_WITH_TIMEOUT(sink.states.size(), 1, patient(5000));
            for (int i = 0; i < 3; ++i)
                device->login(false, true, Device::kRefreshRestartsPreview);
            device->prepareForDestruction();
            std::thread([&device] { device.reset(); }).join();
        };
        cycle();
        const int before = openDescriptors();
        for (int i = 0; i < 20; ++i)
            cycle();
        const int after = openDescriptors();
        qputenv("KVSDK_LOGIN_TIMEOUT_MS", "2000");
        QVERIFY2(after - before < 10, qPrintable(QString("%1 descriptors, then %2").arg(before).arg(after)));
    }

    void destructionOnAnotherThreadWhileStreaming_data()
    {
        QTest::addColumn<bool>("moved");
        QTest::newRow("moved to a Qt thread first") << true;
        QTest::newRow("deleted on a plain thread") << false;
    }

    void destructionOnAnotherThreadWhileStreaming()
    {
        QFETCH(bool, moved);
        auto* device = new Device(recordFor(kCamera, "secret"));
        LoginSink logins(device);
        PreviewSink sink(device);
        QVERIFY(loggedIn(*device, logins));
        device->setAudioEnabled(true);
        device->startPreview(true, false);
        QTRY_VERIFY_WITH_TIMEOUT(sink.videoCount >= 2, patient(20000));

        // As the main window retires a session: handed to the reaper, deleted there
        // while frames still flow.
        if (moved) {
            QThread* reaper = QThread::create([device] { delete device; });
            device->prepareForDestruction(reaper);
            reaper->start();
            QVERIFY(reaper->wait(20000));
            delete reaper;
        } else {
            device->prepareForDestruction();
            std::thread reaper([device] { delete device; });
            reaper.join();
        }
        const int pictures = sink.videoCount;
        QTest::qWait(200);
        QCOMPARE(sink.videoCount, pictures);
        QVERIFY(pictures >= 2);
    }

    // A search answer fills every field of the record, once per answer.
    void searchAnswerFillsEveryField()
    {
        const QByteArray datagram = sample("standins/camera-sdk/answers/search-answer.bin");
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
        const QByteArray full = sample("standins/camera-sdk/answers/search-answer-unterminated.bin");
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
        Device device(recordFor(kNobody, "secret", 6));
        DeviceRecord* own = device.deviceRecord();
        own->videoWidth = 640;
        own->videoHeight = 480;
        own->loginField = 2;
        own->hasThermalPicture = 1;

        DeviceRecord next;
        next.id = 41;
        next.port = 9900;
        next.address = "127.0.61.88";
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
            if (Camsim::program().empty())
                QSKIP("the camera simulator was not built");
            sim = std::make_unique<Camsim>(std::vector<std::string> { "--address", kOwnCamera, "--search-port", "-1" });
            QVERIFY2(sim->start(), sim->log().c_str());
        }
        Device device(recordFor(camera ? kOwnCamera : kNobody, "secret", 6));
        QSignalSpy thermal(&device, &Device::sigGotThermalInfo);
        QSignalSpy zone(&device, &Device::sigGotTimezoneInfo);
        device.getThermalInfo();
        QTRY_COMPARE_WITH_TIMEOUT(thermal.size(), 1, patient(10000));
        QCOMPARE(thermal[0][0].toInt(), -1000);
        QCOMPARE(thermal[0][1].toInt(), -1000);
        device.getDeviceInfo(1);
        QTRY_COMPARE_WITH_TIMEOUT(zone.size(), 1, patient(10000));
        QCOMPARE(zone[0][0].toInt(), -1000);
        // Only the time-zone request is answered: the worker takes requests
        // in order, so once the thermal read behind it has answered, an
        // answer to the other request would be here.
        device.getDeviceInfo(0);
        device.getThermalInfo();
        QTRY_COMPARE_WITH_TIMEOUT(thermal.size(), 2, patient(10000));
        QCOMPARE(zone.size(), 1);
    }

    // After a stop and a new start: no second first-frame report, and sound
    // waits for the new stream's first picture again.
    void restartedStreamReportsNoSecondFirstFrame()
    {
        if (Camsim::program().empty())
            QSKIP("the camera simulator was not built");
        Camsim sim({ "--address", kOwnCamera, "--search-port", "-1", "--password", "secret" });
        QVERIFY2(sim.start(), sim.log().c_str());
        Device device(recordFor(kOwnCamera, "secret", 6));
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

QTEST_GUILESS_MAIN(TestDeviceSession)
#include "TestDeviceSession.moc"
