// Retention of the alarm pictures: back-dated day folders beyond the days to
// keep go, today's, later ones, other folders and the manual snapshots stay;
// the rows of removed pictures stay and the report marks them absent; low
// space removes the oldest folders one at a time and tells the operator once
// when nothing is left; a folder that cannot be removed is not retried; the
// passes run on a thread of their own.
#include "store/CsvReport.h"
#include "store/LocalDatabase.h"
#include "store/SnapshotRetention.h"

#include "../TestPatience.h"

#include <QBuffer>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <unistd.h>

namespace {

QString day(int offset)
{
    return QDate::currentDate().addDays(offset).toString("yyyy-MM-dd");
}

// Writes count pictures into the day folder offset days from today and
// returns their paths.
QStringList addDay(const QString& dir, int offset, int count)
{
    const QString folder = dir + "/" + day(offset);
    QDir().mkpath(folder);
    QStringList paths;
    for (int i = 0; i < count; ++i) {
        const QString stamp
            = QDate::currentDate().addDays(offset).toString("yyyyMMdd") + QString("0900%1").arg(i, 2, 10, QChar('0'));
        const QString path = QString("%1/7-365-%2-1-3.jpg").arg(folder, stamp);
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write("jpeg");
        paths << path;
    }
    return paths;
}

SnapshotRetention::Policy policy(int keepDays, qint64 minFreeMB)
{
    SnapshotRetention::Policy p;
    p.keepDays = keepDays;
    p.minFreeMB = minFreeMB;
    return p;
}

QStringList messages;
void collect(QtMsgType, const QMessageLogContext&, const QString& text)
{
    messages << text;
}

} // namespace

