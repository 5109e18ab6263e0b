// Behaviour of the statistics store against real SQLite files in a
// temporary folder.
#include "store/LocalDatabase.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QVariant>
#include <QtTest>

#include <sys/stat.h>

namespace {

QString day(int offset)
{
    return QDate::currentDate().addDays(offset).toString("yyyy-MM-dd");
}

QString stamp(int offset)
{
    return QDate::currentDate().addDays(offset).toString("yyyyMMdd") + "120000";
}

QString pictureName(int offset, int state)
{
    return QString("/shots/7-375-%1-%2-0.jpg").arg(stamp(offset)).arg(state);
}

int scalar(const QString& sql)
{
    QSqlQuery query;
    if (!query.exec(sql) || !query.next())
        return -1;
    return query.value(0).toInt();
}

QPair<int, int> dayRow(const QString& date)
{
    QSqlQuery query;
    query.prepare("SELECT normalnum, unusualnum FROM datecounttb WHERE localdate = ?");
    query.addBindValue(date);
    if (!query.exec() || !query.next())
        return { -1, -1 };
    return { query.value(0).toInt(), query.value(1).toInt() };
}

// Index name → its columns, for one table.
QMap<QString, QStringList> indexes(const QString& table, bool uniqueOnly)
{
    QMap<QString, QStringList> out;
    QSqlQuery list;
    if (!list.exec(QString("PRAGMA index_list(%1)").arg(table)))
        return out;
    while (list.next()) {
        const QString name = list.value("name").toString();
        if (uniqueOnly && list.value("unique").toInt() != 1)
            continue;
        QSqlQuery info;
        if (!info.exec(QString("PRAGMA index_info(%1)").arg(name)))
            continue;
        while (info.next())
            out[name].append(info.value("name").toString());
    }
    return out;
}

// A complete picture as far as the recovery can tell: JPEG start and end.
QString picture(const QString& shots, const QDateTime& at, int state, bool onDisk = true)
{
    const QString folder = shots + at.date().toString("/yyyy-MM-dd");
    QDir().mkpath(folder);
    const QString path = QString("%1/9-%2-%3-%4-0.jpg")
                             .arg(folder)
                             .arg(state == 1 ? 366 : 388)
                             .arg(at.toString("yyyyMMddhhmmss"))
                             .arg(state);
    QFile file(path);
    if (onDisk && file.open(QIODevice::WriteOnly))
        file.write(QByteArray("\xFF\xD8pixels\xFF\xD9", 10));
    return path;
}

QString sample(const QString& name)
{
    QFile file(qEnvironmentVariable("ARDENIX_SOURCE_DIR") + "/tests/data/store/names/" + name);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll()).trimmed();
}

} // namespace

class TestLocalDatabase : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void firstStartCreatesSchemaAndToday();
    void fileIsPrivateToItsOwner();
    void oldFileGainsAccountTable();
    void sevenDaysFillGapsWithZero();
    void picturesCountByState();
    void pictureFromYesterdayCountsToday();
    void resetHidesPicturesAndZeroesCounts();
    void parsePictureName_data();
    void parsePictureName();
    void quotesRoundTrip();
    void accountsInsertAndUpdate();
    void unopenableFileLeavesCountsAtZero();
    void dayChangeStartsANewRow();
    void midnightPictureCountsIntoTheNewDay();
    void dayChangeUnderALockKeepsEachDaysCounts();
    void missingFolderIsCreated();
    void siteOutboxTakesEachRowWithItsWrite();
    void recentPicturesAreNewestFirst();
    void sevenDayWindowStopsBeforeDayMinusSeven();
    void oneRowPerDayAndIndexedPictureColumns();
    void timeStampNeedsFourteenCharacters_data();
    void timeStampNeedsFourteenCharacters();
    void rowsBeyondThePendingCapAreCountedOnceAtTheNextStart();
    void recoveryTakesOnlyPicturesAfterTheNewestRow();

private:
    QString dbPath() const { return m_dir->filePath("ardenix.dat"); }
    void reopen(LocalDatabase& store);

    QScopedPointer<QTemporaryDir> m_dir;
};

void TestLocalDatabase::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
    qputenv("ARDENIX_DB", QFile::encodeName(dbPath()));
}

void TestLocalDatabase::cleanup()
{
    {
        QSqlDatabase db = QSqlDatabase::database(QSqlDatabase::defaultConnection, false);
        if (db.isValid())
            db.close();
    }
    QSqlDatabase::removeDatabase(QSqlDatabase::defaultConnection);
}

