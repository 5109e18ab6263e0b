// The site database against a real PostgreSQL server of the test's own
// (127.0.86.1): the schema a first station creates, rows that arrive twice,
// an outage with its back-off, a data reset, and the site's reports.
#include "SiteServer.h"
#include "TestPatience.h"

#include "store/SiteLink.h"
#include "store/SiteOutbox.h"
#include "store/SiteSink.h"

#include <QProcess>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

const char* const kLocal = "local";

QString pictureName(int second, int state)
{
    return QStringLiteral("7-%1-20261209080%2-%3-1.jpg")
        .arg(365 + second)
        .arg(second, 3, 10, QLatin1Char('0'))
        .arg(state);
}

} // namespace

class TestSiteDatabase : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void schemaIsCreatedOnceAndGuarded();
    void rowsSentTwiceAreStoredOnce();
    void outageBacksOffAndSendsEverythingAfter();
    void wrongPasswordIsOneOutage();
    void resetMarksRowsBeforeItOnly();
    void reportsReadTheSite();

private:
    // Scalar of a statement at the site, as text.
    QString siteValue(const QString& statement);
    void queue(int first, int count, int state = 1);
    std::unique_ptr<SiteSink> sink(const QString& uri, const QString& station);

    std::unique_ptr<SiteServer> m_server;
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_localPath;
};

void TestSiteDatabase::initTestCase()
{
    if (!SiteServer::available())
        QSKIP("no PostgreSQL server on this machine");
    m_server = std::make_unique<SiteServer>(QStringLiteral("127.0.86.1"), 5432);
    QVERIFY2(m_server->ok(), qPrintable(m_server->error()));
}

void TestSiteDatabase::cleanupTestCase()
{
    m_server.reset();
}

void TestSiteDatabase::init()
{
    // Every case starts from an empty site and an empty outbox.
    SiteLink link;
    QVERIFY2(link.open(m_server->uri()), qPrintable(link.lastError()));
    QVERIFY(link.exec(QStringLiteral("DROP SCHEMA IF EXISTS ardenix CASCADE")));
    m_dir = std::make_unique<QTemporaryDir>();
    m_localPath = m_dir->filePath(QStringLiteral("ardenix.dat"));
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kLocal);
    db.setDatabaseName(m_localPath);
    QVERIFY(db.open());
    QVERIFY(SiteOutbox::create(db));
}

void TestSiteDatabase::cleanup()
{
    QSqlDatabase::database(kLocal, false).close();
    QSqlDatabase::removeDatabase(kLocal);
}

QString TestSiteDatabase::siteValue(const QString& statement)
{
    SiteLink link;
    QString value;
    if (!link.open(m_server->uri()) || !link.query(statement, {}, [&value](const QVector<QString>& row) {
            value = row.value(0);
            return false;
        }))
        return QStringLiteral("error: ") + link.lastError();
    return value;
}

void TestSiteDatabase::queue(int first, int count, int state)
{
    QSqlDatabase db = QSqlDatabase::database(kLocal);
    QDir().mkpath(m_dir->filePath("shots"));
    for (int i = first; i < first + count; ++i) {
        QFile picture(m_dir->filePath("shots/" + pictureName(i, state)));
        QVERIFY(picture.open(QIODevice::WriteOnly));
        QVERIFY(SiteOutbox::queueMeasurement(db, QStringLiteral("2026-12-09"), picture.fileName(), state));
    }
}

std::unique_ptr<SiteSink> TestSiteDatabase::sink(const QString& uri, const QString& station)
{
    SiteSink::Settings settings;
    settings.uri = uri;
    settings.station = station;
    settings.localPath = m_localPath;
    settings.batchSize = 7;
    settings.firstRetryMs = 50;
    settings.maxRetryMs = 400;
    return std::make_unique<SiteSink>(settings);
}

void TestSiteDatabase::schemaIsCreatedOnceAndGuarded()
{
    SiteLink first;
    SiteLink second;
    QVERIFY(first.open(m_server->uri()) && second.open(m_server->uri()));
    QVERIFY2(first.ensureSchema(), qPrintable(first.lastError()));
    QVERIFY2(second.ensureSchema(), qPrintable(second.lastError()));
    QCOMPARE(siteValue("SELECT count(*) FROM ardenix.schema_version"), QStringLiteral("1"));
    QCOMPARE(siteValue("SELECT version FROM ardenix.schema_version"), QString::number(SiteLink::SchemaVersion));
    QCOMPARE(siteValue("SELECT count(*) FROM pg_indexes WHERE schemaname = 'ardenix' AND tablename = "
                       "'measurements'"),
        QStringLiteral("4"));
    QCOMPARE(siteValue("SELECT to_regclass('ardenix.daily') IS NOT NULL"), QStringLiteral("t"));

    // A site a newer program has set up is not written to by this one.
    QVERIFY(first.exec(QStringLiteral("UPDATE ardenix.schema_version SET version = version + 1")));
    SiteLink older;
    QVERIFY(older.open(m_server->uri()));
    QVERIFY(!older.ensureSchema());
    QCOMPARE(older.failure(), SiteLink::Failure::Rejected);

    SiteLink bad;
    QVERIFY(!bad.open(QStringLiteral("postgresql://station@[::1")));
    QCOMPARE(bad.failure(), SiteLink::Failure::BadAddress);
}

