// The alarm road in the main window: each alarm becomes a picture, a card
// among the 30 newest, a count, a tip and (abnormal) a sound; the start-up
// fill; manual snapshots and the folder button; and the link to the camera's
// alarm service against the camera simulator on 127.0.74.x.
#include "Camsim.h"
#include "TestPatience.h"

#include "app/Startup.h"
#include "app/Thermography.h"
#include "widgets/QscreenshotDig.h"
#include "widgets/QtipDig.h"

#include <QDate>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QLayout>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScrollArea>
#include <QSettings>
#include <QSound>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QTranslator>
#include <QUrl>
#include <QtTest>

#include <limits>

namespace {

const char* const kSearch = "127.0.74.1";
constexpr int kCameraId = 6;

QString cameraAddress(int n)
{
    return QStringLiteral("127.0.74.%1").arg(10 + n);
}

std::vector<std::string> camsimArguments(int n, const std::vector<std::string>& extra = {})
{
    std::vector<std::string> arguments { "--address", cameraAddress(n).toStdString(), "--search-address", kSearch,
        "--search-port", "-1", "--first-id", std::to_string(kCameraId) };
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return arguments;
}

// Pictures for people to look at, in <build>/artifacts/.
void saveArtifact(QWidget* widget, const QString& name)
{
    const QString dir = qEnvironmentVariable("ARDENIX_BUILD_DIR") + "/artifacts";
    QDir().mkpath(dir);
    QTest::qWait(300);
    widget->grab().save(dir + "/" + name);
}

QtipDig* tip(Thermography* w)
{
    return w->findChild<QtipDig*>();
}

QString tipText(Thermography* w)
{
    QtipDig* t = tip(w);
    auto* label = t ? t->findChild<QLabel*>("label") : nullptr;
    auto* alarm = t ? t->findChild<QLabel*>("labeltip") : nullptr;
    if (!t || !t->isVisible())
        return QString();
    return label && label->isVisible() ? label->text() : alarm ? alarm->text() : QString();
}

bool tipInAlarmStyle(Thermography* w)
{
    QtipDig* t = tip(w);
    QWidget* box = t ? t->findChild<QWidget*>("lbwidget") : nullptr;
    return box && box->isVisible();
}

QTimer* tipTimer(Thermography* w)
{
    return w->findChild<QTimer*>("tipTimer");
}

// Log lines of the window that the link tests follow.
QStringList g_lines;
QtMessageHandler g_previousHandler = nullptr;

void collectLines(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (text.startsWith("code ") || text.startsWith("m_deviceMsg.devicecount") || text.startsWith("注册结果"))
        g_lines << text;
    if (g_previousHandler)
        g_previousHandler(type, context, text);
}

// A picture file with a proper alarm name in dir; returns its path.
QString pictureFile(const QString& dir, int second, int state)
{
    QDir().mkpath(dir);
    const QString path = QStringLiteral("%1/6-%2-202005010830%3-%4-3.jpg")
                             .arg(dir)
                             .arg(state == 1 ? 365 : 385)
                             .arg(second % 60, 2, 10, QLatin1Char('0'))
                             .arg(state);
    QImage picture(48, 24, QImage::Format_RGB888);
    picture.fill(state == 1 ? Qt::darkCyan : Qt::darkRed);
    picture.save(path, "JPG");
    return path;
}

Thermography::TempAlarm alarm(qint32 temperature, qint32 type, bool stamped = false, qint32 timestamp = 0)
{
    Thermography::TempAlarm a;
    a.hasType = a.hasTemp = true;
    a.viTemp = temperature;
    a.viAlarmType = type;
    a.hasTimestamp = stamped;
    a.timestamp = timestamp;
    return a;
}

// Until the session has shown both pictures, a snapshot has nothing to take.
void waitForBothPictures(Thermography* w)
{
    bool video = false;
    bool thermal = false;
    const QMetaObject::Connection shown = QObject::connect(w->deviceMsg().device, &Device::sigGotFrameV, w,
        [&](const FrameData& frame) { (frame.type == Device::FrameTemperature ? thermal : video) = true; });
    QTRY_VERIFY_WITH_TIMEOUT(video && thermal, patient(10000));
    QObject::disconnect(shown);
}

} // namespace

