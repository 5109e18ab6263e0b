// The main window's options against the camera simulator on 127.0.73.x:
// the settings request and the threshold the camera then classifies by, the
// temperature unit and its confirmation, the reset, the sound and flip
// buttons, and a damaged threshold setting.
#include "Camsim.h"
#include "TestPatience.h"

#include "app/ConfigFile.h"
#include "app/Startup.h"
#include "app/Thermography.h"
#include "media/AudioOut.h"
#include "media/GLYuvWidget.h"
#include "widgets/QSetupDig.h"
#include "widgets/QtipDig.h"
#include "widgets/resetdataDig.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>

#include <mutex>

namespace {

const char* const kSearch = "127.0.73.1";
constexpr int kCameraId = 5;

// Each test case runs its own camera on an address of its own.
QString cameraAddress(int n)
{
    return QStringLiteral("127.0.73.%1").arg(10 + n);
}

std::vector<std::string> camsimArguments(int n, const std::vector<std::string>& extra = {})
{
    std::vector<std::string> arguments { "--address", cameraAddress(n).toStdString(), "--search-address", kSearch,
        "--search-port", "-1", "--first-id", std::to_string(kCameraId), "--people-per-minute", "0.1" };
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return arguments;
}

// Pictures for people to look at, in <build>/artifacts/.
// A dialog is taken from the screen, as the operator sees it.
void saveArtifact(QWidget* widget, const QString& name)
{
    const QString dir = qEnvironmentVariable("ARDENIX_BUILD_DIR") + "/artifacts";
    QDir().mkpath(dir);
    QTest::qWait(300);
    const QRect frame = widget->frameGeometry();
    QGuiApplication::primaryScreen()
        ->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height())
        .save(dir + "/" + name);
}

QString tipText(Thermography* w)
{
    auto* tip = w->findChild<QtipDig*>();
    auto* label = tip ? tip->findChild<QLabel*>("label") : nullptr;
    return tip && tip->isVisible() && label ? label->text() : QString();
}

QPushButton* button(QWidget* w, const char* name)
{
    return w->findChild<QPushButton*>(QString::fromLatin1(name));
}

template <typename Dialog> Dialog* openDialog(Thermography* w)
{
    const auto dialogs = w->findChildren<Dialog*>();
    for (Dialog* dialog : dialogs) {
        if (dialog->isVisible())
            return dialog;
    }
    return nullptr;
}

// Alarm events the window's alarm link received, as the camera sent them
// (temperature in tenths, type, camera second). They are logged on the alarm
// link's thread.
struct AlarmEvent {
    int temp = 0;
    int type = 0;
    qint64 second = 0;
};
std::mutex g_alarmLock;
QVector<AlarmEvent> g_alarms;
QtMessageHandler g_previousHandler = nullptr;

QVector<AlarmEvent> alarmsSentAfter(qint64 second)
{
    std::lock_guard<std::mutex> locker(g_alarmLock);
    QVector<AlarmEvent> later;
    for (const AlarmEvent& event : g_alarms) {
        if (event.second > second)
            later << event;
    }
    return later;
}

void collectAlarms(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (text.contains("\"event_occured\"")) {
        const QJsonObject params
            = QJsonDocument::fromJson(text.toUtf8()).object()["param"].toObject()["params"].toObject();
        if (params.contains("temp")) {
            std::lock_guard<std::mutex> locker(g_alarmLock);
            g_alarms << AlarmEvent { params["temp"].toInt(), params["alarm_type"].toInt(),
                static_cast<qint64>(params["ts"].toDouble()) };
        }
    }
    if (g_previousHandler)
        g_previousHandler(type, context, text);
}

} // namespace

class TestOptions : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void damagedThresholdFallsBackTo37();
    void settingsNeedASession();
    void thresholdReachesTheCameraAndItsClassification();
    void unitFollowsTheCamera();
    void unitSwitchRefused();
    void resetKeepsTheCards();
    void soundAndFlipButtons();

private:
    void connectTo(int n, Camsim& camsim);
    // Opens the settings dialog through the window, types value and OKs it.
    bool setThreshold(const QString& value);

    QTemporaryDir m_dir;
    QTranslator m_translator;
    QScopedPointer<Thermography> m_window;
};

void TestOptions::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(QDir::setCurrent(m_dir.path()));
    qputenv("ARDENIX_DB", QFile::encodeName(m_dir.filePath("ardenix.dat")));
    qputenv("KVSDK_SEARCH_TARGETS", kSearch);
    QVERIFY(installEnglishTranslation(*QCoreApplication::instance(), m_translator));
    g_previousHandler = qInstallMessageHandler(collectAlarms);
    if (Camsim::program().empty())
        QSKIP("camsim was not built");
}

