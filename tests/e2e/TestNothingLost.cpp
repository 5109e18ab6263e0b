// The real ardenix program against camsim with a person every second, for
// E2E_MINUTES minutes (default 2): every alarm that camsim delivered to a
// session becomes exactly one JPEG, one picture row and one count, with the
// same normal/abnormal split; no JPEG is left without its row. Once with a
// steady alarm service and once with every connection dropped now and then.
// A stop signal while people pass loses none the program took.
// Cameras on 127.0.80.2 to 127.0.80.4.
#include "E2e.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace e2e;

class TestNothingLost : public QObject {
    Q_OBJECT

private slots:
    // Fails the case when a sanitizer reported in camsim or ardenix.
    void cleanup()
    {
        const QStringList reports = e2e::takeSanitizerReports();
        QVERIFY2(reports.isEmpty(), qPrintable(reports.join('\n')));
    }
    void steadyService();
    void droppingService();
    void stopSignalKeepsWhatWasTaken();

private:
    void run(const QString& address, int id, const QStringList& faults);
};

void TestNothingLost::run(const QString& address, int id, const QStringList& faults)
{
    const int minutes = envInt("E2E_MINUTES", 2);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    CamsimProcess camsim(
        dir.filePath("camsim.log"), address, id, QStringList { "--people-per-minute", "60", "--seed", "11" } + faults);
    QVERIFY2(camsim.start(), qPrintable(camsim.log()));
    ArdenixProcess program(dir.path(), address, id);
    QVERIFY(program.start());
    QVERIFY2(program.waitForLog("获取预警成功", 1, 60000), qPrintable(program.log().right(3000)));

    pause(minutes * 60000);
    QVERIFY2(program.running(), qPrintable(program.log().right(3000)));
    // The camera goes first; booked pictures are served from the held frames
    // within a few seconds.
    camsim.stop();
    pause(6000);
    program.stop();

    const QList<SentPerson> persons = camsim.sent();
    const StoredState store = readStore(program.dbPath());
    const QStringList pictures = alarmPictures(program.shotDir());
    qInfo().noquote() << "E2E nothing-lost" << (faults.isEmpty() ? "steady" : faults.join(' ')) << minutes
                      << "min:" << summary(persons, store, pictures)
                      << "registrations=" + QString::number(program.countLog("获取预警成功"));
    QVERIFY2(delivered(persons).size() >= minutes * 30, qPrintable(summary(persons, store, pictures)));
    QVERIFY(store.integrityOk);
    const QString problems = compareDelivered(persons, store, pictures);
    QVERIFY2(problems.isEmpty(), qPrintable(problems));
}

void TestNothingLost::steadyService()
{
    run("127.0.80.2", 31, {});
}

void TestNothingLost::droppingService()
{
    run("127.0.80.3", 32, { "--drop-after", "25" });
}

void TestNothingLost::stopSignalKeepsWhatWasTaken()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    CamsimProcess camsim(
        dir.filePath("camsim.log"), "127.0.80.4", 33, { "--people-per-minute", "300", "--seed", "12" });
    QVERIFY2(camsim.start(), qPrintable(camsim.log()));
    ArdenixProcess program(dir.path(), "127.0.80.4", 33);
    QVERIFY(program.start());
    // Five people a second: a few bookings always wait for their second.
    QVERIFY2(program.waitForLog("viTemp ", 20, 60000), qPrintable(program.log().right(3000)));
    program.stop();
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QVERIFY(program.log().contains("ardenix: signal 15, ending"));

    const int taken = program.countLog("viTemp ");
    const StoredState store = readStore(program.dbPath());
    const QStringList pictures = alarmPictures(program.shotDir());
    qInfo().noquote() << "E2E stop signal: taken" << taken << "rows" << store.rows() << "counted" << store.counted()
                      << "pictures" << pictures.size();
    QVERIFY(store.integrityOk);
    QCOMPARE(store.rows(), taken);
    QCOMPARE(store.counted(), taken);
    QCOMPARE(pictures.size(), taken);
}

QTEST_GUILESS_MAIN(TestNothingLost)
#include "TestNothingLost.moc"