void TestSiteDatabase::rowsSentTwiceAreStoredOnce()
{
    queue(0, 20);
    {
        auto site = sink(m_server->uri(), QStringLiteral("lane-1"));
        site->start();
        QTRY_COMPARE_WITH_TIMEOUT(site->confirmed(), qint64(20), patient(20000));
    }
    QCOMPARE(SiteOutbox::size(QSqlDatabase::database(kLocal)), qint64(0));
    // A station killed after the site stored a batch and before the outbox
    // lost it sends the batch again; another station's rows of the same
    // names are its own.
    queue(10, 20);
    SiteLink link;
    QVERIFY(link.open(m_server->uri()));
    int inserted = -1;
    QVERIFY(link.storeMeasurements(QStringLiteral("lane-2"),
        { SiteMeasurement { pictureName(0, 1), "2026-12-09", "", "", 1, pictureName(0, 1) } }, &inserted));
    QCOMPARE(inserted, 1);
    {
        auto site = sink(m_server->uri(), QStringLiteral("lane-1"));
        site->start();
        QTRY_COMPARE_WITH_TIMEOUT(site->confirmed(), qint64(20), patient(20000));
    }
    QCOMPARE(siteValue("SELECT count(*) FROM ardenix.measurements WHERE station = 'lane-1'"), QStringLiteral("30"));
    QCOMPARE(siteValue("SELECT count(DISTINCT key) FROM ardenix.measurements"), QStringLiteral("30"));
    QCOMPARE(siteValue("SELECT sum(normal) FROM ardenix.daily"), QStringLiteral("31"));

    // Two people whose pictures could not be written share the name the
    // pictures would have had; each is a row of its own.
    for (int i = 0; i < 2; ++i)
        QVERIFY(SiteOutbox::queueMeasurement(QSqlDatabase::database(kLocal), QStringLiteral("2026-12-09"),
            m_dir->filePath("shots/unwritten/" + pictureName(40, 2)), 2));
    {
        auto site = sink(m_server->uri(), QStringLiteral("lane-1"));
        site->start();
        QTRY_COMPARE_WITH_TIMEOUT(site->confirmed(), qint64(2), patient(20000));
    }
    QCOMPARE(siteValue("SELECT count(*) FROM ardenix.measurements WHERE picture = '" + pictureName(40, 2) + "'"),
        QStringLiteral("2"));
    // What the picture's name says arrives with the row, in the order queued.
    QCOMPARE(siteValue("SELECT temperature_c || ' ' || time || ' ' || result || ' ' || day FROM ardenix.measurements "
                       "WHERE station = 'lane-1' ORDER BY id LIMIT 1 OFFSET 3"),
        QStringLiteral("36.8 2026-12-09 08:00:03 normal 2026-12-09"));
    QCOMPARE(siteValue("SELECT bool_and(a.id < b.id) FROM ardenix.measurements a JOIN ardenix.measurements b ON "
                       "a.station = b.station AND a.time < b.time WHERE a.station = 'lane-1'"),
        QStringLiteral("t"));
}

void TestSiteDatabase::outageBacksOffAndSendsEverythingAfter()
{
    queue(0, 5);
    auto site = sink(m_server->uri(), QStringLiteral("lane-3"));
    QSignalSpy outages(site.get(), &SiteSink::sigSiteOutage);
    QSignalSpy back(site.get(), &SiteSink::sigSiteBack);
    site->start();
    QTRY_COMPARE_WITH_TIMEOUT(site->confirmed(), qint64(5), patient(20000));

    QVERIFY(m_server->stop());
    queue(5, 30, 2);
    site->wake();
    // The waits grow to the longest and stay there; one outage all along.
    QTRY_COMPARE_WITH_TIMEOUT(site->retryDelayMs(), 400, patient(20000));
    QCOMPARE(outages.count(), 1);
    QVERIFY(site->failing());
    QCOMPARE(SiteOutbox::size(QSqlDatabase::database(kLocal)), qint64(30));

    QVERIFY(m_server->restart());
    QTRY_COMPARE_WITH_TIMEOUT(site->confirmed(), qint64(35), patient(20000));
    QCOMPARE(back.count(), 1);
    QCOMPARE(outages.count(), 1);
    QCOMPARE(siteValue("SELECT normal || ' ' || abnormal FROM ardenix.daily WHERE station = 'lane-3'"),
        QStringLiteral("5 30"));
    QCOMPARE(siteValue("SELECT string_agg(right(split_part(key, '-', 3), 2), ',' ORDER BY id) = string_agg(right("
                       "split_part(key, '-', 3), 2), ',' ORDER BY key) FROM ardenix.measurements"),
        QStringLiteral("t"));
}

