// What the main window takes from "Config.ini" at start-up (threshold, alarm
// sound, reminder, picture retention), the keys other parts read from the
// same file, the window's change of day, the command line, the program's
// icon and the allocator's limits that start-up sets.
#include "app/CommandLine.h"
#include "app/ConfigFile.h"
#include "app/CurrentDate.h"
#include "app/Startup.h"
#include "app/Thermography.h"
#include "store/AppPaths.h"
#include "store/LocalDatabase.h"
#include "widgets/Qshowpicture.h"
#include "widgets/QtipDig.h"
#include "TestPatience.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>

#include <cstdlib>
#include <cstring>
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

QString day(int offset)
{
    return QDate::currentDate().addDays(offset).toString("yyyy-MM-dd");
}

bool writeConfig(const QByteArray& text)
{
    QFile file(configFilePath());
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

QByteArray sample(const QString& name)
{
    QFile file(qEnvironmentVariable("ARDENIX_SOURCE_DIR") + "/tests/data/app/config/" + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString labelText(QWidget* window, const char* name)
{
    auto* label = window->findChild<QLabel*>(QString::fromLatin1(name));
    return label ? label->text() : QString();
}

} // namespace

class TestStartupSettings : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(QDir::setCurrent(m_dir.path()));
        qputenv("ARDENIX_DB", QFile::encodeName(m_dir.filePath("ardenix.dat")));
        qputenv("ARDENIX_SNAPSHOT_DIR", QFile::encodeName(m_dir.path()));
    }

    void cleanup()
    {
        QFile::remove(configFilePath());
        CurrentDate::source() = CurrentDate::Source();
    }

    // A freed buffer of megabytes goes back to the system, also after a
    // larger one was freed: left to itself the allocator would then serve
    // blocks of that size from a heap that keeps its pages. First of the
    // cases, as start-up sets the limits before anything else: the windows
    // of the cases after it leave free blocks in the heap that a request
    // may take.
    void allocatorReturnsPictureBuffers()
    {
#if !defined(__GLIBC__) || defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        QSKIP("the C library's own allocator is not in use");
#else
        limitAllocatorRetention();
        static void* volatile block = nullptr;
        block = std::malloc(9 << 20);
        std::memset(block, 1, 9 << 20);
        std::free(block);
        const size_t mappedBefore = mallinfo2().hblkhd;
        block = std::malloc(3 << 20);
        const size_t mapped = mallinfo2().hblkhd - mappedBefore;
        std::free(block);
        QVERIFY2(mapped >= size_t(3 << 20), qPrintable(QString::number(mapped)));
#endif
    }

    void startupReadsThresholdSoundAndReminder_data()
    {
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<double>("threshold");
        QTest::addColumn<bool>("sound");
        QTest::addColumn<bool>("remind");
        QTest::newRow("no file") << QByteArray() << 37.0 << true << true;
        QTest::newRow("sample file") << sample("typical.ini") << 37.3 << true << false;
        QTest::newRow("both off") << QByteArray("[CONFIG]\nAlarm=0\nRemind=0\ntemperature=38.5\n") << 38.5 << false
                                  << false;
        QTest::newRow("only 1 is on") << QByteArray("[CONFIG]\nAlarm=2\nRemind=yes\ntemperature=36\n") << 36.0 << false
                                      << false;
        QTest::newRow("insane threshold") << QByteArray("[CONFIG]\ntemperature=99.5\n") << 37.0 << true << true;
    }

    void startupReadsThresholdSoundAndReminder()
    {
        QFETCH(QByteArray, config);
        QFETCH(double, threshold);
        QFETCH(bool, sound);
        QFETCH(bool, remind);
        if (!config.isEmpty())
            QVERIFY(writeConfig(config));
        Thermography window;
        QCOMPARE(window.threshold(), threshold);
        QCOMPARE(window.alarmSoundOn(), sound);
        QCOMPARE(window.remindOn(), remind);
    }

    // The timed snapshot's delay and the per-camera Fahrenheit threshold live
    // under these names in files written by earlier versions.
    void otherKeysKeepTheirNames()
    {
        QVERIFY(writeConfig(sample("typical.ini")));
        QCOMPARE(readConfigInt(ConfigKey::ScreenshotInterval), 1500);
        QCOMPARE(readConfigDouble(QString(ConfigKey::FahrenheitPrefix) + "2", 0.0), 99.5);
        QCOMPARE(readConfigDouble(QString(ConfigKey::FahrenheitPrefix) + "3", 0.0), 0.0);
        QCOMPARE(readConfigInt(ConfigKey::Voice), 1);
        QCOMPARE(readConfigInt(ConfigKey::LanguageType), 2);

        QVERIFY(writeConfig("[SCREENSHOT]\ninterval=250\n[CONFIG]\nFtemp17=100.4\n"));
        QCOMPARE(readConfigInt(ConfigKey::ScreenshotInterval), 250);
        QCOMPARE(readConfigDouble(QString(ConfigKey::FahrenheitPrefix) + "17", 0.0), 100.4);
        QVERIFY(QFile::remove(configFilePath()));
        // A missing integer key reads as 1.
        QCOMPARE(readConfigInt(ConfigKey::ScreenshotInterval), 1);
    }

    // Day folders of alarm pictures beyond "SCREENSHOT/keepDays" go at
    // start; a free space of "SCREENSHOT/minFreeMB" that cannot be had takes
    // every older day and then gives the operator one tip. Today's pictures
    // and the manual snapshots stay.
    void retentionFollowsTheSettings()
    {
        const QString shots = AppPaths::autoShotDir();
        const QString manual = AppPaths::manualShotDir() + "/" + day(-3);
        for (const QString& folder : { shots + "/" + day(-3), shots + "/" + day(-1), shots + "/" + day(0), manual }) {
            QVERIFY(QDir().mkpath(folder));
            QFile picture(folder + "/7-365-20240308091500-1-3.jpg");
            QVERIFY(picture.open(QIODevice::WriteOnly));
        }
        QVERIFY(writeConfig("[SCREENSHOT]\nkeepDays=2\nminFreeMB=0\n"));
        {
            Thermography window;
            QTRY_VERIFY_WITH_TIMEOUT(!QDir(shots + "/" + day(-3)).exists(), patient(5000));
        }
        QVERIFY(QDir(shots + "/" + day(-1)).exists());

        QVERIFY(writeConfig("[SCREENSHOT]\nminFreeMB=1073741824\n"));
        Thermography window;
        auto* tip = window.findChild<QtipDig*>();
        const auto tipShows = [tip](const QString& text) {
            for (const QLabel* label : tip->findChildren<QLabel*>()) {
                if (label->text() == text)
                    return tip->isVisibleTo(tip->parentWidget());
            }
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(tipShows(QString::fromUtf8("磁盘空间不足")), patient(5000));
        QVERIFY(!QDir(shots + "/" + day(-1)).exists());
        QVERIFY(QDir(shots + "/" + day(0)).exists());
        QVERIFY(QDir(manual).exists());
    }

    // At the change of day the window starts the new day's row and its
    // figures for today drop to the new day's.
    void windowFollowsTheDate()
    {
        {
            LocalDatabase seed;
            seed.openDatabase();
            QVERIFY(seed.updateDay(day(0), 5, 1));
        }
        QDate today = QDate::currentDate();
        int asked = 0;
        CurrentDate::source() = [&today, &asked] {
            ++asked;
            return today;
        };
        Thermography window;
        QCOMPARE(labelText(&window, "todaynumlb"), QString("6"));
        // Once the window has looked at the date, the same day keeps its figures.
        const int askedAtStart = asked;
        QTRY_VERIFY_WITH_TIMEOUT(asked > askedAtStart, patient(6000));
        QCOMPARE(labelText(&window, "todaynumlb"), QString("6"));

        today = today.addDays(1);
        QTRY_COMPARE_WITH_TIMEOUT(labelText(&window, "todaynumlb"), QString("0"), patient(6000));
        QCOMPARE(labelText(&window, "allnumlb"), QString("6"));
        QSqlQuery query;
        QVERIFY(query.exec(QString("SELECT count(*) FROM datecounttb WHERE localdate = '%1'").arg(day(1))));
        QVERIFY(query.next());
        QCOMPARE(query.value(0).toInt(), 1);
    }

    // Qt's options keep their values away from ours; the password comes
    // from the first line of a file.
    void commandLineOptions()
    {
        CommandLine line;
        QString error;
        QVERIFY2(CommandLine::parse({ "-platform", "offscreen", "-style", "fusion", "--connect", "127.0.0.2",
                                        "-style=windows", "--platformtheme", "gtk3", "-reverse" },
                     line, error),
            qPrintable(error));
        QVERIFY(line.connect);
        QCOMPARE(line.address, QString("127.0.0.2"));
        QVERIFY(CommandLine::parse({ "--version" }, line, error) && line.version);
        QVERIFY(!CommandLine::parse({ "--connect", "127.0.0.2", "--stylo", "x" }, line, error));
        QVERIFY(!CommandLine::parse({ "-platform" }, line, error));

        QFile file(m_dir.filePath("password"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("s3cret\r\nsecond line\n") > 0);
        file.close();
        QVERIFY2(CommandLine::parse({ "--connect", "127.0.0.2", "--password-file", file.fileName() }, line, error),
            qPrintable(error));
        QVERIFY(line.hasPassword);
        QCOMPARE(line.password, QString("s3cret"));
        QVERIFY(
            !CommandLine::parse({ "--connect", "127.0.0.2", "--password-file", m_dir.filePath("none") }, line, error));
        QVERIFY(error.contains("cannot read"));
        QVERIFY(!CommandLine::parse(
            { "--connect", "127.0.0.2", "--password", "a", "--password-file", file.fileName() }, line, error));
    }

    // Windows that do not set an icon of their own (the picture viewer,
    // message boxes, file dialogs) show the program's.
    void everyWindowShowsTheProgramIcon()
    {
        QTranslator translator;
        QVERIFY(prepareApplication(*qApp, translator));
        Qshowpicture viewer { QString(), QString() };
        QVERIFY(!viewer.windowIcon().isNull());
        QVERIFY(viewer.windowIcon().availableSizes().contains(QSize(48, 48)));
        QWidget plain;
        QCOMPARE(plain.windowIcon().cacheKey(), QApplication::windowIcon().cacheKey());
    }
};

QTEST_MAIN(TestStartupSettings)
#include "TestStartupSettings.moc"