void TestOptions::init()
{
    QFile::remove("Config.ini");
    m_window.reset(new Thermography);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.data(), 5000));
}

void TestOptions::cleanup()
{
    m_window.reset();
}

void TestOptions::connectTo(int n, Camsim& camsim)
{
    QVERIFY2(camsim.start(), camsim.log().c_str());
    QSignalSpy logins(m_window.data(), &Thermography::SigLoginResult);
    m_window->addDevice(kCameraId, cameraAddress(n), "admin", "");
    QTRY_VERIFY_WITH_TIMEOUT(m_window->deviceMsg().id == kCameraId, patient(15000));
}

bool TestOptions::setThreshold(const QString& value)
{
    QTest::mouseClick(button(m_window.data(), "setupbtn"), Qt::LeftButton);
    QSetupDig* dialog = nullptr;
    QElapsedTimer clock;
    clock.start();
    while (!dialog && clock.elapsed() < patient(10000)) {
        QTest::qWait(50);
        dialog = openDialog<QSetupDig>(m_window.data());
    }
    if (!dialog)
        return false;
    QPointer<QSetupDig> guard(dialog);
    auto* edit = dialog->findChild<QLineEdit*>("tempEdit");
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, value);
    QTest::mouseClick(button(dialog, "definebtn"), Qt::LeftButton);
    clock.restart();
    while (guard && clock.elapsed() < patient(10000))
        QTest::qWait(50);
    return guard.isNull();
}

void TestOptions::damagedThresholdFallsBackTo37()
{
    const QList<QPair<QString, double>> cases { { "nan", 37.0 }, { "1e308", 37.0 }, { "abc", 37.0 }, { "-inf", 37.0 },
        { "38.2", 38.2 } };
    for (const auto& entry : cases) {
        // Written as text, as a hand-edited or damaged file holds it.
        QSettings("./Config.ini", QSettings::IniFormat).setValue("CONFIG/temperature", entry.first);
        QCOMPARE(Thermography::readThreshold(), entry.second);
    }
    Thermography fresh;
    QCOMPARE(fresh.threshold(), 38.2);
}

void TestOptions::settingsNeedASession()
{
    Thermography* w = m_window.data();
    for (int i = 0; i < 2; ++i) {
        QTest::mouseClick(button(w, "setupbtn"), Qt::LeftButton);
        QCOMPARE(tipText(w), QString("Please connect the device"));
        QMetaObject::invokeMethod(w, "showhide");
    }
    QVERIFY(!openDialog<QSetupDig>(w));
    // The unit button stays hidden without a camera.
    QVERIFY(!button(w, "unitbtn")->isVisible());
}

