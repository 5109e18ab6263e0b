// The CSV reports of a statistics file: quoting, the inclusive day range,
// reset and missing pictures, names that carry nothing; read-only opening.
#include "SampleStatistics.h"
#include "store/CsvReport.h"

#include <QBuffer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray lines(const QStringList& rows)
{
    QByteArray out;
    for (const QString& row : rows)
        out += row.toUtf8() + "\r\n";
    return out;
}

QDate day(const char* text)
{
    return text ? QDate::fromString(QString::fromLatin1(text), Qt::ISODate) : QDate();
}

} // namespace

class TestCsvReport : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(m_sample.write(QDir(m_dir.path())));
        QString error;
        QVERIFY2(CsvReport::openReadOnly(m_sample.db, m_connection, &error), qPrintable(error));
    }

    void cleanupTestCase() { QSqlDatabase::removeDatabase(m_connection); }

    void quotesFields()
    {
        QCOMPARE(CsvReport::field(QStringLiteral("plain text")), QStringLiteral("plain text"));
        QCOMPARE(CsvReport::field(QStringLiteral("a,b")), QStringLiteral("\"a,b\""));
        QCOMPARE(CsvReport::field(QStringLiteral("say \"hi\"")), QStringLiteral("\"say \"\"hi\"\"\""));
        QCOMPARE(CsvReport::field(QStringLiteral("two\nlines")), QStringLiteral("\"two\nlines\""));
        QCOMPARE(CsvReport::field(QStringLiteral("cr\r")), QStringLiteral("\"cr\r\""));
        QCOMPARE(
            CsvReport::record({ QStringLiteral("1"), QString(), QStringLiteral("x,y") }), QByteArray("1,,\"x,y\"\r\n"));
    }

    void daily_data()
    {
        QTest::addColumn<QDate>("from");
        QTest::addColumn<QDate>("to");
        QTest::addColumn<QStringList>("rows");
        const QString header = QStringLiteral("date,normal,abnormal,total");
        const QString day8 = QStringLiteral("2024-03-08,0,1,1");
        const QString day9 = QStringLiteral("2024-03-09,1,0,1");
        const QString day10 = QStringLiteral("2024-03-10,1,1,2");
        QTest::newRow("all") << QDate() << QDate() << QStringList { header, day8, day9, day10 };
        QTest::newRow("both ends included")
            << day("2024-03-09") << day("2024-03-10") << QStringList { header, day9, day10 };
        QTest::newRow("one day") << day("2024-03-09") << day("2024-03-09") << QStringList { header, day9 };
        QTest::newRow("from only") << day("2024-03-10") << QDate() << QStringList { header, day10 };
        QTest::newRow("to only") << QDate() << day("2024-03-08") << QStringList { header, day8 };
        QTest::newRow("no day") << day("2025-01-01") << QDate() << QStringList { header };
    }

    void daily()
    {
        QFETCH(QDate, from);
        QFETCH(QDate, to);
        QFETCH(QStringList, rows);
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        QString error;
        QVERIFY2(
            CsvReport::writeDaily(QSqlDatabase::database(m_connection), out, { from, to }, &error), qPrintable(error));
        QCOMPARE(out.data(), lines(rows));
    }

    void pictures()
    {
        const QString& shots = m_sample.shotDir;
        const QString dir = QStringLiteral("\"") + QString(shots).replace(QStringLiteral("\""), QStringLiteral("\"\""));
        // One picture is still on disk; the others were removed or never written.
        const QString kept = shots + QStringLiteral("/2024-03-09/7-361-20240309111111-1-1.jpg");
        QVERIFY(QDir().mkpath(QFileInfo(kept).absolutePath()));
        QFile keptFile(kept);
        QVERIFY(keptFile.open(QIODevice::WriteOnly));
        keptFile.close();
        const QStringList all {
            QStringLiteral("time,camera,temperature_c,result,reset,file,present"),
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
        QCOMPARE(picturesBetween(QDate(), QDate()), lines(all));
        // A range leaves out pictures without a day, whichever its ends.
        QCOMPARE(picturesBetween(day("2024-03-09"), day("2024-03-10")),
            lines({ all.at(0), all.at(3), all.at(4), all.at(5) }));
        QCOMPARE(picturesBetween(QDate(), day("2024-03-08")), lines({ all.at(0), all.at(1), all.at(2) }));
    }

    void openReadOnlyRefusesOtherFiles()
    {
        QString error;
        QVERIFY(!CsvReport::openReadOnly(m_dir.filePath(QStringLiteral("none.dat")), QStringLiteral("none"), &error));
        QVERIFY(error.contains(QStringLiteral("no statistics file")));

        const QString other = m_dir.filePath(QStringLiteral("other.db"));
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("make-other"));
            db.setDatabaseName(other);
            QVERIFY(db.open());
            QSqlQuery(db).exec(QStringLiteral("CREATE TABLE pictureinfotb (x integer)"));
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("make-other"));
        QVERIFY(!CsvReport::openReadOnly(other, QStringLiteral("other"), &error));
        QVERIFY2(error.contains(QStringLiteral("not a statistics file")), qPrintable(error));
        QSqlDatabase::removeDatabase(QStringLiteral("other"));
    }

private:
    QByteArray picturesBetween(const QDate& from, const QDate& to)
    {
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        QString error;
        if (!CsvReport::writePictures(QSqlDatabase::database(m_connection), out, { from, to }, &error))
            return error.toUtf8();
        return out.data();
    }

    const QString m_connection = QStringLiteral("report");
    QTemporaryDir m_dir;
    SampleStatistics m_sample;
};

QTEST_GUILESS_MAIN(TestCsvReport)
#include "TestCsvReport.moc"
