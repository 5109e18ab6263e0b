// The statistics store's ordering, window and schema rules, each with a case
// that fails when the rule is broken.
#include "store/LocalDatabase.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QVariant>
#include <QtTest>

namespace {

QString day(int offset)
{
    return QDate::currentDate().addDays(offset).toString("yyyy-MM-dd");
}

QString stamp(int offset)
{
    return QDate::currentDate().addDays(offset).toString("yyyyMMdd") + "120000";
}

int scalar(const QString& sql)
{
    QSqlQuery query;
    if (!query.exec(sql) || !query.next())
        return -1;
    return query.value(0).toInt();
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

class TestStoreGaps : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void recentPicturesAreNewestFirst();
    void sevenDayWindowStopsBeforeDayMinusSeven();
    void oneRowPerDayAndIndexedPictureColumns();
    void timeStampNeedsFourteenCharacters_data();
    void timeStampNeedsFourteenCharacters();
    void rowsBeyondThePendingCapAreCountedOnceAtTheNextStart();
    void recoveryTakesOnlyPicturesAfterTheNewestRow();

private:
    void reopen(LocalDatabase& store);

    QScopedPointer<QTemporaryDir> m_dir;
};

void TestStoreGaps::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
    qputenv("ARDENIX_DB", QFile::encodeName(m_dir->filePath("ardenix.dat")));
}

void TestStoreGaps::cleanup()
{
    {
        QSqlDatabase db = QSqlDatabase::database(QSqlDatabase::defaultConnection, false);
        if (db.isValid())
            db.close();
    }
    QSqlDatabase::removeDatabase(QSqlDatabase::defaultConnection);
}

void TestStoreGaps::reopen(LocalDatabase& store)
{
    cleanup();
    store.openDatabase();
}

void TestStoreGaps::recentPicturesAreNewestFirst()
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

void TestStoreGaps::sevenDayWindowStopsBeforeDayMinusSeven()
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

void TestStoreGaps::oneRowPerDayAndIndexedPictureColumns()
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

void TestStoreGaps::timeStampNeedsFourteenCharacters_data()
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

void TestStoreGaps::timeStampNeedsFourteenCharacters()
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
void TestStoreGaps::rowsBeyondThePendingCapAreCountedOnceAtTheNextStart()
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
void TestStoreGaps::recoveryTakesOnlyPicturesAfterTheNewestRow()
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

QTEST_GUILESS_MAIN(TestStoreGaps)
#include "TestStoreGaps.moc"
