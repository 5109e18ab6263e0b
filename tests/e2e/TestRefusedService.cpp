// The real ardenix program against camsim whose alarm service refuses every
// login (127.0.80.40): the alarm link logs the camera in again now and then
// to get a fresh login value, and the stream goes on through it. When the
// video then stops, the stall watch's re-login brings it back.
#include "E2e.h"
#include "TestPatience.h"

#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace e2e;

namespace {

// Seconds of video each stream carries.
constexpr int kVideoSeconds = 50;

// Share of sampled pixels that differ clearly between two screenshots of
// the test's Xvfb a second apart: above a few per mille, the picture moves.
double movingShare(const QString& dir)
{
    QImage shots[2];
    for (int i = 0; i < 2; ++i) {
        if (i)
            pause(1000);
        QProcess import;
        const QString path = dir + QStringLiteral("/moving-%1.png").arg(i);
        import.start("import", { "-window", "root", path });
        if (!import.waitForFinished(patient(15000)))
            return 0;
        shots[i] = QImage(path);
    }
    if (shots[0].isNull() || shots[0].size() != shots[1].size())
        return 0;
    int changed = 0;
    int total = 0;
    for (int y = 0; y < shots[0].height(); y += 6) {
        for (int x = 0; x < shots[0].width(); x += 6) {
            ++total;
            changed += qAbs(qGray(shots[0].pixel(x, y)) - qGray(shots[1].pixel(x, y))) > 24;
        }
    }
    return total ? double(changed) / total : 0;
}

} // namespace

class TestRefusedService : public QObject {
    Q_OBJECT

private slots:
    // Fails the case when a sanitizer reported in camsim or ardenix.
    void cleanup()
    {
        const QStringList reports = e2e::takeSanitizerReports();
        QVERIFY2(reports.isEmpty(), qPrintable(reports.join('\n')));
    }
    void streamStaysThroughRefreshedLogins();
};

void TestRefusedService::streamStaysThroughRefreshedLogins()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    CamsimProcess camsim(dir.filePath("camsim.log"), "127.0.80.40", 46,
        { "--people-per-minute", "20", "--refuse-alarm-logins", "--stop-video-after", QString::number(kVideoSeconds) });
    QVERIFY2(camsim.start(), qPrintable(camsim.log()));
    ArdenixProcess program(dir.path(), "127.0.80.40", 46);
    QVERIFY(program.start());
    QElapsedTimer clock;
    clock.start();
    while (!camsim.log().contains("preview opened") && clock.elapsed() < patient(30000))
        pause(200);
    QVERIFY2(camsim.log().contains("preview opened"), qPrintable(camsim.log().right(2000)));

    // Most of the first stream's video: the alarm link refreshes the login
    // now and then, and the stream is left running.
    pause(kVideoSeconds * 1000 - 5000);
    const int opened = camsim.log().count("preview opened");
    const int refreshed = program.countLog("刷新登录句柄");
    const double moving = movingShare(dir.path());

    // The video stops; the stall watch logs in again and restarts it.
    clock.restart();
    while (camsim.log().count("preview opened") < 2 && clock.elapsed() < patient(30000))
        pause(200);
    const qint64 restartMs = clock.elapsed();
    double back = 0;
    while (back <= 0.004 && clock.elapsed() < patient(40000))
        back = movingShare(dir.path());
    qInfo().noquote() << "E2E refused-service streams opened" << opened << "login refreshes" << refreshed
                      << "moving share" << moving << "; video stopped: restart after" << restartMs
                      << "ms, picture back after" << clock.elapsed() << "ms, share" << back;
    QCOMPARE(opened, 1);
    QVERIFY2(refreshed >= 2, "the alarm link did not refresh the login");
    QVERIFY2(moving > 0.004, "the picture did not move while the stream ran");
    QCOMPARE(camsim.log().count("preview opened"), 2);
    QVERIFY2(back > 0.004, "the picture did not come back");
    QVERIFY(program.running());
}

QTEST_GUILESS_MAIN(TestRefusedService)
#include "TestRefusedService.moc"