// A second store on the same file sees only what reached the file.
void TestLocalDatabase::reopen(LocalDatabase& store)
{
    cleanup();
    store.openDatabase();
}

void TestLocalDatabase::firstStartCreatesSchemaAndToday()
{
    QVERIFY(!QFile::exists(dbPath()));
    LocalDatabase store;
    store.openDatabase();

    QCOMPARE(scalar("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN "
                    "('datecounttb', 'pictureinfotb', 'accounttb')"),
        3);
    QCOMPARE(scalar("SELECT count(*) FROM sqlite_master WHERE type = 'index' AND name IN "
                    "('pictureinfotblocaldate', 'pictureinfotbsign')"),
        2);
    QCOMPARE(dayRow(day(0)), qMakePair(0, 0));
    QCOMPARE(store.sevenDays().size(), 1);
    QCOMPARE(store.sevenDays().last().date, day(0));
    QCOMPARE(store.totalNormal() + store.totalAbnormal() + store.todayNormal() + store.todayAbnormal(), 0);

    // A second start keeps the one row of today.
    LocalDatabase again;
    reopen(again);
    QCOMPARE(scalar("SELECT count(*) FROM datecounttb"), 1);

    // An empty file (a start that ended before the tables) still gets them.
    cleanup();
    QVERIFY(QFile::remove(dbPath()));
    QFile empty(dbPath());
    QVERIFY(empty.open(QIODevice::WriteOnly));
    empty.close();
    LocalDatabase third;
    third.openDatabase();
    third.addPicture(pictureName(0, 1));
    QCOMPARE(dayRow(day(0)), qMakePair(1, 0));
}

void TestLocalDatabase::fileIsPrivateToItsOwner()
{
    LocalDatabase store;
    store.openDatabase();
    store.saveAccount(1, "admin", "secret");
    struct stat info { };
    QCOMPARE(::stat(QFile::encodeName(dbPath()).constData(), &info), 0);
    QCOMPARE(info.st_mode & 0777, 0600u);

    // A file left readable by an older build is tightened on the next start.
    QVERIFY(::chmod(QFile::encodeName(dbPath()).constData(), 0644) == 0);
    LocalDatabase again;
    reopen(again);
    QCOMPARE(::stat(QFile::encodeName(dbPath()).constData(), &info), 0);
    QCOMPARE(info.st_mode & 0777, 0600u);
}

void TestLocalDatabase::oldFileGainsAccountTable()
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "seed");
        db.setDatabaseName(dbPath());
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY(query.exec("CREATE TABLE [datecounttb] ([sno] integer NOT NULL PRIMARY KEY AUTOINCREMENT, "
                           "[localdate] date NOT NULL UNIQUE, [normalnum] integer NOT NULL, "
                           "[unusualnum] integer NOT NULL)"));
        QVERIFY(query.exec("CREATE TABLE [pictureinfotb] ([sno] integer NOT NULL PRIMARY KEY AUTOINCREMENT, "
                           "[localdate] date NOT NULL, [filepath] varchar(256) NOT NULL, "
                           "[state] integer NOT NULL, [sign] integer DEFAULT 0)"));
        QVERIFY(query.exec(QString("INSERT INTO datecounttb (localdate, normalnum, unusualnum) VALUES "
                                   "('%1', 4, 1), ('%2', 10, 2)")
                               .arg(day(-2), day(0))));
        db.close();
    }
    QSqlDatabase::removeDatabase("seed");

    LocalDatabase store;
    store.openDatabase();
    QVERIFY(store.accountTableExists());
    QCOMPARE(store.totalNormal(), 14);
    QCOMPARE(store.totalAbnormal(), 3);
    QCOMPARE(store.todayNormal(), 10);
    QCOMPARE(store.todayAbnormal(), 2);
    QCOMPARE(scalar("SELECT count(*) FROM datecounttb"), 2);
    store.saveAccount(3, "admin", "");
    QVERIFY(store.accountExists(3));
}