class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls << url; }
};

class TestAlarms : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void listKeepsTheThirtyNewest();
    void startupFillsTheListNewestOnTop();
    void unrecordedPicturesAreRecordedAtStart();
    void liveAlarmsBecomePicturesCountsTipsAndSound();
    void picturesOfAnEndingSessionAreRecorded();
    void manualSnapshotAndFolderButton();
    void linkRegistersAndComesBackAfterADrop();
    void refusedLinkRetriesAndLogsTheCameraInAgain();
    void linkThreadsFollowTheSession();
    void linkRegistersOnlyOnAnAcceptedAuthAndAnOk();

private:
    void connectTo(int n, Camsim& camsim);

    QTemporaryDir m_dir;
    QTranslator m_translator;
    QScopedPointer<Thermography> m_window;
    int m_case = 0;
};

void TestAlarms::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(QDir::setCurrent(m_dir.path()));
    qputenv("KVSDK_SEARCH_TARGETS", kSearch);
    QVERIFY(installEnglishTranslation(*QCoreApplication::instance(), m_translator));
    g_previousHandler = qInstallMessageHandler(collectLines);
}

void TestAlarms::init()
{
    // A database and a snapshot folder of its own per case.
    ++m_case;
    qputenv("ARDENIX_DB", QFile::encodeName(m_dir.filePath(QString("case%1/ardenix.dat").arg(m_case))));
    qputenv("ARDENIX_SNAPSHOT_DIR", QFile::encodeName(m_dir.filePath(QString("case%1/shots").arg(m_case))));
    g_lines.clear();
}

void TestAlarms::cleanup()
{
    m_window.reset();
}

void TestAlarms::connectTo(int n, Camsim& camsim)
{
    QVERIFY2(camsim.start(), camsim.log().c_str());
    if (!m_window) {
        m_window.reset(new Thermography);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.data(), 5000));
    }
    m_window->addDevice(kCameraId, cameraAddress(n), "admin", "");
    QTRY_VERIFY_WITH_TIMEOUT(m_window->deviceMsg().id == kCameraId, patient(15000));
}

void TestAlarms::listKeepsTheThirtyNewest()
{
    m_window.reset(new Thermography);
    Thermography* w = m_window.data();
    w->show();
    QWidget* placeholder = w->findChild<QWidget*>("ScreenshotWidget");
    QVERIFY(placeholder->isVisible());
    const QString dir = m_dir.filePath("case1/pictures");
    QPointer<QscreenshotDig> first;
    QStringList paths;
    for (int i = 0; i < 31; ++i) {
        paths << pictureFile(dir, i, 1);
        QMetaObject::invokeMethod(w, "onscreenshotResult", Q_ARG(int, 1), Q_ARG(double, 365),
            Q_ARG(QString, paths.last()), Q_ARG(QString, QString()), Q_ARG(int, 0));
        if (i == 0)
            first = w->alarmItems().first();
    }
    QVERIFY(!placeholder->isVisible());
    QCOMPARE(w->alarmItems().size(), 30);
    QVERIFY(first.isNull());
    auto* list = w->findChild<QLayout*>("idlistlayout");
    QCOMPARE(list->itemAt(0)->widget(), static_cast<QWidget*>(w->alarmItems().last()));
    // Each alarm was counted once, as normal; its tip is the plain one.
    QCOMPARE(w->store().todayNormal(), 31);
    QCOMPARE(w->findChild<QLabel*>("todaynumlb")->text(), QString("31"));
    QCOMPARE(tipText(w), QString("Normal temperature"));
    QVERIFY(!tipInAlarmStyle(w));
    QCOMPARE(tipTimer(w)->interval(), 1000);
    QCOMPARE(w->alarmSoundsPlayed(), 0);

    // A person whose picture failed is counted and listed all the same,
    // under the name the picture would have had; the card and a later tip
    // say that the picture is missing.
    QMetaObject::invokeMethod(w, "onscreenshotResult", Q_ARG(int, 0), Q_ARG(double, 388), Q_ARG(QString, QString()),
        Q_ARG(QString, QString()), Q_ARG(int, 2));
    QCOMPARE(tipText(w), QString("Abnormal temperature"));
    QCOMPARE(w->store().todayNormal(), 31);
    QCOMPARE(w->store().todayAbnormal(), 1);
    auto* failed = qobject_cast<QscreenshotDig*>(list->itemAt(0)->widget());
    QVERIFY(failed);
    QCOMPARE(failed->findChild<QLabel*>("typelb")->text(), QString("Screenshot fail"));
    QCOMPARE(failed->findChild<QLabel*>("temperaturelb")->text(), QString("Temp:38.8℃"));
    QStringList recent;
    QVERIFY(w->store().recentPictures(recent));
    const QRegularExpression name("/Screenshot/\\d{4}-\\d\\d-\\d\\d/\\d+-388-\\d{14}-2-3\\.jpg$");
    QVERIFY2(name.match(recent.first()).hasMatch(), qPrintable(recent.first()));
    QVERIFY(!QFile::exists(recent.first()));
    QTRY_COMPARE_WITH_TIMEOUT(tipText(w), QString("Screenshot fail"), patient(5000));
}