void TestSiteDatabase::wrongPasswordIsOneOutage()
{
    queue(0, 3);
    auto site = sink(m_server->uri(QStringLiteral("station"), QStringLiteral("wrong")), QStringLiteral("lane-4"));
    QSignalSpy outages(site.get(), &SiteSink::sigSiteOutage);
    site->start();
    QTRY_COMPARE_WITH_TIMEOUT(site->retryDelayMs(), 400, patient(20000));
    QCOMPARE(outages.count(), 1);
    QVERIFY2(outages.at(0).at(0).toString().contains(QLatin1String("password authentication failed")),
        qPrintable(outages.at(0).at(0).toString()));
    QCOMPARE(SiteOutbox::size(QSqlDatabase::database(kLocal)), qint64(3));
}

void TestSiteDatabase::resetMarksRowsBeforeItOnly()
{
    QSqlDatabase db = QSqlDatabase::database(kLocal);
    queue(0, 4);
    QVERIFY(SiteOutbox::queueReset(db));
    queue(4, 3, 2);
    // A reset ends the batch before it, so that no batch sent again after a
    // crash applies it to rows queued after it.
    QVector<SiteOutbox::Entry> entries;
    QVERIFY(SiteOutbox::take(db, 100, entries, nullptr));
    QCOMPARE(entries.size(), 4);
    QVERIFY(!entries.last().reset);

    auto site = sink(m_server->uri(), QStringLiteral("lane-5"));
    site->start();
    QTRY_COMPARE_WITH_TIMEOUT(site->confirmed(), qint64(8), patient(20000));
    QCOMPARE(siteValue("SELECT count(*) || ' ' || count(*) FILTER (WHERE reset) FROM ardenix.measurements"),
        QStringLiteral("7 4"));
    QCOMPARE(
        siteValue("SELECT normal || ' ' || abnormal || ' ' || cleared FROM ardenix.daily"), QStringLiteral("0 3 4"));
}

void TestSiteDatabase::reportsReadTheSite()
{
    SiteLink link;
    QVERIFY(link.open(m_server->uri()) && link.ensureSchema());
    QVERIFY(link.storeMeasurements(QStringLiteral("north, gate"),
        { { pictureName(1, 1), "2026-12-08", "2026-12-08 23:59:59", "36.6", 1, pictureName(1, 1) },
            { pictureName(2, 2), "2026-12-09", "", "38.1", 2, pictureName(2, 2) } }));
    QVERIFY(
        link.storeMeasurements(QStringLiteral("south"), { { pictureName(3, 1), "2026-12-09", "", "", 1, QString() } }));
    QVERIFY(link.markReset(QStringLiteral("south")));

    const QString program = QString::fromLocal8Bit(qgetenv("ARDENIX_BUILD_DIR")) + "/bin/ardenix-report";
    const auto report = [&](const QStringList& arguments, int* code) {
        QProcess process;
        process.start(program, arguments);
        process.waitForFinished(patient(30000));
        *code = process.exitCode();
        return QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError());
    };
    int code = -1;
    const QString reader = m_server->uri(QStringLiteral("reader"), QStringLiteral("reader"));
    QCOMPARE(report({ "--db", reader, "daily" }, &code),
        QStringLiteral("station,date,normal,abnormal,total\r\n\"north, gate\",2026-12-08,1,0,1\r\n"
                       "\"north, gate\",2026-12-09,0,1,1\r\nsouth,2026-12-09,0,0,0\r\n"));
    QCOMPARE(code, 0);
    QCOMPARE(report({ "--db", reader, "pictures", "--from", "2026-12-09", "--station", "south" }, &code),
        QStringLiteral("station,time,camera,temperature_c,result,reset,file\r\n"
                       "south,2026-12-09,,,normal,yes,\r\n"));
    QCOMPARE(report({ "--db", reader, "pictures", "--to", "2026-12-08" }, &code),
        QStringLiteral("station,time,camera,temperature_c,result,reset,file\r\n"
                       "\"north, gate\",2026-12-08 23:59:59,7,36.6,normal,no,")
            + pictureName(1, 1) + "\r\n");

    // The reader may read, and a report never writes even as the owner.
    QVERIFY(report({ "--db", m_server->uri(), "daily" }, &code).startsWith("station,"));
    QCOMPARE(siteValue("SELECT count(*) FROM ardenix.measurements"), QStringLiteral("3"));

    QVERIFY(report({ "--db", "postgresql://station@127.0.86.1:1/site", "daily" }, &code)
                .contains("cannot reach the site database"));
    QCOMPARE(code, 1);
    QVERIFY(report({ "--db", "postgresql://station@[::1/site", "daily" }, &code)
                .contains("not a PostgreSQL connection URI"));
    QCOMPARE(code, 1);
    report({ "--db", reader, "weekly" }, &code);
    QCOMPARE(code, 2);
    report({ "--station", "south", "daily" }, &code);
    QCOMPARE(code, 2);
}

QTEST_GUILESS_MAIN(TestSiteDatabase)
#include "TestSiteDatabase.moc"