void TestLocalDatabase::sevenDaysFillGapsWithZero()
{
    {
        LocalDatabase seed;
        seed.openDatabase();
        QVERIFY(seed.insertDay(day(-9), 50, 50)); // outside the window
        QVERIFY(seed.insertDay(day(-6), 1, 2));
        QVERIFY(seed.insertDay(day(-3), 3, 0));
        QVERIFY(seed.insertDay(day(-1), 0, 7));
        QVERIFY(seed.insertDay(day(1), 90, 90)); // a clock that ran ahead once
    }
    LocalDatabase store;
    reopen(store);

    QCOMPARE(store.sevenDays().size(), 4);
    QCOMPARE(store.sevenDays().first().date, day(-6));
    QCOMPARE(store.sevenDays().last().date, day(0));
    QCOMPARE(store.normalSeries(), QVector<int>({ 1, 0, 0, 3, 0, 0, 0 }));
    QCOMPARE(store.abnormalSeries(), QVector<int>({ 2, 0, 0, 0, 0, 7, 0 }));
    QCOMPARE(store.totalNormal(), 144);

    const QStringList labels = store.dayLabels();
    QCOMPARE(labels.size(), 7);
    QCOMPARE(labels.first(), QDate::currentDate().addDays(-6).toString("MM-dd"));
    QCOMPARE(labels.last(), QDate::currentDate().toString("MM-dd"));
}

void TestLocalDatabase::picturesCountByState()
{
    LocalDatabase store;
    store.openDatabase();
    store.addPicture(pictureName(0, 1));
    store.addPicture(pictureName(0, 2));
    store.addPicture(pictureName(0, 2));
    store.addPicture("/shots/not-a-picture.jpg");
    store.addPicture(QString("/shots/7-375-%1-9-0.jpg").arg(stamp(0)));

    QCOMPARE(store.todayNormal(), 1);
    QCOMPARE(store.todayAbnormal(), 2);
    QCOMPARE(store.totalNormal(), 1);
    QCOMPARE(store.totalAbnormal(), 2);
    QCOMPARE(store.normalSeries().last(), 1);
    QCOMPARE(store.abnormalSeries().last(), 2);
    QCOMPARE(scalar("SELECT count(*) FROM pictureinfotb"), 5);
    QCOMPARE(scalar("SELECT state FROM pictureinfotb WHERE filepath = '/shots/not-a-picture.jpg'"), -1);

    LocalDatabase again;
    reopen(again);
    QCOMPARE(again.todayNormal(), 1);
    QCOMPARE(again.todayAbnormal(), 2);
    QCOMPARE(again.abnormalSeries().last(), 2);
}

// Camera and computer clocks on either side of midnight: the picture says
// yesterday, the person was counted today.
void TestLocalDatabase::pictureFromYesterdayCountsToday()
{
    {
        LocalDatabase seed;
        seed.openDatabase();
        QVERIFY(seed.insertDay(day(-1), 5, 6));
    }
    LocalDatabase store;
    reopen(store);
    store.addPicture(pictureName(-1, 2));
    store.addPicture(pictureName(-1, 1));

    QCOMPARE(dayRow(day(-1)), qMakePair(5, 6));
    QCOMPARE(dayRow(day(0)), qMakePair(1, 1));
    QCOMPARE(store.normalSeries(), QVector<int>({ 0, 0, 0, 0, 0, 5, 1 }));
    QCOMPARE(store.abnormalSeries(), QVector<int>({ 0, 0, 0, 0, 0, 6, 1 }));

    // A time stamp one digit short gives no day; the count still lands today.
    store.addPicture("/shots/a-b-2024013123595-2-c.jpg");
    QCOMPARE(dayRow(day(0)), qMakePair(1, 2));
    QCOMPARE(scalar("SELECT count(*) FROM pictureinfotb WHERE localdate = '' AND state = 2"), 1);

    LocalDatabase again;
    reopen(again);
    QCOMPARE(again.todayNormal(), 1);
    QCOMPARE(again.todayAbnormal(), 2);
    QCOMPARE(again.totalNormal(), 6);
    QCOMPARE(again.totalAbnormal(), 8);
}

void TestLocalDatabase::resetHidesPicturesAndZeroesCounts()
{
    LocalDatabase store;
    store.openDatabase();
    QVERIFY(store.insertDay(day(-2), 8, 9));
    store.setToday(day(0));
    for (int i = 0; i < 25; ++i)
        store.addPicture(pictureName(0, 1 + i % 2));

    QStringList recent;
    QVERIFY(store.recentPictures(recent));
    QCOMPARE(recent.size(), 20);

    QVERIFY(store.resetCounts());
    QCOMPARE(store.todayNormal() + store.todayAbnormal() + store.totalNormal() + store.totalAbnormal(), 0);
    QCOMPARE(store.normalSeries(), QVector<int>(7, 0));
    QCOMPARE(store.sevenDays().size(), 2);
    recent.clear();
    QVERIFY(store.recentPictures(recent));
    QVERIFY(recent.isEmpty());
    QCOMPARE(scalar("SELECT count(*) FROM pictureinfotb"), 25);
    QCOMPARE(dayRow(day(-2)), qMakePair(0, 0));

    const QString newest = QString("/shots/9-365-%1-1-0.jpg").arg(stamp(0));
    store.addPicture(newest);
    QVERIFY(store.recentPictures(recent));
    QCOMPARE(recent, QStringList { newest });
    QCOMPARE(store.totalNormal(), 1);

    // A reset the file cannot take changes nothing and says so.
    QVERIFY(QSqlQuery().exec("DROP TABLE pictureinfotb"));
    QVERIFY(!store.resetCounts());
    QCOMPARE(store.totalNormal(), 1);
    QCOMPARE(dayRow(day(0)), qMakePair(1, 0));
}