void TestAlarms::startupFillsTheListNewestOnTop()
{
    const QString dir = m_dir.filePath("case2/pictures");
    QStringList paths;
    {
        LocalDatabase seed;
        seed.openDatabase();
        for (int i = 0; i < 5; ++i) {
            paths << pictureFile(dir, i, i % 2 ? 2 : 1);
            seed.addPicture(paths.last());
        }
    }
    QFile::remove(paths.at(2)); // a picture deleted since
    m_window.reset(new Thermography);
    Thermography* w = m_window.data();
    w->show();
    QVERIFY(!w->findChild<QWidget*>("ScreenshotWidget")->isVisible());
    // The cards are built once construction has finished.
    QTRY_COMPARE(w->alarmItems().size(), 4);
    auto* list = w->findChild<QLayout*>("idlistlayout");
    auto* top = qobject_cast<QscreenshotDig*>(list->itemAt(0)->widget());
    QVERIFY(top);
    QCOMPARE(top->findChild<QLabel*>("datelb")->text(), QString("2020-05-01 08:30:04"));
    auto* bottom = qobject_cast<QscreenshotDig*>(list->itemAt(3)->widget());
    QCOMPARE(bottom->findChild<QLabel*>("datelb")->text(), QString("2020-05-01 08:30:00"));
}

void TestAlarms::unrecordedPicturesAreRecordedAtStart()
{
    // A program that ended between writing a picture and recording it:
    // the next start records it, once; a picture cut off is left alone.
    const QString shots = qEnvironmentVariable("ARDENIX_SNAPSHOT_DIR") + "/Screenshot";
    const QString day = shots + "/" + QDate::currentDate().toString("yyyy-MM-dd");
    const QString recorded = pictureFile(day, 1, 1);
    const QString unrecorded = pictureFile(day, 2, 2);
    const QString cut = pictureFile(day, 3, 1);
    {
        LocalDatabase seed;
        seed.openDatabase();
        seed.addPicture(recorded);
    }
    QFile file(cut);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.resize(file.size() / 2));
    file.close();

    for (int start = 0; start < 2; ++start) {
        m_window.reset(new Thermography);
        QCOMPARE(m_window->store().totalNormal(), 1);
        QCOMPARE(m_window->store().totalAbnormal(), 1);
        QTRY_COMPARE(m_window->alarmItems().size(), 2);
    }
}