class TestSnapshotRetention : public QObject {
    Q_OBJECT

private:
    QString m_shots;
    QString m_manual;
    std::unique_ptr<QTemporaryDir> m_dir;

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_shots = m_dir->filePath("Screenshot");
        m_manual = m_dir->filePath("ManualScreenshot");
        messages.clear();
    }

    void keepDaysRemovesOldDaysAndKeepsTheRows()
    {
        qputenv("ARDENIX_DB", QFile::encodeName(m_dir->filePath("ardenix.dat")));
        QStringList old;
        QStringList kept;
        {
            LocalDatabase store;
            store.openDatabase();
            old << addDay(m_shots, -9, 3) << addDay(m_shots, -3, 2);
            kept << addDay(m_shots, -2, 1) << addDay(m_shots, 0, 2) << addDay(m_shots, 1, 1);
            for (const QString& path : old + kept)
                store.addPicture(path);
        }
        addDay(m_manual, -30, 2);
        QDir().mkpath(m_shots + "/notes");
        QDir().mkpath(m_shots + "/2024-13-45");
        QFile::link(m_dir->filePath("ManualScreenshot/") + day(-30), m_shots + "/" + day(-40));

        // Three days kept: today and the two before it.
        SnapshotRetention retention(m_shots, [] { return policy(3, 0); });
        const SnapshotRetention::PassResult result = retention.runPass();
        QCOMPARE(result.folders, 2);
        QCOMPARE(result.pictures, 5);
        QVERIFY(!result.spaceLow);
        for (const QString& path : old)
            QVERIFY2(!QFile::exists(path), qPrintable(path));
        for (const QString& path : kept)
            QVERIFY2(QFile::exists(path), qPrintable(path));
        QVERIFY(QDir(m_shots + "/notes").exists());
        QVERIFY(QDir(m_shots + "/2024-13-45").exists());
        QCOMPARE(QDir(m_manual + "/" + day(-30)).entryList(QDir::Files).size(), 2);
        QVERIFY(QFileInfo(m_shots + "/" + day(-40)).isSymLink());

        // The rows stay; the report tells which pictures are gone.
        QCOMPARE(retention.runPass().folders, 0);
        QVERIFY(CsvReport::openReadOnly(m_dir->filePath("ardenix.dat"), "report", nullptr));
        {
            QBuffer out;
            out.open(QIODevice::WriteOnly);
            QVERIFY(CsvReport::writePictures(QSqlDatabase::database("report"), out, {}, nullptr));
            const QList<QByteArray> rows = out.data().split('\n');
            QCOMPARE(rows.first().trimmed(), QByteArray("time,camera,temperature_c,result,reset,file,present"));
            QCOMPARE(rows.size(), 2 + old.size() + kept.size());
            for (int i = 0; i < old.size() + kept.size(); ++i)
                QVERIFY(rows.at(1 + i).trimmed().endsWith(i < old.size() ? ",no" : ",yes"));
        }
        QSqlDatabase::removeDatabase("report");
        QSqlDatabase::removeDatabase(QSqlDatabase::defaultConnection);
    }

    void yesterdayStaysWhileTheCameraWritesIntoIt()
    {
        // The camera's clock is a zone behind: its pictures still go into
        // yesterday's folder, under both rules.
        addDay(m_shots, -5, 1);
        addDay(m_shots, -1, 1);
        SnapshotRetention retention(m_shots, [] { return policy(1, 100); });
        retention.setFreeSpaceProbe([](const QString&) { return qint64(0); });
        QCOMPARE(retention.runPass().folders, 1);
        QVERIFY(QDir(m_shots + "/" + day(-1)).exists());
        // Once it writes into today's, yesterday's goes.
        addDay(m_shots, 0, 1);
        QCOMPARE(retention.runPass().folders, 1);
        QCOMPARE(QDir(m_shots).entryList({ "20*" }, QDir::Dirs), QStringList({ day(0) }));
    }

    void keepDaysZeroKeepsEverything()
    {
        const QStringList paths = addDay(m_shots, -400, 1) + addDay(m_shots, -1, 1);
        SnapshotRetention retention(m_shots, [] { return policy(0, 2048); });
        retention.setFreeSpaceProbe([](const QString&) { return qint64(1) << 40; });
        QCOMPARE(retention.runPass().folders, 0);
        for (const QString& path : paths)
            QVERIFY(QFile::exists(path));
    }

    void lowSpaceRemovesOldestFirstUntilEnough()
    {
        for (int offset : { -1, -5, -6, -20 })
            addDay(m_shots, offset, 2);
        addDay(m_shots, 0, 2);
        addDay(m_manual, -30, 1);
        // Each old day folder holds 30 MB of a disk with 200 MB.
        const QString shots = m_shots;
        int probes = 0;
        SnapshotRetention retention(m_shots, [] { return policy(0, 150); });
        retention.setFreeSpaceProbe([shots, &probes](const QString& dir) {
            ++probes;
            const int old = QDir(shots).entryList({ "20*" }, QDir::Dirs).size() - 1;
            return dir == shots ? (200 - 30 * old) * qint64(1024 * 1024) : -1;
        });
        const SnapshotRetention::PassResult result = retention.runPass();
        QCOMPARE(result.folders, 3);
        QCOMPARE(result.pictures, 6);
        QVERIFY(!result.spaceLow);
        QCOMPARE(probes, 4);
        QCOMPARE(QDir(m_shots).entryList({ "20*" }, QDir::Dirs), QStringList({ day(-1), day(0) }));
        QVERIFY(QDir(m_manual + "/" + day(-30)).exists());
    }

    void lowSpaceWithNothingLeftTellsOnce()
    {
        addDay(m_shots, -2, 1);
        addDay(m_shots, 0, 3);
        std::atomic<qint64> freeMB { 10 };
        SnapshotRetention retention(m_shots, [] { return policy(0, 100); });
        retention.setFreeSpaceProbe([&freeMB](const QString&) { return freeMB.load() * 1024 * 1024; });
        QSignalSpy low(&retention, &SnapshotRetention::sigSpaceLow);

        SnapshotRetention::PassResult result = retention.runPass();
        QCOMPARE(result.folders, 1);
        QVERIFY(result.spaceLow);
        QCOMPARE(low.size(), 1);
        QCOMPARE(low.first().first().toLongLong(), qint64(10));
        // Today's pictures stay, however low the space.
        QCOMPARE(QDir(m_shots + "/" + day(0)).entryList(QDir::Files).size(), 3);

        QVERIFY(retention.runPass().spaceLow);
        QCOMPARE(low.size(), 1);
        // Space came back, then went again: a new tip.
        freeMB = 500;
        QVERIFY(!retention.runPass().spaceLow);
        freeMB = 20;
        QVERIFY(retention.runPass().spaceLow);
        QCOMPARE(low.size(), 2);
    }

    void unremovableFolderIsLoggedOnceAndSkipped()
    {
        addDay(m_shots, -8, 1);
        const QStringList locked = addDay(m_shots, -9, 2);
        addDay(m_shots, -7, 1);
        // A folder's permissions do not bind the superuser; an immutable
        // file does.
        const bool root = geteuid() == 0;
        const QString lockedDir = QFileInfo(locked.first()).absolutePath();
        if (root) {
            if (QProcess::execute("chattr", { "+i", locked.first() }) != 0)
                QSKIP("running as root where files cannot be made immutable");
        } else {
            QVERIFY(QFile::setPermissions(lockedDir, QFile::ReadOwner | QFile::ExeOwner));
        }
        const auto unlock = qScopeGuard([&] {
            if (root)
                QProcess::execute("chattr", { "-i", locked.first() });
            else
                QFile::setPermissions(lockedDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        });
        qInstallMessageHandler(collect);
        SnapshotRetention retention(m_shots, [] { return policy(0, 100); });
        retention.setFreeSpaceProbe([](const QString&) { return qint64(1024 * 1024); });
        SnapshotRetention::PassResult result = retention.runPass();
        const SnapshotRetention::PassResult again = retention.runPass();
        qInstallMessageHandler(nullptr);

        // The locked folder is tried once; the pass goes on to the others.
        QCOMPARE(result.folders, 2);
        QVERIFY(result.spaceLow);
        QCOMPARE(again.folders, 0);
        QCOMPARE(messages.filter("cannot remove").size(), 1);
        QVERIFY(messages.filter("cannot remove").first().contains(day(-9)));
        QCOMPARE(messages.filter("retention: removed").size(), 2);
        QVERIFY(QFile::exists(locked.first()));
        QCOMPARE(result.pictures, 2 + (root ? 1 : 0));
    }

    void passesRunOnTheirOwnThread()
    {
        addDay(m_shots, -3, 1);
        addDay(m_shots, 0, 1);
        std::atomic<int> keep { 0 };
        SnapshotRetention retention(m_shots, [&keep] { return policy(keep.load(), 0); });
        std::atomic<QThread*> passThread { nullptr };
        std::atomic<int> passes { 0 };
        connect(
            &retention, &SnapshotRetention::sigPassDone, this,
            [&](int folders) {
                passThread = QThread::currentThread();
                if (folders == 0)
                    ++passes;
            },
            Qt::DirectConnection);
        retention.start(50);
        QTRY_VERIFY_WITH_TIMEOUT(passes.load() > 0, patient(5000));
        QVERIFY(passThread.load() != QThread::currentThread());
        // The next interval reads the policy again.
        keep = 1;
        QTRY_VERIFY_WITH_TIMEOUT(!QDir(m_shots + "/" + day(-3)).exists(), patient(5000));
        QVERIFY(QDir(m_shots + "/" + day(0)).exists());
    }
};

QTEST_GUILESS_MAIN(TestSnapshotRetention)
#include "TestSnapshotRetention.moc"
