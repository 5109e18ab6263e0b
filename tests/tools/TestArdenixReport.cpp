// ardenix-report on a statistics file written by the store: the two reports
// with quoting, the inclusive date filter and reset pictures; refused
// arguments; a file the program keeps open.
#include "store/CsvReport.h"
#include "store/LocalDatabase.h"

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

const char* const kCrlf = "\r\n";

QByteArray lines(const QStringList& rows)
{
    QByteArray out;
    for (const QString& row : rows)
        out += row.toUtf8() + kCrlf;
    return out;
}

QByteArray fileHash(const QString& path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

} // namespace

class TestArdenixReport : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void quotesFields();
    void dailyReport_data();
    void dailyReport();
    void picturesReport();
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

    QTemporaryDir m_dir;
    QString m_db;
    QString m_shotDir;
    QDateTime m_now;
    // Stays open, as the program keeps its file open while it counts.
    std::unique_ptr<LocalDatabase> m_store;
};

TestArdenixReport::Run TestArdenixReport::report(const QStringList& arguments)
{
    QProcess process;
    process.start(qEnvironmentVariable("ARDENIX_BUILD_DIR") + QStringLiteral("/bin/ardenix-report"), arguments);
    Run run;
    if (!process.waitForFinished(30000))
        return run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

void TestArdenixReport::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_db = m_dir.filePath(QStringLiteral("ardenix.dat"));
    qputenv("ARDENIX_DB", QFile::encodeName(m_db));
    // A folder name with a comma and double quotes must survive the CSV.
    m_shotDir = m_dir.filePath(QStringLiteral("shots \"north\", gate/Screenshot"));

    m_now = QDateTime(QDate(2024, 3, 8), QTime(10, 0));
    m_store = std::make_unique<LocalDatabase>([this] { return m_now; });
    m_store->openDatabase();
    m_store->addPicture(m_shotDir + QStringLiteral("/2024-03-08/7-365-20240308091500-1-0.jpg"));
    QVERIFY(m_store->resetCounts());
    m_store->addPicture(m_shotDir + QStringLiteral("/2024-03-08/7-382-20240308101500-2-0.jpg"));

    m_now = QDateTime(QDate(2024, 3, 9), QTime(11, 0));
    m_store->setToday(QStringLiteral("2024-03-09"));
    m_store->addPicture(m_shotDir + QStringLiteral("/2024-03-09/7-361-20240309111111-1-1.jpg"));

    m_now = QDateTime(QDate(2024, 3, 10), QTime(12, 0));
    m_store->setToday(QStringLiteral("2024-03-10"));
    m_store->addPicture(m_shotDir + QStringLiteral("/2024-03-10/12-370-20240310120001-1-0.jpg"));
    m_store->addPicture(m_shotDir + QStringLiteral("/2024-03-10/12-391-20240310120502-2-0.jpg"));
    // A name that does not follow the pattern: stored without a day.
    m_store->addPicture(m_shotDir + QStringLiteral("/odd.jpg"));
}

void TestArdenixReport::quotesFields()
{
    QCOMPARE(CsvReport::field(QStringLiteral("plain text")), QStringLiteral("plain text"));
    QCOMPARE(CsvReport::field(QStringLiteral("a,b")), QStringLiteral("\"a,b\""));
    QCOMPARE(CsvReport::field(QStringLiteral("say \"hi\"")), QStringLiteral("\"say \"\"hi\"\"\""));
    QCOMPARE(CsvReport::field(QStringLiteral("two\nlines")), QStringLiteral("\"two\nlines\""));
    QCOMPARE(CsvReport::field(QStringLiteral("cr\r")), QStringLiteral("\"cr\r\""));
    QCOMPARE(
        CsvReport::record({ QStringLiteral("1"), QString(), QStringLiteral("x,y") }), QByteArray("1,,\"x,y\"\r\n"));
}

void TestArdenixReport::dailyReport_data()
{
    QTest::addColumn<QStringList>("filter");
    QTest::addColumn<QStringList>("rows");
    const QString header = QStringLiteral("date,normal,abnormal,total");
    const QString day8 = QStringLiteral("2024-03-08,0,1,1");
    const QString day9 = QStringLiteral("2024-03-09,1,0,1");
    const QString day10 = QStringLiteral("2024-03-10,1,1,2");
    QTest::newRow("all") << QStringList() << QStringList { header, day8, day9, day10 };
    QTest::newRow("both ends included") << QStringList { "--from", "2024-03-09", "--to", "2024-03-10" }
                                        << QStringList { header, day9, day10 };
    QTest::newRow("one day") << QStringList { "--from", "2024-03-09", "--to", "2024-03-09" }
                             << QStringList { header, day9 };
    QTest::newRow("from only") << QStringList { "--from", "2024-03-10" } << QStringList { header, day10 };
    QTest::newRow("to only") << QStringList { "--to", "2024-03-08" } << QStringList { header, day8 };
    QTest::newRow("no day") << QStringList { "--from", "2025-01-01" } << QStringList { header };
}

void TestArdenixReport::dailyReport()
{
    QFETCH(QStringList, filter);
    QFETCH(QStringList, rows);
    const QByteArray before = fileHash(m_db);
    const Run run = report(QStringList { "--db", m_db, "daily" } + filter);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, lines(rows));
    QVERIFY(run.err.isEmpty());
    QCOMPARE(fileHash(m_db), before);
}

void TestArdenixReport::picturesReport()
{
    const QString dir = QStringLiteral("\"") + QString(m_shotDir).replace(QStringLiteral("\""), QStringLiteral("\"\""));
    const QString header = QStringLiteral("time,camera,temperature_c,result,reset,file,present");
    // One picture is still on disk; the others were removed or never written.
    const QString kept = m_shotDir + QStringLiteral("/2024-03-09/7-361-20240309111111-1-1.jpg");
    QVERIFY(QDir().mkpath(QFileInfo(kept).absolutePath()));
    QFile keptFile(kept);
    QVERIFY(keptFile.open(QIODevice::WriteOnly));
    keptFile.close();
    const QStringList all {
        header,
        QStringLiteral("2024-03-08 09:15:00,7,36.5,normal,yes,%1/2024-03-08/7-365-20240308091500-1-0.jpg\",no")
            .arg(dir),
        QStringLiteral("2024-03-08 10:15:00,7,38.2,abnormal,no,%1/2024-03-08/7-382-20240308101500-2-0.jpg\",no")
            .arg(dir),
        QStringLiteral("2024-03-09 11:11:11,7,36.1,normal,no,%1/2024-03-09/7-361-20240309111111-1-1.jpg\",yes")
            .arg(dir),
        QStringLiteral("2024-03-10 12:00:01,12,37.0,normal,no,%1/2024-03-10/12-370-20240310120001-1-0.jpg\",no")
            .arg(dir),
        QStringLiteral("2024-03-10 12:05:02,12,39.1,abnormal,no,%1/2024-03-10/12-391-20240310120502-2-0.jpg\",no")
            .arg(dir),
        QStringLiteral(",,,unknown,no,%1/odd.jpg\",no").arg(dir),
    };
    Run run = report({ "--db", m_db, "pictures" });
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, lines(all));

    // The day filter leaves out pictures without a day.
    run = report({ "pictures", "--db", m_db, "--from", "2024-03-09", "--to", "2024-03-10" });
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, lines({ all.at(0), all.at(3), all.at(4), all.at(5) }));

    // Without --db the tool reads the program's own file. A picture without
    // a day lies outside every range.
    run = report({ "pictures", "--to", "2024-03-08" });
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, lines({ all.at(0), all.at(1), all.at(2) }));
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
