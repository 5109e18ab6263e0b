// The main window's camera session against the camera simulator on
// 127.0.72.x: the live pictures and sound, the stall watch and the restarted
// stream, replacing and ending sessions, the time zone, and the program
// started with --connect (its credentials and its attempts after a refusal).
#include "Camsim.h"
#include "SilentCamera.h"
#include "TestPatience.h"

#include "app/ConnectOnStart.h"
#include "app/Startup.h"
#include "app/Thermography.h"
#include "media/AudioOut.h"
#include "media/GLYuvWidget.h"
#include "widgets/QSetupDig.h"
#include "widgets/QtipDig.h"
#include "widgets/deviceshowDig.h"

#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const char* const kCamera = "127.0.72.2";
const char* const kSearch = "127.0.72.1";
const char* const kSearchPort = "8873";
constexpr int kCameraId = 7;

std::vector<std::string> camsimArguments(const std::vector<std::string>& extra = {})
{
    std::vector<std::string> arguments { "--address", kCamera, "--search-address", kSearch, "--search-port",
        kSearchPort, "--first-id", std::to_string(kCameraId), "--people-per-minute", "0.1" };
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return arguments;
}

// Share of pixels in the widget's grabbed picture that are not black.
double litShare(GLYuvWidget* widget)
{
    const QImage picture = widget->grabFramebuffer();
    if (picture.isNull())
        return 0;
    int lit = 0;
    int total = 0;
    for (int y = 0; y < picture.height(); y += 8) {
        for (int x = 0; x < picture.width(); x += 8) {
            ++total;
            if (qGray(picture.pixel(x, y)) > 24)
                ++lit;
        }
    }
    return total ? double(lit) / total : 0;
}

// Whether the picture holds the thermal palette's blues (cold background).
bool showsPaletteBlue(GLYuvWidget* widget)
{
    const QImage picture = widget->grabFramebuffer();
    for (int y = 0; y < picture.height(); y += 8) {
        for (int x = 0; x < picture.width(); x += 8) {
            const QColor c = picture.pixelColor(x, y);
            if (c.blue() > 180 && c.red() < 90 && c.green() < 120)
                return true;
        }
    }
    return false;
}

bool overlayShowsDisconnected(deviceshowDig* overlay)
{
    QWidget* left = overlay->findChild<QWidget*>("left");
    QWidget* right = overlay->findChild<QWidget*>("right");
    return left && right && !left->isHidden() && right->isHidden();
}

} // namespace

class TestSession : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void livePicturesSoundAndTimeZone();
    void stalledVideoComesBackThroughARestartedStream();
    void newSessionRetiresTheOldOne();
    void wrongPasswordEndsTheSessionAndTheDialogLetsGo();
    void cameraRestartBringsThePictureBack();
    void programConnectsFromTheCommandLine();
    void refusedLoginIsTriedAgainCommandLineAccountFirst();
    void badCommandLinesExitWithTwo();

private:
    Thermography* connectWindow(Camsim& camsim);
    bool waitForVideo(int timeoutMs);

    QTemporaryDir m_dir;
    QTranslator m_translator;
    QScopedPointer<Thermography> m_window;
};

void TestSession::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(QDir::setCurrent(m_dir.path()));
    qputenv("ARDENIX_DB", QFile::encodeName(m_dir.filePath("ardenix.dat")));
    qputenv("KVSDK_SEARCH_TARGETS", QByteArray(kSearch) + ':' + kSearchPort);
    // A camera that has gone answers its next login within this time.
    qputenv("KVSDK_LOGIN_TIMEOUT_MS", "2000");
    QVERIFY(installEnglishTranslation(*QCoreApplication::instance(), m_translator));
    if (Camsim::program().empty())
        QSKIP("camsim was not built");
}

void TestSession::init()
{
    m_window.reset(new Thermography);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.data(), 5000));
}

void TestSession::cleanup()
{
    m_window.reset();
}

Thermography* TestSession::connectWindow(Camsim& camsim)
{
    if (!camsim.start())
        qWarning("camsim did not start: %s", camsim.log().c_str());
    m_window->addDevice(kCameraId, kCamera, "admin", "");
    return m_window.data();
}

bool TestSession::waitForVideo(int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < patient(timeoutMs)) {
        QTest::qWait(200);
        if (litShare(m_window->videoWidgets()[0]) > 0.3)
            return true;
    }
    return false;
}