void TestLocalDatabase::parsePictureName_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("day");
    QTest::addColumn<int>("state");

    QTest::newRow("abnormal") << "/x/a-b-20240131235959-2-c.jpg"
                              << "2024-01-31" << 2;
    QTest::newRow("normal, windows folder") << "C:/Screenshot/2024-01-31/3-375-20240131083000-1-3.jpg"
                                            << "2024-01-31" << 1;
    QTest::newRow("13-digit stamp") << "a-b-2024013123595-2-c.jpg"
                                    << "" << 2;
    QTest::newRow("state not a number") << "a-b-20240131235959-x-c.jpg"
                                        << "2024-01-31" << 0;
    QTest::newRow("four fields") << "a-20240131235959-2-c.jpg"
                                 << "" << -1;
    QTest::newRow("six fields") << "a-b-20240131235959-2-c-d.jpg"
                                << "" << -1;
    QTest::newRow("dash in the folder only") << "/my-shots/a.jpg"
                                             << "" << -1;
    QTest::newRow("empty fields kept") << "--20240131235959-1-"
                                       << "2024-01-31" << 1;
    QTest::newRow("trailing slash") << "/x/a-b-20240131235959-2-c.jpg/"
                                    << "" << -1;
    QTest::newRow("empty") << ""
                           << "" << -1;
}

void TestLocalDatabase::parsePictureName()
{
    QFETCH(QString, path);
    QFETCH(QString, day);
    QFETCH(int, state);
    int parsed = -1;
    QCOMPARE(LocalDatabase::parsePictureName(path, parsed), day);
    QCOMPARE(parsed, state);
}

void TestLocalDatabase::quotesRoundTrip()
{
    LocalDatabase store;
    store.openDatabase();
    const QString user = "o'neil";
    const QString password = "pa'ss'); DROP TABLE accounttb; --";
    store.saveAccount(42, user, password);
    QString gotUser;
    QString gotPassword;
    QVERIFY(store.loadAccount(42, gotUser, gotPassword));
    QCOMPARE(gotUser, user);
    QCOMPARE(gotPassword, password);
    QVERIFY(store.accountTableExists());

    store.saveAccount(42, "x'y", "\"'");
    QVERIFY(store.loadAccount(42, gotUser, gotPassword));
    QCOMPARE(gotUser, QString("x'y"));
    QCOMPARE(gotPassword, QString("\"'"));

    const QString path = QString("/home/o'neil/Screenshot/7-375-%1-2-0.jpg").arg(stamp(0));
    store.addPicture(path);
    QStringList recent;
    QVERIFY(store.recentPictures(recent));
    QCOMPARE(recent, QStringList { path });
    QCOMPARE(dayRow(day(0)), qMakePair(0, 1));
}

void TestLocalDatabase::accountsInsertAndUpdate()
{
    LocalDatabase store;
    store.openDatabase();
    QString user = "untouched";
    QString password = "untouched";
    QVERIFY(!store.loadAccount(5, user, password));
    QCOMPARE(user, QString("untouched"));

    store.saveAccount(5, "admin", "");
    store.saveAccount(900, "guest", "g");
    store.saveAccount(5, "root", "r");
    QCOMPARE(scalar("SELECT count(*) FROM accounttb"), 2);
    QCOMPARE(scalar("SELECT id FROM accounttb WHERE username = 'guest'"), 900);
    QVERIFY(store.loadAccount(5, user, password));
    QCOMPARE(user, QString("root"));
    QCOMPARE(password, QString("r"));
    QVERIFY(!store.accountExists(6));
}