void TestOptions::thresholdReachesTheCameraAndItsClassification()
{
    Camsim camsim(camsimArguments(1, { "--high", "375", "--people-per-minute", "40", "--abnormal-share", "0.5" }));
    connectTo(1, camsim);
    Thermography* w = m_window.data();

    // Two quick clicks make one re-login; the thresholds (37.5) are stored
    // and the dialog opens.
    QSignalSpy logins(w, &Thermography::SigLoginResult);
    QTest::mouseClick(button(w, "setupbtn"), Qt::LeftButton);
    QTest::mouseClick(button(w, "setupbtn"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(openDialog<QSetupDig>(w), patient(10000));
    QCOMPARE(logins.count(), 1);
    QCOMPARE(logins.first().at(2).toInt(), 1234);
    QCOMPARE(QSettings("Config.ini", QSettings::IniFormat).value("CONFIG/temperature").toDouble(), 37.5);
    QVERIFY(openDialog<QSetupDig>(w)->findChild<QLineEdit*>("tempEdit")->text() == "37.5");
    saveArtifact(openDialog<QSetupDig>(w), "settings-celsius.png");
    openDialog<QSetupDig>(w)->close();
    QTRY_VERIFY(!openDialog<QSetupDig>(w));

    // Each new threshold changes how the camera sorts the people after it.
    for (const QString& value : { QString("36.5"), QString("38.5") }) {
        QVERIFY(setThreshold(value));
        // The camera had the threshold when it answered; an event it sent
        // before may still be on its way, so only those of a later second
        // count.
        const qint64 setAt = QDateTime::currentSecsSinceEpoch();
        const int tenths = qRound(value.toDouble() * 10);
        QTRY_VERIFY_WITH_TIMEOUT(alarmsSentAfter(setAt).size() >= 3, patient(30000));
        for (const AlarmEvent& event : alarmsSentAfter(setAt)) {
            const QString seen = QString("%1: temp %2 type %3").arg(value).arg(event.temp).arg(event.type);
            QVERIFY2((event.type != 0) == (event.temp > tenths), qPrintable(seen));
        }
    }
}

void TestOptions::unitFollowsTheCamera()
{
    Camsim camsim(camsimArguments(2, { "--unit", "f" }));
    Thermography* w = m_window.data();
    QVERIFY(!button(w, "unitbtn")->isVisible());
    connectTo(2, camsim);
    QPushButton* unit = button(w, "unitbtn");
    QTRY_VERIFY_WITH_TIMEOUT(unit->isVisible(), patient(10000));
    QCOMPARE(unit->text(), QString("Fahrenheit"));
    QCOMPARE(w->deviceMsg().tempType.load(), 1);

    // In Fahrenheit the confirmation asks for Celsius, without the warning.
    QTest::mouseClick(unit, Qt::LeftButton);
    resetdataDig* confirm = openDialog<resetdataDig>(w);
    QVERIFY(confirm);
    QCOMPARE(confirm->findChild<QLabel*>("titlelb")->text(), QString("Change to Celsius?"));
    QVERIFY(!confirm->findChild<QWidget*>("Weakwidget")->isVisible());
    QCOMPARE(confirm->minimumHeight(), 220);
    saveArtifact(confirm, "confirm-celsius.png");

    // The settings dialog works in the camera's unit.
    QTest::mouseClick(button(w, "setupbtn"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(openDialog<QSetupDig>(w), patient(10000));
    QVERIFY(openDialog<QSetupDig>(w)->isFahrenheit());
    saveArtifact(openDialog<QSetupDig>(w), "settings-fahrenheit.png");
    openDialog<QSetupDig>(w)->close();
    QTRY_VERIFY(!openDialog<QSetupDig>(w));
    confirm = openDialog<resetdataDig>(w);
    QVERIFY(confirm);
    QTest::mouseClick(button(confirm, "definebtn"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(tipText(w), QString("Successfully switched"), patient(10000));
    QTRY_COMPARE_WITH_TIMEOUT(unit->text(), QString("Celsius"), patient(10000));
    QCOMPARE(w->deviceMsg().tempType.load(), 10);

    // Towards Fahrenheit it warns of the rounding and is taller.
    QTest::mouseClick(unit, Qt::LeftButton);
    confirm = openDialog<resetdataDig>(w);
    QVERIFY(confirm);
    QCOMPARE(confirm->findChild<QLabel*>("titlelb")->text(), QString("Change to Fahrenheit?"));
    QVERIFY(confirm->findChild<QWidget*>("Weakwidget")->isVisible());
    QVERIFY(confirm->minimumHeight() >= 239);
    saveArtifact(confirm, "confirm-fahrenheit.png");
    QTest::mouseClick(button(confirm, "cancelbtn"), Qt::LeftButton);
    QTRY_VERIFY(!openDialog<resetdataDig>(w));
    QCOMPARE(unit->text(), QString("Celsius"));

    // The session's end hides the button.
    QMetaObject::invokeMethod(w, "on_disconnectbtn_clicked");
    QVERIFY(!unit->isVisible());
}

void TestOptions::unitSwitchRefused()
{
    Camsim camsim(camsimArguments(3, { "--no-unit-switch" }));
    connectTo(3, camsim);
    Thermography* w = m_window.data();
    // Its temperature frames report no unit switch: once the window has
    // taken a few of them (each comes after its report), the button is
    // still hidden.
    GLYuvWidget* thermal = w->videoWidgets().at(1);
    QTRY_VERIFY_WITH_TIMEOUT(thermal->framesAccepted() >= 3, patient(10000));
    QVERIFY(!button(w, "unitbtn")->isVisible());
    QMetaObject::invokeMethod(w, "OnTempunit");
    QTRY_COMPARE_WITH_TIMEOUT(tipText(w), QString("Switching failed"), patient(10000));
}

void TestOptions::resetKeepsTheCards()
{
    Thermography* w = m_window.data();
    // Two pictures on disk, listed and counted.
    const QString day = QDir(m_dir.path()).filePath("shots/2020-05-01");
    QVERIFY(QDir().mkpath(day));
    const QStringList names { "5-365-20200501083000-1-3.jpg", "5-385-20200501083100-2-3.jpg" };
    // Pictures of the cases before are listed and counted too.
    const int listed = w->alarmItems().size();
    const int counted = w->findChild<QLabel*>("allnumlb")->text().toInt();
    for (const QString& name : names) {
        QImage picture(64, 32, QImage::Format_RGB888);
        picture.fill(Qt::darkGray);
        QVERIFY(picture.save(day + "/" + name, "JPG"));
        QMetaObject::invokeMethod(w, "onscreenshotResult", Q_ARG(int, 1), Q_ARG(double, 365),
            Q_ARG(QString, day + "/" + name), Q_ARG(QString, QString()), Q_ARG(int, 0));
    }
    QCOMPARE(w->alarmItems().size(), qMin(listed + 2, Thermography::kMaxAlarmItems));
    QCOMPARE(w->findChild<QLabel*>("allnumlb")->text(), QString::number(counted + 2));

    QTest::mouseClick(button(w, "resetdatabtn"), Qt::LeftButton);
    resetdataDig* confirm = openDialog<resetdataDig>(w);
    QVERIFY(confirm);
    QCOMPARE(confirm->findChild<QLabel*>("titlelb")->text(), QString("Whether data reset?"));
    QTest::mouseClick(button(confirm, "definebtn"), Qt::LeftButton);
    for (const char* counter :
        { "allnumlb", "allnormalnumlb", "allabnormalnumlb", "todaynumlb", "todaynormalnumlb", "todayabnormalnumlb" })
        QCOMPARE(w->findChild<QLabel*>(counter)->text(), QString("0"));
    QCOMPARE(w->store().normalSeries().last(), 0);
    QCOMPARE(w->alarmItems().size(), qMin(listed + 2, Thermography::kMaxAlarmItems));
}

void TestOptions::soundAndFlipButtons()
{
    Camsim camsim(camsimArguments(4, { "--bitrate", "0" }));
    Thermography* w = m_window.data();
    connectTo(4, camsim);
    Device* device = w->deviceMsg().device;
    QSignalSpy frames(device, &Device::sigGotFrameV);
    auto lastPicture = [&frames]() -> FrameData {
        for (int i = frames.count() - 1; i >= 0; --i) {
            const FrameData frame = frames.at(i).at(0).value<FrameData>();
            if (frame.type != Device::FrameTemperature && frame.width > 0)
                return frame;
        }
        return FrameData();
    };
    QTRY_VERIFY_WITH_TIMEOUT(lastPicture().width > 0, patient(20000));

    // Flip: the camera mirrors its picture left to right. Pictures already on
    // their way come unmirrored; the first mirrored one must follow soon.
    const FrameData before = lastPicture();
    const int width = before.width;
    QTest::mouseClick(button(w, "flipbtn"), Qt::LeftButton);
    frames.clear();
    // The top band of the picture holds the still background (the wall and
    // the door), away from the people walking by.
    auto difference = [&](const FrameData& after, bool mirrored) {
        qint64 sum = 0;
        int n = 0;
        for (int y = 40; y < before.height / 4; y += 4) {
            for (int x = 0; x < width; x += 4) {
                const int a = quint8(before.data[y * width + x]);
                const int b = quint8(after.data[y * width + (mirrored ? width - 1 - x : x)]);
                sum += qAbs(a - b);
                ++n;
            }
        }
        return double(sum) / n;
    };
    FrameData after;
    auto mirroredArrived = [&] {
        after = lastPicture();
        return after.width == before.width && after.height == before.height && difference(after, true) < 4;
    };
    QTRY_VERIFY_WITH_TIMEOUT(mirroredArrived(), patient(10000));
    const double mirroredDifference = difference(after, true);
    const double plainDifference = difference(after, false);
    qInfo("mean difference: mirrored %.2f, as before %.2f", mirroredDifference, plainDifference);
    QVERIFY(plainDifference > 2 * mirroredDifference + 2);

    // Sound: on by default; off stops what reaches the player, on again
    // brings it back; the setting follows each click. The stream's video
    // frames mark the time that passes: 13 frames are half a second.
    GLYuvWidget* video = w->videoWidgets().at(0);
    const auto videoFramesPass = [video](quint64 count) {
        const quint64 until = video->framesAccepted() + count;
        return QTest::qWaitFor([&] { return video->framesAccepted() >= until; }, patient(10000));
    };
    const bool soundServer = !qEnvironmentVariableIsEmpty("PULSE_SERVER");
    if (soundServer)
        QTRY_VERIFY_WITH_TIMEOUT(w->audioOut().framesWritten() > 0, patient(10000));
    QPushButton* sound = button(w, "cutvoicebtn");
    QTest::mouseClick(sound, Qt::LeftButton);
    QCOMPARE(QSettings("Config.ini", QSettings::IniFormat).value("LANGUAGE/voice").toInt(), 0);
    // Sound already on its way when the switch went off may still be played.
    QVERIFY(videoFramesPass(13));
    const int whileOff = w->audioOut().framesWritten();
    QVERIFY(videoFramesPass(38));
    QCOMPARE(w->audioOut().framesWritten(), whileOff);
    QTest::mouseClick(sound, Qt::LeftButton);
    QCOMPARE(QSettings("Config.ini", QSettings::IniFormat).value("LANGUAGE/voice").toInt(), 1);
    if (!soundServer)
        QSKIP("no sound server: whether the sound stops and comes back is not seen");
    QTRY_VERIFY_WITH_TIMEOUT(w->audioOut().framesWritten() > whileOff, patient(10000));
}

QTEST_MAIN(TestOptions)
#include "TestOptions.moc"
