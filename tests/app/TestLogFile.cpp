// The log file: the line a support person reads (time to the millisecond,
// thread, text), the change of file at midnight, the 30-day clean-up, many
// threads at once, and qDebug reaching the file once installed.
#include "app/LogFile.h"
#include "media/ThreadSync.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

QStringList readLines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

bool setAge(const QString& path, const QDateTime& modified)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    file.write("old\n");
    file.flush();
    return file.setFileTime(modified, QFileDevice::FileModificationTime);
}

const QRegularExpression kLine(
    QStringLiteral("^(\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3}) \\[(\\d+)( [^\\]]+)?\\] (.*)$"));

} // namespace

class TestLogFile : public QObject {
    Q_OBJECT

private slots:
    void writesStampedLines();
    void namesThreads();
    void switchesFileAtMidnight();
    void removesFilesOlderThan30Days();
    void keepsLinesWholeUnderManyThreads();
    void receivesQtMessagesOnceInstalled();
};

void TestLogFile::writesStampedLines()
{
    QTemporaryDir dir;
    const QDateTime now(QDate(2024, 5, 1), QTime(12, 34, 56, 789));
    LogFile log(dir.path(), [&] { return now; });
    log.write(QtDebugMsg, QStringLiteral("PreviewFirstFrame 1"));
    log.write(QtWarningMsg, QStringLiteral("disk full"));
    log.write(QtInfoMsg, QStringLiteral("two\nlines"));
    log.write(QtDebugMsg, QStringLiteral("截图失败"));

    const QString path = dir.filePath(QStringLiteral("ardenix-2024-05-01.log"));
    QCOMPARE(log.filePathFor(now.date()), path);
    const QStringList lines = readLines(path);
    QCOMPARE(lines.size(), 5);
    const QRegularExpressionMatch first = kLine.match(lines.at(0));
    QVERIFY2(first.hasMatch(), qPrintable(lines.at(0)));
    QCOMPARE(first.captured(1), QStringLiteral("2024-05-01 12:34:56.789"));
    QCOMPARE(first.captured(4), QStringLiteral("PreviewFirstFrame 1"));
    QVERIFY(lines.at(1).endsWith(QStringLiteral("] warning: disk full")));
    QVERIFY(lines.at(2).endsWith(QStringLiteral("] two")));
    // A continuation line cannot be taken for a line of its own.
    QCOMPARE(lines.at(3), QStringLiteral("    lines"));
    QVERIFY(lines.at(4).endsWith(QStringLiteral("] 截图失败")));
}

void TestLogFile::namesThreads()
{
    QTemporaryDir dir;
    LogFile log(dir.path());
    std::unique_ptr<QThread> thread(QThread::create([&log] { log.write(QtDebugMsg, QStringLiteral("from worker")); }));
    thread->setObjectName(QStringLiteral("PreviewWorker"));
    thread->start();
    QVERIFY(thread->wait(10000));
    log.write(QtDebugMsg, QStringLiteral("from main"));

    const QStringList lines = readLines(log.filePathFor(QDate::currentDate()));
    QCOMPARE(lines.size(), 2);
    const QRegularExpressionMatch worker = kLine.match(lines.at(0));
    const QRegularExpressionMatch main = kLine.match(lines.at(1));
    QVERIFY(worker.hasMatch() && main.hasMatch());
    QCOMPARE(worker.captured(3), QStringLiteral(" PreviewWorker"));
    QCOMPARE(worker.captured(4), QStringLiteral("from worker"));
    QVERIFY(worker.captured(2) != main.captured(2));
}

void TestLogFile::switchesFileAtMidnight()
{
    QTemporaryDir top;
    // Folders it creates and its files are the user's only.
    const QDir dir(top.filePath(QStringLiteral("data/logs")));
    QDateTime now(QDate(2024, 12, 31), QTime(23, 59, 59, 999));
    LogFile log(dir.path(), [&] { return now; });
    log.write(QtDebugMsg, QStringLiteral("last of the year"));
    now = QDateTime(QDate(2025, 1, 1), QTime(0, 0, 0, 0));
    log.write(QtDebugMsg, QStringLiteral("first of the year"));
    log.write(QtDebugMsg, QStringLiteral("second of the year"));

    const QStringList before = readLines(dir.filePath(QStringLiteral("ardenix-2024-12-31.log")));
    const QStringList after = readLines(dir.filePath(QStringLiteral("ardenix-2025-01-01.log")));
    QCOMPARE(before.size(), 1);
    QVERIFY(before.at(0).startsWith(QStringLiteral("2024-12-31 23:59:59.999 [")));
    QCOMPARE(after.size(), 2);
    QVERIFY(after.at(0).startsWith(QStringLiteral("2025-01-01 00:00:00.000 [")));
#ifndef _WIN32
    const auto userOnly
        = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser;
    const auto exe = QFileDevice::ExeOwner | QFileDevice::ExeUser;
    QCOMPARE(QFile::permissions(top.filePath(QStringLiteral("data"))), userOnly | exe);
    QCOMPARE(QFile::permissions(dir.path()), userOnly | exe);
    QCOMPARE(QFile::permissions(dir.filePath(QStringLiteral("ardenix-2024-12-31.log"))), userOnly);
    QCOMPARE(QFile::permissions(dir.filePath(QStringLiteral("ardenix-2025-01-01.log"))), userOnly);
#endif
}