void TestLocalDatabase::unopenableFileLeavesCountsAtZero()
{
    // A folder where the file should be: opening fails, the program runs on.
    QVERIFY(QDir().mkpath(dbPath()));
    LocalDatabase store;
    store.openDatabase();
    QCOMPARE(store.todayNormal() + store.todayAbnormal() + store.totalNormal() + store.totalAbnormal(), 0);
    // The person is still counted in the figures shown; nothing reaches the file.
    store.addPicture(pictureName(0, 2));
    QCOMPARE(store.totalAbnormal(), 1);
    QCOMPARE(store.todayAbnormal(), 1);
    QCOMPARE(store.totalNormal(), 0);
    QCOMPARE(store.todayNormal(), 0);
    QCOMPARE(store.normalSeries().size(), 7);
    QStringList recent;
    QVERIFY(!store.recentPictures(recent));
    QVERIFY(recent.isEmpty());
}

// The window moves today forward at midnight; the new day gets its row and
// counting goes on there.
void TestLocalDatabase::dayChangeStartsANewRow()
{
    QDateTime now = QDateTime::currentDateTime();
    LocalDatabase store([&now] { return now; });
    store.openDatabase();
    store.addPicture(pictureName(0, 1));
    store.addPicture(pictureName(0, 2));

    now = now.addDays(1);
    store.setToday(day(1));
    QCOMPARE(store.today(), day(1));
    QCOMPARE(dayRow(day(1)), qMakePair(0, 0));
    QCOMPARE(store.sevenDays().size(), 2);
    QCOMPARE(store.sevenDays().last().date, day(1));
    QCOMPARE(store.todayNormal() + store.todayAbnormal(), 0);
    QCOMPARE(store.totalNormal(), 1);
    QCOMPARE(store.totalAbnormal(), 1);

    store.addPicture(pictureName(1, 1));
    QCOMPARE(dayRow(day(1)), qMakePair(1, 0));
    QCOMPARE(dayRow(day(0)), qMakePair(1, 1));
    QCOMPARE(store.totalNormal(), 2);
    QCOMPARE(store.normalSeries().mid(5), QVector<int>({ 1, 1 }));
    QCOMPARE(store.dayLabels().last(), QDate::currentDate().addDays(1).toString("MM-dd"));

    // Setting the same day again adds no second row.
    store.setToday(day(1));
    QCOMPARE(scalar(QString("SELECT count(*) FROM datecounttb WHERE localdate = '%1'").arg(day(1))), 1);
    QCOMPARE(store.todayNormal(), 1);
}

// A person measured in the first second of a day, before the window's
// two-second day check has moved today on, counts into the new day.
void TestLocalDatabase::midnightPictureCountsIntoTheNewDay()
{
    const QDate first(2024, 1, 31);
    const QDate second = first.addDays(1);
    QDateTime now(first, QTime(23, 59, 59));
    LocalDatabase store([&now] { return now; });
    store.openDatabase();
    QCOMPARE(store.today(), QString("2024-01-31"));
    store.addPicture("/shots/4-368-20240131235959-1-0.jpg");
    QCOMPARE(dayRow("2024-01-31"), qMakePair(1, 0));

    now = QDateTime(second, QTime(0, 0, 1));
    store.addPicture("/shots/4-391-20240201000001-2-0.jpg");
    // The camera may still stamp the old day; the person is counted now.
    store.addPicture("/shots/4-366-20240131235959-1-0.jpg");
    QCOMPARE(store.today(), QString("2024-02-01"));
    QCOMPARE(dayRow("2024-01-31"), qMakePair(1, 0));
    QCOMPARE(dayRow("2024-02-01"), qMakePair(1, 1));
    QCOMPARE(store.todayNormal(), 1);
    QCOMPARE(store.todayAbnormal(), 1);
    QCOMPARE(store.totalNormal(), 2);
    QCOMPARE(store.totalAbnormal(), 1);
    QCOMPARE(store.sevenDays().last().date, QString("2024-02-01"));
    QCOMPARE(store.normalSeries(), QVector<int>({ 0, 0, 0, 0, 0, 1, 1 }));
    QCOMPARE(store.abnormalSeries(), QVector<int>({ 0, 0, 0, 0, 0, 0, 1 }));
    QCOMPARE(store.dayLabels().first(), QString("01-26"));
    QCOMPARE(store.dayLabels().last(), QString("02-01"));

    // A picture within the same day moves nothing.
    now = now.addSecs(3600);
    store.addPicture("/shots/4-370-20240201010001-1-0.jpg");
    QCOMPARE(dayRow("2024-02-01"), qMakePair(2, 1));
    QCOMPARE(scalar("SELECT count(*) FROM datecounttb"), 2);
}

