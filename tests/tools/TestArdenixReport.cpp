// ardenix-report on a statistics file written by the store, which it keeps
// open: each report with its day range from the command line, the file left
// as it was; refused arguments and files. What the reports hold is the
// store's CSV report's, tested with the store.
#include "SampleStatistics.h"
#include "TestPatience.h"
#include "store/CsvReport.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray fileHash(const QString& path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

QDate day(const char* text)
{
    return QDate::fromString(QString::fromLatin1(text), Qt::ISODate);
}

} // namespace

class TestArdenixReport : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void reports_data();
    void reports();
    void refusesBadArguments_data();
    void refusesBadArguments();
    void refusesOtherFiles();

private:
    struct Run {
        int exitCode = -1;
        QByteArray out;
        QByteArray err;
    };
    Run report(const QStringList& arguments);
    // What the store's report writes for the range, read here.
    QByteArray expected(const QString& kind, const CsvReport::DateRange& range);

    const QString m_connection = QStringLiteral("expected");
    QTemporaryDir m_dir;
    SampleStatistics m_sample;
};

TestArdenixReport::Run TestArdenixReport::report(const QStringList& arguments)
{
    QProcess process;
    process.start(qEnvironmentVariable("ARDENIX_BUILD_DIR") + QStringLiteral("/bin/ardenix-report"), arguments);
    Run run;
    if (!process.waitForFinished(patient(30000)))
        return run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

QByteArray TestArdenixReport::expected(const QString& kind, const CsvReport::DateRange& range)
{
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    const QSqlDatabase db = QSqlDatabase::database(m_connection);
    QString error;
    const bool ok = kind == QLatin1String("daily") ? CsvReport::writeDaily(db, out, range, &error)
                                                   : CsvReport::writePictures(db, out, range, &error);
    return ok ? out.data() : error.toUtf8();
}

void TestArdenixReport::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(m_sample.write(QDir(m_dir.path())));
    QString error;
    QVERIFY2(CsvReport::openReadOnly(m_sample.db, m_connection, &error), qPrintable(error));
}

void TestArdenixReport::cleanupTestCase()
{
    QSqlDatabase::removeDatabase(m_connection);
}

void TestArdenixReport::reports_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QDate>("from");
    QTest::addColumn<QDate>("to");
    const QString db = m_sample.db;
    QTest::newRow("daily, all") << QStringList { "--db", db, "daily" } << "daily" << QDate() << QDate();
    QTest::newRow("daily, both ends") << QStringList { "--db", db, "daily", "--from", "2024-03-09", "--to",
        "2024-03-10" } << "daily" << day("2024-03-09")
                                      << day("2024-03-10");
    QTest::newRow("daily, from only") << QStringList { "--db", db, "daily", "--from", "2024-03-10" } << "daily"
                                      << day("2024-03-10") << QDate();
    QTest::newRow("daily, to only") << QStringList { "daily", "--db", db, "--to", "2024-03-08" } << "daily" << QDate()
                                    << day("2024-03-08");
    QTest::newRow("pictures, all") << QStringList { "--db", db, "pictures" } << "pictures" << QDate() << QDate();
    QTest::newRow("pictures, range") << QStringList { "pictures", "--db", db, "--from", "2024-03-09", "--to",
        "2024-03-10" } << "pictures" << day("2024-03-09")
                                     << day("2024-03-10");
    // Without --db the tool reads the program's own file.
    QTest::newRow("pictures, own file") << QStringList { "pictures", "--to", "2024-03-08" } << "pictures" << QDate()
                                        << day("2024-03-08");
}

void TestArdenixReport::reports()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, kind);
    QFETCH(QDate, from);
    QFETCH(QDate, to);
    const QByteArray before = fileHash(m_sample.db);
    const Run run = report(arguments);
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.err.isEmpty(), run.err.constData());
    const QByteArray want = expected(kind, { from, to });
    QVERIFY(want.count("\r\n") >= 2);
    QCOMPARE(run.out, want);
    QCOMPARE(fileHash(m_sample.db), before);
}

void TestArdenixReport::refusesBadArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("no report") << QStringList();
    QTest::newRow("unknown report") << QStringList { "weekly" };
    QTest::newRow("two reports") << QStringList { "daily", "pictures" };
    QTest::newRow("unknown option") << QStringList { "daily", "--since", "2024-03-01" };
    QTest::newRow("no such day") << QStringList { "daily", "--from", "2024-02-30" };
    QTest::newRow("no dashes") << QStringList { "daily", "--from", "20240301" };
    QTest::newRow("short form") << QStringList { "daily", "--to", "2024-3-1" };
    QTest::newRow("date missing") << QStringList { "daily", "--to" };
    QTest::newRow("reversed range") << QStringList { "daily", "--from", "2024-03-10", "--to", "2024-03-01" };
    QTest::newRow("missing file") << QStringList { "--db", "/nonexistent/ardenix.dat", "daily" };
}

void TestArdenixReport::refusesBadArguments()
{
    QFETCH(QStringList, arguments);
    const Run run = report(arguments);
    QCOMPARE(run.exitCode, 2);
    QVERIFY(run.out.isEmpty());
    QVERIFY(run.err.startsWith("ardenix-report: "));
}

void TestArdenixReport::refusesOtherFiles()
{
    const QString text = m_dir.filePath(QStringLiteral("notes.txt"));
    QFile file(text);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("not a database\n");
    file.close();
    Run run = report({ "--db", text, "daily" });
    QCOMPARE(run.exitCode, 1);
    QVERIFY(run.out.isEmpty());

    // An SQLite file of something else.
    const QString other = m_dir.filePath(QStringLiteral("other.db"));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
        db.setDatabaseName(other);
        QVERIFY(db.open());
        QSqlQuery(db).exec(QStringLiteral("CREATE TABLE t (x integer)"));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("other"));
    run = report({ "--db", other, "pictures" });
    QCOMPARE(run.exitCode, 1);
    QVERIFY(run.err.contains("not a statistics file"));
}

QTEST_GUILESS_MAIN(TestArdenixReport)
#include "TestArdenixReport.moc"