void TestLogFile::removesFilesOlderThan30Days()
{
    QTemporaryDir dir;
    const QDateTime now = QDateTime::currentDateTime();
    const QString old = dir.filePath(QStringLiteral("ardenix-2020-01-01.log"));
    const QString recent = dir.filePath(QStringLiteral("ardenix-2020-02-01.log"));
    const QString boundary = dir.filePath(QStringLiteral("ardenix-2020-03-01.log"));
    const QString notOurs = dir.filePath(QStringLiteral("camsim-2020-01-01.log"));
    const QString notALog = dir.filePath(QStringLiteral("ardenix-notes.log"));
    QVERIFY(setAge(old, now.addDays(-31)));
    QVERIFY(setAge(recent, now.addDays(-10)));
    QVERIFY(setAge(boundary, now.addDays(-30).addSecs(120)));
    QVERIFY(setAge(notOurs, now.addDays(-90)));
    QVERIFY(setAge(notALog, now.addDays(-90)));

    LogFile log(dir.path());
    QCOMPARE(log.removeOldFiles(), 1);
    QVERIFY(!QFile::exists(old));
    QVERIFY(QFile::exists(recent));
    QVERIFY(QFile::exists(boundary));
    QVERIFY(QFile::exists(notOurs));
    QVERIFY(QFile::exists(notALog));
}

void TestLogFile::keepsLinesWholeUnderManyThreads()
{
    QTemporaryDir dir;
    LogFile log(dir.path());
    const int threads = 4;
    const int perThread = 300;
    std::vector<std::unique_ptr<QThread>> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back(QThread::create([&log, t] {
            for (int i = 0; i < perThread; ++i)
                log.write(QtDebugMsg, QStringLiteral("worker %1 line %2 %3").arg(t).arg(i).arg(QString(40, 'x')));
        }));
        workers.back()->start();
    }
    for (auto& worker : workers) {
        QVERIFY(worker->wait(30000));
        ThreadSync::observeFinished(worker.get());
    }

    const QStringList lines = readLines(log.filePathFor(QDate::currentDate()));
    QCOMPARE(lines.size(), threads * perThread);
    QVector<int> next(threads, 0);
    const QRegularExpression text(QStringLiteral("^worker (\\d) line (\\d+) x{40}$"));
    for (const QString& line : lines) {
        const QRegularExpressionMatch match = text.match(kLine.match(line).captured(4));
        QVERIFY2(match.hasMatch(), qPrintable(line));
        // Each thread's lines keep their order.
        const int t = match.captured(1).toInt();
        QCOMPARE(match.captured(2).toInt(), next[t]++);
    }
}

void TestLogFile::receivesQtMessagesOnceInstalled()
{
    QTemporaryDir dir;
    QDir(dir.path()).mkdir(QStringLiteral("logs"));
    const QString logs = dir.filePath(QStringLiteral("logs"));
    const QString stale = QDir(logs).filePath(QStringLiteral("ardenix-2000-01-01.log"));
    QVERIFY(setAge(stale, QDateTime::currentDateTime().addDays(-45)));

    LogFile::install(logs, true);
    QVERIFY(!QFile::exists(stale));
    qDebug("as device %d", 7);
    qWarning() << "a warning";

    const QStringList lines = readLines(QDir(logs).filePath(LogFile::fileNameFor(QDate::currentDate())));
    QCOMPARE(lines.size(), 2);
    QCOMPARE(kLine.match(lines.at(0)).captured(4), QStringLiteral("as device 7"));
    QCOMPARE(kLine.match(lines.at(1)).captured(4), QStringLiteral("warning: a warning"));
}

QTEST_GUILESS_MAIN(TestLogFile)
#include "TestLogFile.moc"