// Another process holds the file while the day changes: nothing counted is
// lost, and once the file takes writes again each day's row holds that
// day's people, also for a later start.
void TestLocalDatabase::dayChangeUnderALockKeepsEachDaysCounts()
{
    QDateTime now(QDate(2024, 1, 31), QTime(23, 59, 0));
    LocalDatabase store([&now] { return now; });
    store.openDatabase();
    QVERIFY(store.addPicture("/shots/4-368-20240131235900-1-0.jpg"));
    QVERIFY(!store.updateDay("2024-01-15", 1, 1));

    QSqlDatabase other = QSqlDatabase::addDatabase("QSQLITE", "other");
    other.setDatabaseName(dbPath());
    QVERIFY(other.open());
    {
        QSqlQuery lock(other);
        QVERIFY(lock.exec("BEGIN EXCLUSIVE"));
        QVERIFY(!store.addPicture("/shots/4-391-20240131235930-2-0.jpg"));
        now = QDateTime(QDate(2024, 2, 1), QTime(0, 0, 2));
        store.setToday("2024-02-01");
        QCOMPARE(store.todayNormal() + store.todayAbnormal(), 0);
        QVERIFY(!store.addPicture("/shots/4-366-20240201000003-1-0.jpg"));
        QVERIFY(!store.addPicture("/shots/4-372-20240201000004-1-0.jpg"));
        QVERIFY(!store.addPicture("/shots/4-393-20240201000005-2-0.jpg"));
        // The window's day check may set the same day again.
        store.setToday("2024-02-01");
        QCOMPARE(store.todayNormal(), 2);
        QCOMPARE(store.todayAbnormal(), 1);
        QCOMPARE(store.totalNormal(), 3);
        QCOMPARE(store.totalAbnormal(), 2);
        QCOMPARE(store.normalSeries().mid(5), QVector<int>({ 1, 2 }));
        QCOMPARE(store.abnormalSeries().mid(5), QVector<int>({ 1, 1 }));
        QVERIFY(lock.exec("ROLLBACK"));
    }
    other.close();
    other = QSqlDatabase();
    QSqlDatabase::removeDatabase("other");

    QVERIFY(store.addPicture("/shots/4-367-20240201000100-1-0.jpg"));
    for (LocalDatabase* check : { &store, static_cast<LocalDatabase*>(nullptr) }) {
        LocalDatabase again([&now] { return now; });
        if (!check)
            reopen(again);
        const LocalDatabase& figures = check ? *check : again;
        QCOMPARE(dayRow("2024-01-31"), qMakePair(1, 1));
        QCOMPARE(dayRow("2024-02-01"), qMakePair(3, 1));
        QCOMPARE(scalar("SELECT count(*) FROM pictureinfotb WHERE localdate = '2024-01-31'"), 2);
        QCOMPARE(scalar("SELECT count(*) FROM pictureinfotb WHERE localdate = '2024-02-01'"), 4);
        QCOMPARE(figures.todayNormal(), 3);
        QCOMPARE(figures.todayAbnormal(), 1);
        QCOMPARE(figures.totalNormal() + figures.totalAbnormal(), 6);
        QCOMPARE(figures.abnormalSeries().mid(5), QVector<int>({ 1, 1 }));
    }
}

void TestLocalDatabase::missingFolderIsCreated()
{
    const QString nested = m_dir->filePath("data/ardenix/stats.dat");
    qputenv("ARDENIX_DB", QFile::encodeName(nested));
    LocalDatabase store;
    store.openDatabase();
    QVERIFY(QFile::exists(nested));
    QCOMPARE(store.sevenDays().size(), 1);
}

void TestLocalDatabase::recentPicturesAreNewestFirst()
{
    LocalDatabase store;
    store.openDatabase();
    QStringList added;
    for (int i = 0; i < 25; ++i) {
        added.append(QString("/shots/%1-365-%2-%3-0.jpg").arg(100 + i).arg(stamp(0)).arg(1 + i % 2));
        store.addPicture(added.last());
    }
    QStringList recent;
    QVERIFY(store.recentPictures(recent));
    QStringList expected;
    for (int i = 24; i >= 5; --i)
        expected.append(added.at(i));
    QCOMPARE(recent, expected);

    // The list is appended to, not replaced.
    QStringList more { "kept" };
    QVERIFY(store.recentPictures(more));
    QCOMPARE(more.size(), 21);
    QCOMPARE(more.first(), QString("kept"));
}

