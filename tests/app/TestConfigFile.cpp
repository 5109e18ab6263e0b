// The settings file: defaults without a file, and what a write leaves behind.
#include "app/ConfigFile.h"
#include "store/AppPaths.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestConfigFile : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void missingFileReadsDefaults();
    void firstWriteCreatesFile();
    void valuesAreReadFromTheCurrentDirectory();
    void damagedFileIsSetAside_data();
    void damagedFileIsSetAside();
    void newDataFolderIsTheOwnersAlone();

private:
    QScopedPointer<QTemporaryDir> m_dir;
    QString m_oldDir;
};

void TestConfigFile::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
    m_oldDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dir->path()));
}

void TestConfigFile::cleanup()
{
    QDir::setCurrent(m_oldDir);
}

void TestConfigFile::missingFileReadsDefaults()
{
    QCOMPARE(readConfigInt(ConfigKey::Alarm), 1);
    QCOMPARE(readConfigInt(ConfigKey::Remind), 1);
    QCOMPARE(readConfigInt(ConfigKey::Voice), 1);
    QCOMPARE(readConfigInt(ConfigKey::LanguageType), 1);
    QCOMPARE(readConfigInt(ConfigKey::ScreenshotInterval), 1);
    QCOMPARE(readConfigDouble(ConfigKey::Temperature, DefaultThreshold), 37.0);
    QCOMPARE(readConfigDouble(QString(ConfigKey::FahrenheitPrefix) + "3", 0.0), 0.0);
    // Reading never creates the file.
    QVERIFY(!QFile::exists("Config.ini"));
}

void TestConfigFile::firstWriteCreatesFile()
{
    writeConfigValue(ConfigKey::Alarm, 0);
    QVERIFY(QFile::exists("Config.ini"));
    QCOMPARE(readConfigInt(ConfigKey::Alarm), 0);
    QCOMPARE(readConfigInt(ConfigKey::Remind), 1);

    writeConfigValue(ConfigKey::Temperature, 37.6);
    QCOMPARE(readConfigDouble(ConfigKey::Temperature, DefaultThreshold), 37.6);

    QFile file("Config.ini");
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QVERIFY(text.contains("[CONFIG]"));
    QVERIFY(text.contains("Alarm=0"));
}

void TestConfigFile::valuesAreReadFromTheCurrentDirectory()
{
    QFile file("Config.ini");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[LANGUAGE]\nvoice=0\ntype=2\n[CONFIG]\nRemind=7\ntemperature=38.5\nAlarm=oops\n");
    file.close();
    QCOMPARE(readConfigInt(ConfigKey::Voice), 0);
    QCOMPARE(readConfigInt(ConfigKey::LanguageType), 2);
    QCOMPARE(readConfigInt(ConfigKey::Remind), 7);
    QCOMPARE(readConfigDouble(ConfigKey::Temperature, DefaultThreshold), 38.5);
    // A value that is not a number reads as 0, not as the default.
    QCOMPARE(readConfigInt(ConfigKey::Alarm), 0);

    // Another folder, another file.
    QTemporaryDir other;
    QVERIFY(QDir::setCurrent(other.path()));
    QCOMPARE(readConfigInt(ConfigKey::Voice), 1);
}

// A file that holds serialised values (the fuzzer's find: one made the
// reader allocate without bound), escapes that can spell them, or far more
// than the program writes was not written by it: it is set aside and the
// defaults apply; a file of plain numbers is kept. Each rule on its own.
void TestConfigFile::damagedFileIsSetAside_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("damaged");
    const QString data = qEnvironmentVariable("ARDENIX_SOURCE_DIR") + "/tests/data/app/config/";
    for (const char* name : { "crash-variant-allocation.ini", "quoted-and-escaped.ini" }) {
        QFile sample(data + name);
        QVERIFY(sample.open(QIODevice::ReadOnly));
        QTest::newRow(name) << sample.readAll() << true;
    }
    const QByteArray plain("[CONFIG]\nAlarm=0\ntemperature=38.5\n");
    QTest::newRow("plain") << plain << false;
    QTest::newRow("variant only") << plain + "Remind=@Variant(AAAB)\n" << true;
    QTest::newRow("hex escape only") << plain + "k\\x41=v\n" << true;
    QTest::newRow("octal escape only") << plain + "k\\101=v\n" << true;
    QTest::newRow("other backslash") << plain + "path=C:\\shots\n" << false;
    const QByteArray padding("; padding\n");
    QByteArray full = plain;
    while (full.size() + padding.size() <= 64 * 1024)
        full += padding;
    full += QByteArray(64 * 1024 - full.size(), ';');
    QTest::newRow("64 KiB") << full << false;
    QTest::newRow("one byte more") << full + ";" << true;
}

void TestConfigFile::damagedFileIsSetAside()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, damaged);
    QFile::remove("Config.ini.damaged");
    QFile file("Config.ini");
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(content), qint64(content.size()));
    file.close();
    QCOMPARE(readConfigInt("CONFIG/Alarm"), damaged ? 1 : 0);
    QCOMPARE(QFile::exists("Config.ini"), !damaged);
    QCOMPARE(QFile::exists("Config.ini.damaged"), damaged);
}

void TestConfigFile::newDataFolderIsTheOwnersAlone()
{
    const QByteArray oldHome = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir->filePath("share")));
    const QString dir = AppPaths::dataDir();
    if (oldHome.isNull())
        qunsetenv("XDG_DATA_HOME");
    else
        qputenv("XDG_DATA_HOME", oldHome);
    QVERIFY(dir.startsWith(m_dir->path()));
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup
        | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    QCOMPARE(QFile::permissions(dir) & others, QFileDevice::Permissions());
}

QTEST_GUILESS_MAIN(TestConfigFile)
#include "TestConfigFile.moc"