void TestSession::livePicturesSoundAndTimeZone()
{
    Camsim camsim(camsimArguments());
    Thermography* w = connectWindow(camsim);
    QVERIFY(waitForVideo(20000));
    GLYuvWidget* thermal = w->videoWidgets()[1];
    QTRY_VERIFY_WITH_TIMEOUT(showsPaletteBlue(thermal), patient(10000));
    QCOMPARE(w->deviceMsg().id, kCameraId);

    // The audio button is on by default: the stream's sound reaches the
    // player (an output is attempted even where no sound server runs).
    QTRY_VERIFY_WITH_TIMEOUT(w->audioOut().outputsBuilt() > 0, patient(10000));

    // The overlays show the face frame over the video and nothing over the
    // thermal picture.
    const auto overlays = w->findChildren<deviceshowDig*>();
    QCOMPARE(overlays.size(), 2);
    for (deviceshowDig* overlay : overlays)
        QVERIFY(!overlay->findChild<QWidget*>("left")->isVisible());

    // The live window, for people to look at.
    const QString artifacts = qEnvironmentVariable("ARDENIX_BUILD_DIR") + "/artifacts";
    QDir().mkpath(artifacts);
    QTest::qWait(500);
    w->grab().save(artifacts + "/live-window.png");

    // The camera's time zone arrives; "no value" is asked for again.
    QTRY_COMPARE_WITH_TIMEOUT(w->deviceMsg().timezone.load(), 8, patient(10000));
    {
        // Gone before the session is handed to the reaper's thread, which
        // may destroy it at once.
        QSignalSpy answers(w->deviceMsg().device, &Device::sigGotTimezoneInfo);
        QMetaObject::invokeMethod(w, "GotTimezoneInfo", Q_ARG(int, -1000));
        QTRY_COMPARE_WITH_TIMEOUT(answers.count(), 1, patient(10000));
        QCOMPARE(w->deviceMsg().timezone.load(), 8);
    }

    // The stall watch counts reports without data in a row: one with data
    // in between starts the count anew.
    {
        Device* device = w->deviceMsg().device;
        QSignalSpy frames(device, &Device::sigGotFrameV);
        FrameData picture;
        const auto gotPicture = [&frames, &picture] {
            for (const QList<QVariant>& frame : frames) {
                picture = frame.at(0).value<FrameData>();
                if (picture.type != Device::FrameTemperature)
                    return true;
            }
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(gotPicture(), patient(10000));
        const int before = w->deviceMsg().stallCount;
        for (int i = 0; i < 9; ++i)
            emit device->sigSpeedChanged(0.0);
        QCOMPARE(w->deviceMsg().stallCount, before + 9);
        emit device->sigGotFrameV(picture);
        emit device->sigSpeedChanged(50.0);
        emit device->sigSpeedChanged(0.0);
        QCOMPARE(w->deviceMsg().stallCount, 1);
    }

    // Disconnecting shows the disconnected look and blacks the pictures.
    QMetaObject::invokeMethod(w, "on_disconnectbtn_clicked");
    QCOMPARE(w->deviceMsg().device, static_cast<Device*>(nullptr));
    QCOMPARE(w->deviceMsg().devicecount.load(), 1);
    for (deviceshowDig* overlay : overlays)
        QVERIFY(overlayShowsDisconnected(overlay));
    QVERIFY(!w->findChild<QPushButton*>("unitbtn")->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(litShare(w->videoWidgets()[0]) < 0.01, patient(5000));
}

void TestSession::stalledVideoComesBackThroughARestartedStream()
{
    // Each stream carries video for its first 3 s only; sound and the
    // temperature picture go on.
    Camsim camsim(camsimArguments({ "--stop-video-after", "3" }));
    Thermography* w = connectWindow(camsim);
    QVERIFY(waitForVideo(20000));
    Device* device = w->deviceMsg().device;
    QSignalSpy logins(w, &Thermography::SigLoginResult);
    QSignalSpy previews(device, &Device::sigPreview);
    QSignalSpy frames(device, &Device::sigGotFrameV);

    // Ten reports without a new picture, then one re-login with the stall
    // marker, and the stream starts again on it.
    QTRY_VERIFY_WITH_TIMEOUT(!logins.isEmpty(), patient(20000));
    QCOMPARE(logins.count(), 1);
    QCOMPARE(logins.first().at(1).value<Device::LoginState>(), Device::LoginRefreshed);
    QCOMPARE(logins.first().at(2).toInt(), 1);
    auto started = [&previews] {
        for (const QList<QVariant>& report : previews) {
            if (report.at(1).value<Device::PreviewState>() == Device::PreviewStarted)
                return true;
        }
        return false;
    };
    QTRY_VERIFY_WITH_TIMEOUT(started(), patient(10000));
    const int before = frames.count();
    auto videoFrames = [&frames, before] {
        int n = 0;
        for (int i = before; i < frames.count(); ++i)
            n += frames.at(i).at(0).value<FrameData>().type != Device::FrameTemperature;
        return n;
    };
    // Each new stream has 3 s of video; a loaded machine may decode too
    // little of the first one, and the stall watch restarts it again.
    QTRY_VERIFY_WITH_TIMEOUT(videoFrames() > 10, patient(25000));
    QCOMPARE(w->deviceMsg().device, device);
}

void TestSession::newSessionRetiresTheOldOne()
{
    Camsim camsim(camsimArguments());
    Thermography* w = connectWindow(camsim);
    QVERIFY(waitForVideo(20000));
    Device* first = w->deviceMsg().device;

    // A stray session's late reports change nothing. Emitted on the window's
    // thread, the report is handled before the emit returns.
    Device stray(DeviceRecord {});
    connect(&stray, &Device::sigLogin, w, &Thermography::onSigLogin);
    QSignalSpy results(w, &Thermography::SigLoginResult);
    emit stray.sigLogin(kCameraId, Device::LoginFailed, 1012);
    QCOMPARE(results.count(), 0);
    QCOMPARE(w->deviceMsg().device, first);

    const auto overlays = w->findChildren<deviceshowDig*>();
    w->addDevice(kCameraId, kCamera, "admin", "");
    QCOMPARE(w->deviceMsg().devicecount.load(), 1);
    Device* second = w->deviceMsg().device;
    QVERIFY(second && second != first);
    QVERIFY(overlayShowsDisconnected(overlays[0]));
    // The new session logs in and streams; the overlays follow.
    QTRY_VERIFY_WITH_TIMEOUT(!overlays[0]->findChild<QWidget*>("left")->isVisible(), patient(10000));
    QVERIFY(overlays[0]->findChild<QWidget*>("right")->isVisible());
    QVERIFY(waitForVideo(20000));
}

void TestSession::wrongPasswordEndsTheSessionAndTheDialogLetsGo()
{
    // The login in progress keeps the ended session's destruction busy on
    // the reaper's thread for the login time-out.
    SilentCamera silent("127.0.72.9");
    QVERIFY(silent.ok());
    Thermography* w = m_window.data();
    w->addDevice(kCameraId, "127.0.72.9", "admin", "");
    Device* device = w->deviceMsg().device;
    QVERIFY(device);
    auto* settings = new QSetupDig(device, kCameraId, 0, w);
    QPointer<QSetupDig> open(settings);

    // A re-login answered "wrong password" ends the session.
    emit device->sigLogin(kCameraId, Device::LoginRefreshed, 1012);
    QCOMPARE(w->deviceMsg().device, static_cast<Device*>(nullptr));
    QCOMPARE(w->deviceMsg().devicecount.load(), 1);

    // The open settings dialog no longer sends to it: OK is refused.
    settings->findChild<QLineEdit*>("tempEdit")->setText("38.0");
    settings->on_definebtn_clicked();
    QVERIFY(open);
    QCOMPARE(settings->findChild<QLabel*>("tiplb")->text(), QString("Fail"));
    settings->close();
}

void TestSession::cameraRestartBringsThePictureBack()
{
    QScopedPointer<Camsim> camsim(new Camsim(camsimArguments()));
    Thermography* w = connectWindow(*camsim);
    QVERIFY(waitForVideo(20000));
    Device* device = w->deviceMsg().device;
    QSignalSpy frames(device, &Device::sigGotFrameV);

    camsim.reset();
    QTest::qWait(3000);
    camsim.reset(new Camsim(camsimArguments()));
    QVERIFY(camsim->start());
    QElapsedTimer sinceBack;
    sinceBack.start();
    frames.clear();
    auto videoFrames = [&frames] {
        int n = 0;
        for (const QList<QVariant>& frame : frames)
            n += frame.at(0).value<FrameData>().type != Device::FrameTemperature;
        return n;
    };
    QTRY_VERIFY_WITH_TIMEOUT(videoFrames() > 0, patient(30000));
    const qint64 recovery = sinceBack.elapsed();
    qInfo("picture back %lld ms after the camera answered again", recovery);
    QVERIFY(waitForVideo(10000));
    QCOMPARE(w->deviceMsg().device, device);
}

void TestSession::programConnectsFromTheCommandLine()
{
    // The searched device number (11) is the one used: nothing else logs in.
    // The password comes from standard input; Qt's own options pass to Qt.
    Camsim camsim(camsimArguments({ "--password", "s3cret", "--first-id", "11" }));
    QVERIFY(camsim.start());
    m_window.reset();

    QTemporaryDir home;
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("ARDENIX_DB", home.filePath("ardenix.dat"));
    program.setProcessEnvironment(environment);
    program.setWorkingDirectory(home.path());
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(qEnvironmentVariable("ARDENIX_BUILD_DIR") + "/bin/ardenix",
        { "-style", "fusion", "--connect", kCamera, "--password-file", "-" });
    QVERIFY(program.waitForStarted());
    program.write("s3cret\nnext line\n");
    program.closeWriteChannel();
    QString log;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < patient(30000) && !log.contains("PreviewFirstFrame")) {
        program.waitForReadyRead(500);
        log += QString::fromUtf8(program.readAll());
    }
    program.kill();
    program.waitForFinished(5000);
    QVERIFY2(log.contains("as device 11"), qPrintable(log.right(2000)));
    QVERIFY2(log.contains("PreviewFirstFrame"), qPrintable(log.right(2000)));
}

void TestSession::refusedLoginIsTriedAgainCommandLineAccountFirst()
{
    Camsim camsim(camsimArguments({ "--password", "s3cret" }));
    QVERIFY(camsim.start());
    m_window->store().saveAccount(kCameraId, "admin", "old");
    CommandLine request;
    request.connect = true;
    request.address = kCamera;
    request.id = kCameraId;
    request.hasPassword = true;
    request.password = "wrong";
    QSignalSpy results(m_window.data(), &Thermography::SigLoginResult);
    auto* connector = new ConnectOnStart(m_window.data(), request);
    connector->setTryAgainInterval(500);
    connector->start();
    // Refused, told, and tried again.
    const auto refusals = [&results] {
        int count = 0;
        for (const QList<QVariant>& result : qAsConst(results))
            count += result.at(1).value<Device::LoginState>() == Device::LoginFailed && result.at(2).toInt() == 1012;
        return count;
    };
    QTRY_VERIFY_WITH_TIMEOUT(refusals() >= 2, patient(20000));
    QStringList tipTexts;
    for (QLabel* label : m_window->findChild<QtipDig*>()->findChildren<QLabel*>())
        tipTexts << label->text();
    QVERIFY2(tipTexts.contains("wrong user name or password!"), qPrintable(tipTexts.join('|')));
    QVERIFY(!connector->finished());
    delete connector;

    // The command line's password comes before the saved account's.
    results.clear();
    request.password = "s3cret";
    connector = new ConnectOnStart(m_window.data(), request);
    connector->start();
    QTRY_VERIFY_WITH_TIMEOUT(connector->finished(), patient(20000));
    QCOMPARE(results.last().at(1).value<Device::LoginState>(), Device::LoginSuccess);
}

void TestSession::badCommandLinesExitWithTwo()
{
    m_window.reset();
    const QString ardenix = qEnvironmentVariable("ARDENIX_BUILD_DIR") + "/bin/ardenix";
    const QList<QStringList> bad { { "--connect", "127.0.0.300" }, { "--connect", "camera" }, { "--connect" },
        { "--id", "x", "--connect", "127.0.0.2" }, { "--connect", "127.0.0.2", "--id", "-3" }, { "--frobnicate" },
        { "--connect", "127.0.0.2", "--user", "two words" } };
    for (const QStringList& arguments : bad) {
        QProcess program;
        // Without a display: a bad command line must end before any window.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("DISPLAY");
        program.setProcessEnvironment(environment);
        program.start(ardenix, arguments);
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitCode(), 2);
        QVERIFY2(program.readAllStandardError().startsWith("ardenix: "), qPrintable(arguments.join(' ')));
    }
    QProcess help;
    help.start(ardenix, { "--help" });
    QVERIFY(help.waitForFinished(10000));
    QCOMPARE(help.exitCode(), 0);
    QVERIFY(help.readAllStandardOutput().contains("--connect ADDRESS"));
    QProcess version;
    version.start(ardenix, { "-platform", "offscreen", "--version" });
    QVERIFY(version.waitForFinished(10000));
    QCOMPARE(version.exitCode(), 0);
    QVERIFY(version.readAllStandardOutput().startsWith("ardenix 1."));
}

QTEST_MAIN(TestSession)
#include "TestSession.moc"