void TestLocalDatabase::sevenDayWindowStopsBeforeDayMinusSeven()
{
    {
        LocalDatabase seed;
        seed.openDatabase();
        QVERIFY(seed.updateDay(day(0), 3, 4));
        QVERIFY(seed.insertDay(day(-7), 40, 41));
        QVERIFY(seed.insertDay(day(-6), 1, 2));
    }
    LocalDatabase store;
    reopen(store);
    QCOMPARE(store.sevenDays().size(), 2);
    QCOMPARE(store.sevenDays().first().date, day(-6));
    QCOMPARE(store.sevenDays().last().date, day(0));
    QCOMPARE(store.sevenDays().last().normal, 3);
    QCOMPARE(store.sevenDays().last().abnormal, 4);
    QCOMPARE(store.normalSeries(), QVector<int>({ 1, 0, 0, 0, 0, 0, 3 }));
    // Day −7 still counts for all time.
    QCOMPARE(store.totalNormal(), 44);
    QCOMPARE(scalar("SELECT count(*) FROM datecounttb"), 3);
}

void TestLocalDatabase::oneRowPerDayAndIndexedPictureColumns()
{
    LocalDatabase store;
    store.openDatabase();
    QVERIFY(!store.insertDay(day(0), 9, 9));
    QVERIFY(store.insertDay(day(-1), 1, 1));
    QVERIFY(!store.insertDay(day(-1), 2, 2));
    QCOMPARE(scalar(QString("SELECT count(*) FROM datecounttb WHERE localdate = '%1'").arg(day(-1))), 1);
    QCOMPARE(scalar(QString("SELECT normalnum FROM datecounttb WHERE localdate = '%1'").arg(day(-1))), 1);

    const QList<QStringList> unique = indexes("datecounttb", true).values();
    QVERIFY(unique.contains(QStringList { "localdate" }));

    const QMap<QString, QStringList> pictures = indexes("pictureinfotb", false);
    QCOMPARE(pictures.value("pictureinfotblocaldate"), QStringList { "localdate" });
    QCOMPARE(pictures.value("pictureinfotbsign"), QStringList { "sign" });
}

void TestLocalDatabase::timeStampNeedsFourteenCharacters_data()
{
    QTest::addColumn<QString>("sample");
    QTest::addColumn<QString>("day");
    QTest::addColumn<int>("state");
    QTest::newRow("14") << "normal.txt"
                        << "2026-01-02" << 1;
    QTest::newRow("13") << "short-stamp.txt"
                        << "" << 1;
    QTest::newRow("15") << "long-stamp.txt"
                        << "" << 1;
    QTest::newRow("four fields") << "four-fields.txt"
                                 << "" << -1;
    QTest::newRow("six fields") << "six-fields.txt"
                                << "" << -1;
}

void TestLocalDatabase::timeStampNeedsFourteenCharacters()
{
    QFETCH(QString, sample);
    QFETCH(QString, day);
    QFETCH(int, state);
    const QString path = ::sample(sample);
    QVERIFY(!path.isEmpty());
    int parsed = -1;
    QCOMPARE(LocalDatabase::parsePictureName(path, parsed), day);
    QCOMPARE(parsed, state);
}

// The file refuses rows for longer than the store keeps them: a picture
// beyond that is neither counted nor kept, and the next start records it,
// once, so that counts and rows agree.
void TestLocalDatabase::rowsBeyondThePendingCapAreCountedOnceAtTheNextStart()
{
    const QDateTime noon(QDate(2024, 3, 5), QTime(12, 0));
    const QString shots = m_dir->filePath("Screenshot");
    LocalDatabase store([&noon] { return noon; });
    store.openDatabase();
    QVERIFY(store.addPicture(picture(shots, noon, 1)));
    QSqlQuery refuse;
    QVERIFY(refuse.exec("CREATE TRIGGER refuse BEFORE INSERT ON pictureinfotb BEGIN SELECT RAISE(ABORT, 'no'); END"));
    int counted = 1;
    for (int i = 1; i <= 1003; ++i) {
        QVERIFY(!store.addPicture(picture(shots, noon.addSecs(i), 1 + i % 2, i > 1000)));
        counted += i <= 1000;
        QCOMPARE(store.todayNormal() + store.todayAbnormal(), counted);
    }
    QVERIFY(refuse.exec("DROP TRIGGER refuse"));
    QVERIFY(store.addPicture(picture(shots, noon.addSecs(1100), 2)));
    QCOMPARE(scalar("SELECT count(*) FROM pictureinfotb"), 1002);
    QCOMPARE(scalar("SELECT sum(normalnum) + sum(unusualnum) FROM datecounttb"), 1002);

    for (int start = 0; start < 2; ++start) {
        LocalDatabase again([&noon] { return noon; });
        reopen(again);
        QCOMPARE(again.recoverPictures(shots), start == 0 ? 3 : 0);
        QCOMPARE(scalar("SELECT count(*) FROM pictureinfotb"), 1005);
        QCOMPARE(again.todayNormal() + again.todayAbnormal(), 1005);
        QCOMPARE(again.todayAbnormal(), 503);
    }
}

