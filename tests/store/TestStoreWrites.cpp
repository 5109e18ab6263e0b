// The store's writes when the file refuses them: a lock held by another
// connection costs the caller a short wait only, the rows are written later
// with their counts, the failure is news once; a deleted file is started
// anew. Fast and without a camera.
#include "store/LocalDatabase.h"

#include "TestPatience.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QString picture(int n, int state)
{
    return QStringLiteral("/shots/Screenshot/2024-05-01/7-%1-202405010830%2-%3-3.jpg")
        .arg(360 + n)
        .arg(n % 60, 2, 10, QLatin1Char('0'))
        .arg(state);
}

int scalar(const QString& db, const QString& sql)
{
    int value = -1;
    {
        QSqlDatabase c = QSqlDatabase::addDatabase("QSQLITE", "check");
        c.setDatabaseName(db);
        c.open();
        QSqlQuery q(c);
        if (q.exec(sql) && q.next())
            value = q.value(0).toInt();
        c.close();
    }
    QSqlDatabase::removeDatabase("check");
    return value;
}

} // namespace

class TestStoreWrites : public QObject {
    Q_OBJECT

private slots:
    void lockedFileCostsAShortWaitAndCatchesUp();
    void deletedFileIsStartedAnew();
};

void TestStoreWrites::lockedFileCostsAShortWaitAndCatchesUp()
{
    QTemporaryDir dir;
    const QString db = dir.filePath("a.dat");
    qputenv("ARDENIX_DB", QFile::encodeName(db));
    LocalDatabase store;
    store.openDatabase();
    QVERIFY(store.addPicture(picture(1, 1)));
    QVERIFY(!store.newWriteFailure());
    const qint64 firstWrite = store.longestWriteMs();

    {
        QSqlDatabase other = QSqlDatabase::addDatabase("QSQLITE", "other");
        other.setDatabaseName(db);
        QVERIFY(other.open());
        QSqlQuery lock(other);
        QVERIFY(lock.exec("BEGIN EXCLUSIVE"));
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!store.addPicture(picture(2, 2)));
        const qint64 waited = clock.elapsed();
        const qint64 accounted = store.longestWriteMs();
        QVERIFY(store.newWriteFailure());
        QVERIFY(!store.addPicture(picture(3, 1)));
        QVERIFY(!store.newWriteFailure());
        QVERIFY2(waited < patient(500), qPrintable(QString::number(waited)));
        // The store's own account of the wait sees the locked file's delay.
        QVERIFY2(accounted >= 30 && accounted <= qMax(waited, firstWrite),
            qPrintable(QString("%1 of %2 ms").arg(accounted).arg(waited)));
        // Shown at once, though not yet in the file.
        QCOMPARE(store.todayNormal(), 2);
        QCOMPARE(store.todayAbnormal(), 1);
        QVERIFY(lock.exec("ROLLBACK"));
        other.close();
    }
    QSqlDatabase::removeDatabase("other");

    QVERIFY(store.addPicture(picture(4, 2)));
    QVERIFY(!store.newWriteFailure());
    QCOMPARE(scalar(db, "SELECT count(*) FROM pictureinfotb"), 4);
    QCOMPARE(scalar(db, "SELECT sum(normalnum) FROM datecounttb"), 2);
    QCOMPARE(scalar(db, "SELECT sum(unusualnum) FROM datecounttb"), 2);
    QCOMPARE(scalar(db, "SELECT count(DISTINCT filepath) FROM pictureinfotb"), 4);
}

void TestStoreWrites::deletedFileIsStartedAnew()
{
    QTemporaryDir dir;
    const QString db = dir.filePath("b.dat");
    qputenv("ARDENIX_DB", QFile::encodeName(db));
    LocalDatabase store;
    store.openDatabase();
    QVERIFY(store.addPicture(picture(1, 1)));
    QVERIFY(store.addPicture(picture(2, 1)));
    QVERIFY(QFile::remove(db));
    QVERIFY(!store.addPicture(picture(3, 2)));
    QVERIFY(store.newWriteFailure());
    QVERIFY(store.addPicture(picture(4, 1)));
    QVERIFY(QFile::exists(db));
    // The new file and the figures agree: only what came after.
    QCOMPARE(scalar(db, "SELECT count(*) FROM pictureinfotb"), 2);
    QCOMPARE(scalar(db, "SELECT sum(normalnum) + sum(unusualnum) FROM datecounttb"), 2);
    QCOMPARE(store.totalNormal() + store.totalAbnormal(), 2);
}

QTEST_GUILESS_MAIN(TestStoreWrites)
#include "TestStoreWrites.moc"