void TestAlarms::liveAlarmsBecomePicturesCountsTipsAndSound()
{
    Camsim camsim(camsimArguments(1, { "--people-per-minute", "0.1" }));
    connectTo(1, camsim);
    Thermography* w = m_window.data();
    // Wait for the live picture, then let the alarm service "measure".
    QTRY_VERIFY_WITH_TIMEOUT(w->fixlinkState() == 1, patient(15000));
    QTRY_COMPARE_WITH_TIMEOUT(w->deviceMsg().timezone.load(), 8, patient(10000));
    waitForBothPictures(w);
    const int soundsBefore = w->alarmSoundsPlayed();

    // An abnormal person with a time stamp: booked, served from the frame
    // of that moment, listed, counted, announced loudly.
    const qint32 now = qint32(QDateTime::currentSecsSinceEpoch());
    Thermography::TempAlarm abnormal;
    abnormal.hasType = abnormal.hasTemp = abnormal.hasTimestamp = true;
    abnormal.viAlarmType = 2;
    abnormal.viTemp = 383;
    abnormal.timestamp = now;
    w->handleTempAlarm(abnormal);
    QTRY_COMPARE_WITH_TIMEOUT(w->store().todayAbnormal(), 1, patient(10000));
    QCOMPARE(w->alarmItems().size(), 1);
    QCOMPARE(tipText(w), QString("Abnormal temperature"));
    QVERIFY(tipInAlarmStyle(w));
    QCOMPARE(tipTimer(w)->interval(), 3000);
    QCOMPARE(w->alarmSoundsPlayed(), soundsBefore + 1);
    saveArtifact(w, "abnormal-tip.png");
    QDir shots(qEnvironmentVariable("ARDENIX_SNAPSHOT_DIR") + "/Screenshot");
    QStringList written;
    for (const QString& day : shots.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        written += QDir(shots.filePath(day)).entryList({ "*.jpg" });
    QCOMPARE(written.size(), 1);
    QVERIFY2(written.first().startsWith("6-383-"), qPrintable(written.first()));
    QVERIFY(written.first().endsWith("-2-3.jpg"));
    // Taken 1.5 s into the alarm's second on the camera's clock (UTC + 8 h),
    // not at once from the frame held when the alarm came.
    const QDateTime stamp = QDateTime::fromString(written.first().section('-', 2, 2), "yyyyMMddHHmmss");
    QVERIFY2(QDateTime(stamp.date(), stamp.time(), Qt::UTC).toSecsSinceEpoch() > now + 8 * 3600,
        qPrintable(written.first()));

    // A normal person without a time stamp is served at once: quiet tip,
    // no sound.
    Thermography::TempAlarm normal;
    normal.hasType = normal.hasTemp = true;
    normal.viTemp = 364;
    w->handleTempAlarm(normal);
    QTRY_COMPARE_WITH_TIMEOUT(w->store().todayNormal(), 1, patient(5000));
    QCOMPARE(tipText(w), QString("Normal temperature"));
    QCOMPARE(w->alarmItems().size(), 2);
    QCOMPARE(w->alarmSoundsPlayed(), soundsBefore + 1);

    // With the reminder off the abnormal tip is short and plain.
    QSettings("Config.ini", QSettings::IniFormat).setValue("CONFIG/Remind", 0);
    QMetaObject::invokeMethod(w, "onGetAlarmRemindstate");
    abnormal.hasTimestamp = false;
    w->handleTempAlarm(abnormal);
    QTRY_COMPARE_WITH_TIMEOUT(w->store().todayAbnormal(), 2, patient(5000));
    QVERIFY(!tipInAlarmStyle(w));
    QCOMPARE(tipTimer(w)->interval(), 1000);
    QCOMPARE(w->alarmSoundsPlayed(), soundsBefore + 2);
    // Sounds do not pile up, with or without a sound server to finish them:
    // the window keeps one.
    QCOMPARE(w->findChildren<QSound*>().size(), 1);
    QCOMPARE(qApp->findChildren<QSound*>().size(), 0);
    QSettings("Config.ini", QSettings::IniFormat).remove("CONFIG/Remind");

    // A list of both kinds, for people to look at.
    for (int i = 0; i < 6; ++i) {
        Thermography::TempAlarm next = i % 3 ? normal : abnormal;
        next.viTemp += i;
        w->handleTempAlarm(next);
        QTest::qWait(400);
    }
    QTRY_COMPARE_WITH_TIMEOUT(w->alarmItems().size(), 9, patient(10000));
    QMetaObject::invokeMethod(w, "showhide");
    saveArtifact(w, "alarm-list.png");

    // Without a session an alarm is dropped: the first answer after it is
    // the next session's.
    QMetaObject::invokeMethod(w, "on_disconnectbtn_clicked");
    QSignalSpy results(w, &Thermography::SigscreenshotResult);
    w->handleTempAlarm(normal);
    connectTo(1, camsim);
    waitForBothPictures(w);
    Thermography::TempAlarm next = normal;
    next.viTemp = 366;
    w->handleTempAlarm(next);
    QTRY_VERIFY_WITH_TIMEOUT(!results.isEmpty(), patient(5000));
    QCOMPARE(results.at(0).at(1).toDouble(), 366.0);
    QTRY_COMPARE_WITH_TIMEOUT(w->store().todayNormal(), 6, patient(5000));
}

void TestAlarms::picturesOfAnEndingSessionAreRecorded()
{
    // The cameras' clocks 12 hours behind UTC.
    Camsim camsim(camsimArguments(7, { "--cameras", "2", "--people-per-minute", "0.1", "--timezone", "-12" }));
    connectTo(7, camsim);
    Thermography* w = m_window.data();
    QTRY_COMPARE_WITH_TIMEOUT(w->deviceMsg().timezone.load(), -12, patient(10000));
    waitForBothPictures(w);
    QSignalSpy results(w, &Thermography::SigscreenshotResult);

    // A time stamp that gives no plausible second (with the time zone it
    // would overflow to one in 2038) is not booked, and the person is
    // pictured at once, in turn with the next one. Only the requests are
    // made here; the pictures are written elsewhere and come back later.
    w->handleTempAlarm(alarm(362, 0, true, std::numeric_limits<qint32>::min() + 1000));
    w->handleTempAlarm(alarm(361, 0));
    QCOMPARE(results.size(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(results.size(), 2, patient(5000));
    QCOMPARE(results.at(0).at(1).toDouble(), 362.0);
    QCOMPARE(results.at(1).at(1).toDouble(), 361.0);

    // A person booked for a second still ahead when another camera is
    // added: pictured from the frames held, recorded after the session ended.
    w->handleTempAlarm(alarm(383, 2, true, qint32(QDateTime::currentSecsSinceEpoch()) + 6));
    w->addDevice(kCameraId + 1, cameraAddress(8), "admin", "");
    QTRY_COMPARE_WITH_TIMEOUT(results.size(), 3, patient(5000));
    QCOMPARE(results.at(2).at(0).toInt(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(w->store().totalAbnormal(), 1, patient(5000));

    // Closing the window does the same before the process ends.
    QTRY_VERIFY_WITH_TIMEOUT(w->deviceMsg().id == kCameraId + 1, patient(15000));
    QTRY_COMPARE_WITH_TIMEOUT(w->deviceMsg().timezone.load(), -12, patient(10000));
    waitForBothPictures(w);
    w->handleTempAlarm(alarm(384, 2, true, qint32(QDateTime::currentSecsSinceEpoch()) + 6));
    w->finishSessionPictures();
    QCOMPARE(results.size(), 4);
    QCOMPARE(w->store().totalAbnormal(), 2);
    QCOMPARE(w->store().totalNormal(), 2);
    QCOMPARE(w->alarmItems().size(), 4);
    QStringList rows;
    w->store().recentPictures(rows);
    QCOMPARE(rows.size(), 4);

    // A booked picture that failed comes back without a path: a failure.
    QMetaObject::invokeMethod(w, "TempScreenshotResult", Q_ARG(double, 385), Q_ARG(QString, QString()),
        Q_ARG(QString, QString()), Q_ARG(int, 2));
    QCOMPARE(results.size(), 5);
    QCOMPARE(results.at(4).at(0).toInt(), 0);
}

void TestAlarms::manualSnapshotAndFolderButton()
{
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("file", &catcher, "open");
    Camsim camsim(camsimArguments(2, { "--no-alarms" }));
    connectTo(2, camsim);
    Thermography* w = m_window.data();

    // No alarm picture yet: the folder does not exist.
    QTest::mouseClick(w->findChild<QPushButton*>("folderbtn"), Qt::LeftButton);
    QCOMPARE(tipText(w), QString("The current path does not exist"));
    QVERIFY(catcher.urls.isEmpty());

    // A manual snapshot is written, but neither listed nor counted.
    // It needs both pictures; until they have come, a click only says it failed.
    auto clickSnapshot = [w] {
        QTest::mouseClick(w->findChild<QPushButton*>("screenshotbnt"), Qt::LeftButton);
        return tipText(w);
    };
    QTRY_COMPARE_WITH_TIMEOUT(clickSnapshot(), QString("Screenshot succeeded"), patient(20000));
    QCOMPARE(w->alarmItems().size(), 0);
    QCOMPARE(w->store().todayNormal() + w->store().todayAbnormal(), 0);
    const QString manual = qEnvironmentVariable("ARDENIX_SNAPSHOT_DIR") + "/ManualScreenshot";
    QVERIFY(QFileInfo(manual).isDir());

    // After an alarm picture the folder opens in the file browser.
    Thermography::TempAlarm normal;
    normal.hasType = normal.hasTemp = true;
    normal.viTemp = 362;
    w->handleTempAlarm(normal);
    QTRY_COMPARE_WITH_TIMEOUT(w->alarmItems().size(), 1, patient(5000));
    QTest::mouseClick(w->findChild<QPushButton*>("folderbtn"), Qt::LeftButton);
    QCOMPARE(catcher.urls.size(), 1);
    QCOMPARE(QFileInfo(catcher.urls.first().toLocalFile()).canonicalFilePath(),
        QFileInfo(qEnvironmentVariable("ARDENIX_SNAPSHOT_DIR") + "/Screenshot").canonicalFilePath());
    QDesktopServices::unsetUrlHandler("file");
}

void TestAlarms::linkRegistersAndComesBackAfterADrop()
{
    // Every connection of the camera is closed 6 s after it opened.
    Camsim camsim(camsimArguments(3, { "--people-per-minute", "0.1", "--drop-after", "6" }));
    QElapsedTimer clock;
    connectTo(3, camsim);
    Thermography* w = m_window.data();
    QSignalSpy previews(w->deviceMsg().device, &Device::sigPreview);
    clock.start();
    QTRY_VERIFY_WITH_TIMEOUT(w->fixlinkState() == 1, patient(10000));
    qInfo("registered %lld ms after the login", clock.elapsed());

    // The drop; the next pass registers again.
    QTRY_VERIFY_WITH_TIMEOUT(w->fixlinkState() == 2, patient(10000));
    clock.restart();
    QTRY_VERIFY_WITH_TIMEOUT(w->fixlinkState() == 1, patient(10000));
    const qint64 back = clock.elapsed();
    qInfo("registered again %lld ms after the drop", back);
    QVERIFY(back < patient(3000));
}

void TestAlarms::refusedLinkRetriesAndLogsTheCameraInAgain()
{
    Camsim camsim(camsimArguments(4, { "--people-per-minute", "0.1", "--refuse-alarm-logins" }));
    connectTo(4, camsim);
    Thermography* w = m_window.data();
    QSignalSpy logins(w, &Thermography::SigLoginResult);
    QElapsedTimer clock;
    clock.start();
    // The tenth refusal logs the camera in again (marker 1).
    QTRY_VERIFY_WITH_TIMEOUT(!logins.isEmpty(), patient(40000));
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(logins.first().at(1).value<Device::LoginState>(), Device::LoginRefreshed);
    QCOMPARE(logins.first().at(2).toInt(), 1);
    const int attempts = g_lines.filter(QRegularExpression("^code ")).size();
    qInfo("%d attempts in %lld ms before the camera's re-login", attempts, elapsed);
    QVERIFY(attempts >= 10 && attempts <= 11);
    // About one attempt every 1.5 s.
    QVERIFY(elapsed > 9 * 1000 && elapsed < patient(30000));
    QCOMPARE(w->fixlinkState(), 0);
}

void TestAlarms::linkThreadsFollowTheSession()
{
    Camsim camsim(camsimArguments(5, { "--cameras", "2", "--people-per-minute", "0.1" }));
    connectTo(5, camsim);
    Thermography* w = m_window.data();
    QTRY_VERIFY_WITH_TIMEOUT(w->fixlinkState() == 1, patient(10000));

    // A second camera: the first link ends before the second starts work.
    w->addDevice(kCameraId + 1, cameraAddress(6), "admin", "");
    QTRY_VERIFY_WITH_TIMEOUT(w->fixlinkState() == 1 && w->deviceMsg().id == kCameraId + 1, patient(15000));
    const QStringList started = g_lines.filter(QRegularExpression("^m_deviceMsg.devicecount前"));
    const QStringList ended = g_lines.filter(QRegularExpression("^m_deviceMsg.devicecount [^前]"));
    QCOMPARE(started.size(), 2);
    QCOMPARE(ended.size(), 1);
    QVERIFY(g_lines.indexOf(ended.first()) < g_lines.indexOf(started.last()));

    // Disconnecting ends the link within about a second.
    QElapsedTimer clock;
    clock.start();
    QMetaObject::invokeMethod(w, "on_disconnectbtn_clicked");
    QTRY_VERIFY_WITH_TIMEOUT(w->fixlinkState() == 2, patient(3000));
    QTRY_COMPARE_WITH_TIMEOUT(
        g_lines.filter(QRegularExpression("^m_deviceMsg.devicecount [^前]")).size(), 2, patient(3000));
    qInfo("link ended %lld ms after the disconnect", clock.elapsed());
    QVERIFY(clock.elapsed() < patient(2000));
}

void TestAlarms::linkRegistersOnlyOnAnAcceptedAuthAndAnOk()
{
    // Two sessions whose Auth is never answered, then registrations
    // answered "fail" twice.
    Camsim camsim(camsimArguments(
        7, { "--people-per-minute", "0.1", "--stall-alarm-auth", "2", "--fail-alarm-registration", "2" }));
    connectTo(7, camsim);
    Thermography* w = m_window.data();
    auto attempts = [] { return g_lines.filter(QRegularExpression("^code ")).size(); };
    // While the first Auth waits, the camera is logged in again: its old
    // login value is gone, and the link must fill its request anew.
    QSignalSpy logins(w, &Thermography::SigLoginResult);
    w->deviceMsg().device->login(false, true, Device::kRefreshRestartsPreview);
    QTRY_VERIFY_WITH_TIMEOUT(!logins.isEmpty(), patient(10000));
    QVERIFY2(attempts() < 2, "the camera's re-login came too late to test the request");

    QTRY_VERIFY_WITH_TIMEOUT(w->fixlinkState() == 1, patient(40000));
    const QStringList codes = g_lines.filter(QRegularExpression("^code "));
    const QStringList answers = g_lines.filter(QRegularExpression("^注册结果"));
    qInfo() << "attempts" << codes << "answers" << answers;
    // Stalled twice and denied once with the stale login value (in the order
    // the re-login came), then registered twice "fail" and once "ok".
    QCOMPARE(codes.size(), 6);
    QCOMPARE(codes.filter(QRegularExpression(" -3$")).size(), 2);
    QCOMPARE(codes.filter(QRegularExpression(" -10$")).size(), 1);
    QCOMPARE(codes.filter(QRegularExpression(" 0$")).size(), 3);
    QCOMPARE(answers.size(), 3);
    QVERIFY(answers.at(0).endsWith("-1") && answers.at(1).endsWith("-1") && answers.at(2).endsWith(" 1"));
}

QTEST_MAIN(TestAlarms)
#include "TestAlarms.moc"