// Pictures without a row are adopted only when taken after the file's
// newest row: a new file adopts none, whatever the folder holds.
void TestLocalDatabase::recoveryTakesOnlyPicturesAfterTheNewestRow()
{
    const QDateTime now(QDate(2024, 3, 5), QTime(9, 0));
    const QString shots = m_dir->filePath("Screenshot");
    picture(shots, now.addDays(-1).addSecs(-3600), 1);
    LocalDatabase store([&now] { return now; });
    store.openDatabase();
    QCOMPARE(store.recoverPictures(shots), 0);
    QCOMPARE(store.totalNormal() + store.totalAbnormal(), 0);

    QVERIFY(store.addPicture(picture(shots, now.addDays(-1), 2)));
    picture(shots, now.addDays(-1).addSecs(60), 1);
    picture(shots, now.addSecs(-60), 2);
    picture(shots, now.addDays(-1).addSecs(-60), 2);
    // Booked a few seconds earlier, written after the newest row was.
    picture(shots, now.addDays(-1).addSecs(-10), 1);
    LocalDatabase again([&now] { return now; });
    reopen(again);
    QCOMPARE(again.recoverPictures(shots), 3);
    QCOMPARE(scalar("SELECT normalnum FROM datecounttb WHERE localdate = '2024-03-04'"), 2);
    QCOMPARE(again.todayAbnormal(), 2);
    QCOMPARE(again.todayNormal(), 0);
    QCOMPARE(scalar("SELECT count(*) FROM pictureinfotb"), 4);
}

QTEST_GUILESS_MAIN(TestLocalDatabase)
#include "TestLocalDatabase.moc"

void TestLocalDatabase::siteOutboxTakesEachRowWithItsWrite()
{
    LocalDatabase store;
    store.openDatabase();
    QCOMPARE(scalar("SELECT count(*) FROM sqlite_master WHERE name = 'siteoutbox'"), 0);
    store.addPicture(pictureName(0, 1));
    int wakes = 0;
    store.enableSiteOutbox([&wakes] { ++wakes; });
    QVERIFY(store.addPicture(pictureName(0, 2)));
    QCOMPARE(scalar("SELECT count(*) FROM siteoutbox"), 1);
    QCOMPARE(wakes, 1);

    // Rows the file refuses are queued for the site only when they are
    // written, all in one write.
    QSqlDatabase other = QSqlDatabase::addDatabase("QSQLITE", "other");
    other.setDatabaseName(dbPath());
    QVERIFY(other.open());
    {
        QSqlQuery lock(other);
        QVERIFY(lock.exec("BEGIN EXCLUSIVE"));
        QVERIFY(!store.addPicture("/shots/4-366-20240201000003-1-0.jpg"));
        QVERIFY(!store.resetCounts());
        QVERIFY(lock.exec("ROLLBACK"));
    }
    other.close();
    other = QSqlDatabase();
    QSqlDatabase::removeDatabase("other");
    QCOMPARE(scalar("SELECT count(*) FROM siteoutbox"), 1);
    QVERIFY(store.addPicture(""));
    QCOMPARE(wakes, 2);
    QVERIFY(store.resetCounts());
    QCOMPARE(wakes, 3);

    QSqlQuery queued;
    QVERIFY(queued.exec("SELECT kind, key, day, state FROM siteoutbox ORDER BY id"));
    QStringList entries;
    while (queued.next())
        entries << QStringList { queued.value(0).toString(),
            queued.value(1).toString().left(queued.value(0).toInt() ? 0 : 10), queued.value(2).toString(),
            queued.value(3).toString() }
                       .join(' ');
    QCOMPARE(entries,
        QStringList({ "0 7-375-" + stamp(0).left(4) + " " + day(0) + " 2", "0 4-366-2024 " + day(0) + " 1",
            "0 nopicture# " + day(0) + " -1", "1   0" }));
    QCOMPARE(scalar("SELECT count(*) FROM pictureinfotb"), 4);
}
