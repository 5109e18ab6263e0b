// The confirmation dialog and the settings dialog: the unit conversions,
// the question and warning, the threshold's input patterns and range check,
// the stored Fahrenheit figure, the two switches in "Config.ini", and the
// threshold reaching a real camera session (the simulator), or not reaching
// one that has ended.
#include "widgets/QSetupDig.h"
#include "widgets/TemperatureUnits.h"
#include "widgets/resetdataDig.h"
#include "TestPatience.h"

#include "device/Device.h"

#include "Camsim.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTranslator>
#include <QValidator>
#include <QtTest>

#include <memory>

namespace {

const char* const kCamera = "127.0.73.20";
const int kCameraId = 57;

QString zh(const char* text)
{
    return QString::fromUtf8(text);
}

void writeConfig(const QString& key, const QVariant& value)
{
    QSettings settings("./Config.ini", QSettings::IniFormat);
    settings.setValue(key, value);
}

QVariant readConfig(const QString& key)
{
    QSettings settings("./Config.ini", QSettings::IniFormat);
    return settings.value(key);
}

template <typename T> T* child(QWidget* w, const char* name)
{
    return w->findChild<T*>(QString::fromLatin1(name));
}

QValidator::State check(QLineEdit* edit, QString text)
{
    int pos = text.size();
    return edit->validator()->validate(text, pos);
}

// The camera's thresholds as it reports them now.
QPair<int, int> thresholdsOf(Device& device)
{
    QList<QPair<int, int>> got;
    QObject context;
    QObject::connect(&device, &Device::sigGotThermalInfo, &context, [&got](int high, int low) {
        got.append({ high, low });
    });
    device.getThermalInfo();
    if (!QTest::qWaitFor([&got] { return !got.isEmpty(); }, patient(10000)))
        return { 0, 0 };
    return got.first();
}

} // namespace

class SetupDialogsTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_artifacts;
    std::unique_ptr<Camsim> m_camera;

    void saveShot(QWidget* w, const QString& name)
    {
        QTest::qWait(50);
        QVERIFY(w->grab().save(m_artifacts + "/" + name + ".png"));
    }

    // A logged-in session with the simulated camera, or null.
    std::unique_ptr<Device> loggedInDevice()
    {
        if (!m_camera)
            return nullptr;
        DeviceRecord record;
        record.id = kCameraId;
        record.address = kCamera;
        record.userName = "admin";
        auto device = std::make_unique<Device>(record);
        bool ok = false;
        bool done = false;
        QObject context;
        connect(device.get(), &Device::sigLogin, &context, [&](int, Device::LoginState state, int) {
            if (state == Device::LoginSuccess || state == Device::LoginFailed) {
                ok = state == Device::LoginSuccess;
                done = true;
            }
        });
        device->login(false, false, 0);
        if (!QTest::qWaitFor([&done] { return done; }, patient(10000)) || !ok)
            return nullptr;
        return device;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_artifacts = qEnvironmentVariable("ARDENIX_BUILD_DIR", QDir::currentPath()) + "/artifacts";
        QVERIFY(QDir().mkpath(m_artifacts));
        // "Config.ini" lives in the current directory: give the test its own.
        QVERIFY(QDir::setCurrent(m_dir.path()));
        if (!Camsim::program().empty()) {
            qputenv("KVSDK_LOGIN_TIMEOUT_MS", "3000");
            m_camera = std::make_unique<Camsim>(std::vector<std::string> { "--address", kCamera, "--search-port", "-1",
                "--first-id", std::to_string(kCameraId), "--high", "373", "--no-alarms" });
            QVERIFY2(m_camera->start(), m_camera->log().c_str());
        }
    }

    void cleanupTestCase() { m_camera.reset(); }

    void init() { QFile::remove("./Config.ini"); }

    void conversions_data()
    {
        QTest::addColumn<bool>("toFahrenheit");
        QTest::addColumn<double>("from");
        QTest::addColumn<double>("to");
        QTest::newRow("37.5 °C") << true << 37.5 << 99.5;
        QTest::newRow("36.6 °C") << true << 36.6 << 97.9;
        QTest::newRow("37.0 °C") << true << 37.0 << 98.6;
        QTest::newRow("42.9 °C") << true << 42.9 << 109.2;
        QTest::newRow("99.5 °F") << false << 99.5 << 37.5;
        QTest::newRow("97.9 °F") << false << 97.9 << 36.6;
        QTest::newRow("100.0 °F") << false << 100.0 << 37.8;
        QTest::newRow("118.4 °F") << false << 118.4 << 48.0;
    }

    void conversions()
    {
        QFETCH(bool, toFahrenheit);
        QFETCH(double, from);
        QFETCH(double, to);
        QCOMPARE(toFahrenheit ? celsiusToFahrenheit(from) : fahrenheitToCelsius(from), to);
    }

    void resetDialogAsksAndWarns()
    {
        QPointer<resetdataDig> dialog = new resetdataDig;
        QSignalSpy confirmed(dialog.data(), &resetdataDig::sigOnresetdataSet);
        QCOMPARE(child<QLabel>(dialog, "titlelb")->text(), zh("是否重置数据？"));
        QCOMPARE(child<QLabel>(dialog, "titlelb_2")->text(), zh("提示"));
        QCOMPARE(dialog->minimumSize(), QSize(425, 220));
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.data()));
        QVERIFY(!child<QWidget>(dialog, "Weakwidget")->isVisible());

        dialog->setQuestion(zh("确定切换温度单位为华氏度吗？"));
        dialog->showFahrenheitWarning();
        QCOMPARE(child<QLabel>(dialog, "titlelb")->text(), zh("确定切换温度单位为华氏度吗？"));
        QVERIFY(child<QWidget>(dialog, "Weakwidget")->isVisible());
        QCOMPARE(dialog->minimumSize(), QSize(425, 239));
        QVERIFY(dialog->height() >= 239);

        QTest::mouseClick(child<QPushButton>(dialog, "definebtn"), Qt::LeftButton);
        QCOMPARE(confirmed.count(), 1);
        QTRY_VERIFY(dialog.isNull());

        // Cancel and the title's close button close without confirming.
        for (const char* button : { "cancelbtn", "closebtn" }) {
            QPointer<resetdataDig> other = new resetdataDig;
            QSignalSpy spy(other.data(), &resetdataDig::sigOnresetdataSet);
            other->show();
            QVERIFY(QTest::qWaitForWindowExposed(other.data()));
            QTest::mouseClick(child<QPushButton>(other, button), Qt::LeftButton);
            QTRY_VERIFY(other.isNull());
            QCOMPARE(spy.count(), 0);
        }
    }

    void celsiusPatternAndRange()
    {
        writeConfig("CONFIG/temperature", 37.5);
        writeConfig("CONFIG/Remind", 0);
        QPointer<QSetupDig> dialog = new QSetupDig(nullptr, 3, 10);
        QSignalSpy finishing(dialog.data(), &QSetupDig::sigGetAlarmRemindstate);
        auto* edit = child<QLineEdit>(dialog, "tempEdit");
        QVERIFY(!dialog->isFahrenheit());
        QCOMPARE(edit->text(), QString("37.5"));
        QCOMPARE(child<QLabel>(dialog, "temptypelb")->text(), zh("℃"));
        QVERIFY(child<QLabel>(dialog, "Flabel")->text().isEmpty());
        QVERIFY(child<QLabel>(dialog, "tiplb")->text().isEmpty());
        QVERIFY(child<QCheckBox>(dialog, "AlarmCbox")->isChecked());
        QCOMPARE(child<QCheckBox>(dialog, "AlarmCbox")->text(), zh("开启"));
        QVERIFY(!child<QCheckBox>(dialog, "RemindCbox")->isChecked());
        QCOMPARE(child<QCheckBox>(dialog, "RemindCbox")->text(), zh("关闭"));

        QCOMPARE(check(edit, "35.0"), QValidator::Acceptable);
        QCOMPARE(check(edit, "42.9"), QValidator::Acceptable);
        QCOMPARE(check(edit, "38."), QValidator::Intermediate);
        QCOMPARE(check(edit, "43.0"), QValidator::Invalid);
        QCOMPARE(check(edit, "34.9"), QValidator::Invalid);
        QCOMPARE(check(edit, "38,0"), QValidator::Invalid);
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.data()));

        // Out of range is refused before anything could be sent.
        for (const char* value : { "43.0", "34.9", "" }) {
            edit->setText(value);
            QTest::mouseClick(child<QPushButton>(dialog, "definebtn"), Qt::LeftButton);
            QCOMPARE(child<QLabel>(dialog, "tiplb")->text(), zh("温度不在区间内"));
            QVERIFY(child<QLabel>(dialog, "Flabel")->isHidden());
            QVERIFY(dialog);
        }

        // Without a session a new value cannot be set.
        edit->setText("38.0");
        QTest::mouseClick(child<QPushButton>(dialog, "definebtn"), Qt::LeftButton);
        QCOMPARE(child<QLabel>(dialog, "tiplb")->text(), zh("设置失败"));
        QCOMPARE(finishing.count(), 0);

        // The unchanged value closes at once.
        edit->setText("37.5");
        QTest::mouseClick(child<QPushButton>(dialog, "definebtn"), Qt::LeftButton);
        QCOMPARE(finishing.count(), 1);
        QTRY_VERIFY(dialog.isNull());
    }

    void switchesAreWrittenAtEachClick()
    {
        QPointer<QSetupDig> dialog = new QSetupDig(nullptr, 3, 10);
        QSignalSpy finishing(dialog.data(), &QSetupDig::sigGetAlarmRemindstate);
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.data()));
        auto* alarm = child<QCheckBox>(dialog, "AlarmCbox");
        auto* remind = child<QCheckBox>(dialog, "RemindCbox");
        QVERIFY(alarm->isChecked());
        QTest::mouseClick(alarm, Qt::LeftButton);
        QCOMPARE(readConfig("CONFIG/Alarm").toInt(), 0);
        QCOMPARE(alarm->text(), zh("关闭"));
        QTest::mouseClick(remind, Qt::LeftButton);
        QTest::mouseClick(remind, Qt::LeftButton);
        QCOMPARE(readConfig("CONFIG/Remind").toInt(), 1);
        QCOMPARE(remind->text(), zh("开启"));

        // Cancel keeps what the clicks wrote.
        QTest::mouseClick(child<QPushButton>(dialog, "cancelbtn"), Qt::LeftButton);
        QCOMPARE(finishing.count(), 1);
        QTRY_VERIFY(dialog.isNull());
        QCOMPARE(readConfig("CONFIG/Alarm").toInt(), 0);

        QPointer<QSetupDig> again = new QSetupDig(nullptr, 3, 10);
        QSignalSpy closing(again.data(), &QSetupDig::sigGetAlarmRemindstate);
        QVERIFY(!child<QCheckBox>(again, "AlarmCbox")->isChecked());
        again->show();
        QVERIFY(QTest::qWaitForWindowExposed(again.data()));
        QTest::mouseClick(child<QPushButton>(again, "closebtn"), Qt::LeftButton);
        QCOMPARE(closing.count(), 1);
        QTRY_VERIFY(again.isNull());
    }

    void fahrenheitShowsTheTypedFigure()
    {
        writeConfig("CONFIG/temperature", 37.5);
        writeConfig("CONFIG/Ftemp9", 99.6);
        QPointer<QSetupDig> dialog = new QSetupDig(nullptr, 9, QSetupDig::FahrenheitUnit);
        auto* edit = child<QLineEdit>(dialog, "tempEdit");
        auto* hint = child<QLabel>(dialog, "Flabel");
        QVERIFY(dialog->isFahrenheit());
        QCOMPARE(edit->text(), QString("99.6"));
        QCOMPARE(hint->text(), zh("≈ 37.5℃"));
        QCOMPARE(child<QLabel>(dialog, "temptypelb")->text(), zh("℉"));

        QCOMPARE(check(edit, "95.0"), QValidator::Acceptable);
        QCOMPARE(check(edit, "100.0"), QValidator::Acceptable);
        QCOMPARE(check(edit, "118.4"), QValidator::Acceptable);
        QCOMPARE(check(edit, "118.5"), QValidator::Invalid);
        QCOMPARE(check(edit, "94.9"), QValidator::Invalid);

        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.data()));
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, "100.0");
        QCOMPARE(edit->text(), QString("100.0"));
        QCOMPARE(hint->text(), zh("≈ 37.8℃"));
        QVERIFY(hint->isVisible());

        // A figure far from the threshold is not the one the operator typed.
        writeConfig("CONFIG/Ftemp9", 101.0);
        std::unique_ptr<QSetupDig> converted(new QSetupDig(nullptr, 9, QSetupDig::FahrenheitUnit));
        converted->setAttribute(Qt::WA_DeleteOnClose, false);
        QCOMPARE(child<QLineEdit>(converted.get(), "tempEdit")->text(), QString("99.5"));
        // Another camera has no figure of its own.
        std::unique_ptr<QSetupDig> other(new QSetupDig(nullptr, 10, QSetupDig::FahrenheitUnit));
        other->setAttribute(Qt::WA_DeleteOnClose, false);
        QCOMPARE(child<QLineEdit>(other.get(), "tempEdit")->text(), QString("99.5"));
        delete dialog;
    }

    // The operator sees both dialogs in English.
    void englishLook()
    {
        QTranslator english;
        QVERIFY(english.load(":/Thermography/thermography_en.qm"));
        QCoreApplication::installTranslator(&english);
        writeConfig("CONFIG/temperature", 37.5);
        writeConfig("CONFIG/Alarm", 0);

        std::unique_ptr<resetdataDig> reset(new resetdataDig);
        reset->setAttribute(Qt::WA_DeleteOnClose, false);
        reset->setQuestion(QCoreApplication::translate("Thermography", "确定切换温度单位为华氏度吗？"));
        reset->showFahrenheitWarning();
        QCOMPARE(child<QLabel>(reset.get(), "titlelb_2")->text(), QString("Tip"));
        QCOMPARE(child<QLabel>(reset.get(), "titlelb1")->text(), QString("(Changement make ±0.1℉ Error )"));
        QCOMPARE(child<QPushButton>(reset.get(), "definebtn")->text(), QString("OK"));
        reset->show();
        QVERIFY(QTest::qWaitForWindowExposed(reset.get()));
        saveShot(reset.get(), "reset-fahrenheit-warning");

        std::unique_ptr<QSetupDig> setup(new QSetupDig(nullptr, 4, QSetupDig::FahrenheitUnit));
        setup->setAttribute(Qt::WA_DeleteOnClose, false);
        QCOMPARE(child<QLabel>(setup.get(), "titlelb")->text(), QString("Setting"));
        QCOMPARE(child<QLabel>(setup.get(), "titlelb_2")->text(), QString("Temp setting:"));
        QCOMPARE(child<QLabel>(setup.get(), "titlelb_3")->text(), QString("Alarm voice:"));
        QCOMPARE(child<QLabel>(setup.get(), "titlelb_4")->text(), QString("Alarm message:"));
        QCOMPARE(child<QCheckBox>(setup.get(), "AlarmCbox")->text(), QString("off"));
        QCOMPARE(child<QCheckBox>(setup.get(), "RemindCbox")->text(), QString("on"));
        QCOMPARE(child<QPushButton>(setup.get(), "cancelbtn")->text(), QString("Cancel"));
        setup->show();
        QVERIFY(QTest::qWaitForWindowExposed(setup.get()));
        child<QLineEdit>(setup.get(), "tempEdit")->setText("100.0");
        saveShot(setup.get(), "settings-fahrenheit");
        child<QLineEdit>(setup.get(), "tempEdit")->setText("130.0");
        QTest::mouseClick(child<QPushButton>(setup.get(), "definebtn"), Qt::LeftButton);
        QCOMPARE(child<QLabel>(setup.get(), "tiplb")->text(), QString("Not in temperautre range"));
        saveShot(setup.get(), "settings-out-of-range");
        QCoreApplication::removeTranslator(&english);
    }

    void endedSessionIsNeverTouched()
    {
        writeConfig("CONFIG/temperature", 37.5);
        DeviceRecord record;
        record.id = 5;
        record.address = "127.0.73.99";
        auto device = std::make_unique<Device>(record);
        QPointer<QSetupDig> dialog = new QSetupDig(device.get(), 5, 10);
        device.reset();
        child<QLineEdit>(dialog, "tempEdit")->setText("38.0");
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.data()));
        QTest::mouseClick(child<QPushButton>(dialog, "definebtn"), Qt::LeftButton);
        QCOMPARE(child<QLabel>(dialog, "tiplb")->text(), zh("设置失败"));
        QVERIFY(dialog);
        delete dialog;
    }

    void newThresholdReachesTheCamera()
    {
        if (!m_camera)
            QSKIP("the camera simulator was not built");
        std::unique_ptr<Device> device = loggedInDevice();
        QVERIFY(device);
        QCOMPARE(thresholdsOf(*device).first, 373);
        writeConfig("CONFIG/temperature", 37.3);

        QPointer<QSetupDig> dialog = new QSetupDig(device.get(), kCameraId, 10);
        QSignalSpy finishing(dialog.data(), &QSetupDig::sigGetAlarmRemindstate);
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.data()));
        auto* edit = child<QLineEdit>(dialog, "tempEdit");
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, "42.9");
        QTest::mouseClick(child<QPushButton>(dialog, "definebtn"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(dialog.isNull(), patient(10000));
        QCOMPARE(finishing.count(), 1);
        QCOMPARE(thresholdsOf(*device).first, 429);

        // A refusal keeps the dialog open with the failure text.
        writeConfig("CONFIG/temperature", 42.9);
        QPointer<QSetupDig> refused = new QSetupDig(device.get(), kCameraId, 10);
        refused->show();
        QVERIFY(QTest::qWaitForWindowExposed(refused.data()));
        emit device->sigSetThermalResult(0);
        QCOMPARE(child<QLabel>(refused, "tiplb")->text(), zh("设置失败"));
        QVERIFY(refused);
        delete refused;
    }

    void fahrenheitValueIsSentInCelsiusTenths()
    {
        if (!m_camera)
            QSKIP("the camera simulator was not built");
        std::unique_ptr<Device> device = loggedInDevice();
        QVERIFY(device);
        // The main window opens the dialog once the thresholds have come in.
        QVERIFY(thresholdsOf(*device).first > 0);
        writeConfig("CONFIG/temperature", 37.5);
        QPointer<QSetupDig> dialog = new QSetupDig(device.get(), kCameraId, QSetupDig::FahrenheitUnit);
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.data()));
        auto* edit = child<QLineEdit>(dialog, "tempEdit");
        QCOMPARE(edit->text(), QString("99.5"));
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, "100.0");
        QTest::mouseClick(child<QPushButton>(dialog, "definebtn"), Qt::LeftButton);
        QCOMPARE(readConfig(QString("CONFIG/Ftemp%1").arg(kCameraId)).toDouble(), 100.0);
        QTRY_VERIFY_WITH_TIMEOUT(dialog.isNull(), patient(10000));
        QCOMPARE(thresholdsOf(*device).first, 378);
    }
};

QTEST_MAIN(SetupDialogsTest)
#include "tst_setupdialogs.moc"
