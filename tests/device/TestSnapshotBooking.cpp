// Alarm snapshots through the preview worker: immediate ones from the frames
// held, and bookings served by the first decoded frame 1.5 s into their
// second, one file and one report each, in order; bookings that no frame
// serves; failures reported with an empty path.

#include "device/Device.h"
#include "device/DevicePreview.h"
#include "device/SnapshotBookings.h"
#include "device/SnapshotWriter.h"
#include "TestPatience.h"

#include "PreviewSink.h"
#include "SnapshotFrames.h"

#include "KV_DeviceTypes.h"

#include <QtTest>

#include <future>
#include <memory>
#include <mutex>

using namespace snapshotframes;

namespace {

struct Report {
    double temperature;
    QString lensfilePath;
    QString temperaturePath;
    int state;
};

const qint64 T = kSecond;

} // namespace

class TestSnapshotBooking : public QObject {
    Q_OBJECT

    DeviceRecord m_record;
    DevicePreview* m_preview = nullptr;
    PreviewSink* m_sink = nullptr;
    std::unique_ptr<QTemporaryDir> m_dir;
    QList<Report> m_reports;

    void start()
    {
        QMetaObject::invokeMethod(m_preview, "StartPreview", Qt::QueuedConnection, Q_ARG(LoginInfoPtr, LoginInfoPtr()),
            Q_ARG(bool, true), Q_ARG(bool, false));
        QTRY_VERIFY_WITH_TIMEOUT(m_preview->isRunning(), patient(5000));
        // Decoded pictures are only taken while a video decoder exists; this
        // frame makes one and decodes to nothing.
        KV::Protocol::Device::FrameData coded;
        coded.frameType = 0;
        coded.data = { 0, 0, 0, 1, 0x65, 0x88, 0x84, 0x00 };
        m_preview->onSdkFrame(coded);
    }

    // Hands a decoded picture to the worker as its decoder would, and waits
    // until it is the current one.
    void showVideo(const FrameData& frame)
    {
        const int before = m_sink->videoCount;
        QMetaObject::invokeMethod(
            m_preview, "onSigDecodedFrameV", Qt::QueuedConnection, Q_ARG(Device::FrameData, frame));
        QTRY_COMPARE_WITH_TIMEOUT(m_sink->videoCount, before + 1, patient(5000));
    }

    void showThermal(QColor left = Qt::red, QColor right = Qt::blue)
    {
        m_preview->onSigDecodedFrameO(rgbFrame(8, 6, left, right), 36.5);
    }

    bool book(double temperature, int state, qint64 second, const QString& dir = QString())
    {
        QString lens;
        QString partner;
        return m_preview->bookSnapshot(
            dir.isEmpty() ? m_dir->path() : dir, temperature, lens, partner, state, 10, int(second));
    }

    QStringList files() const
    {
        QStringList out;
        QDirIterator it(m_dir->path(), QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            out << it.next();
        out.sort();
        return out;
    }

private slots:
    void initTestCase() { Device::registerMetaTypes(); }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_reports.clear();
        m_record = DeviceRecord();
        m_record.id = 7;
        m_preview = new DevicePreview(&m_record);
        m_sink = new PreviewSink(m_preview);
        connect(
            m_preview, &DevicePreview::sigTempScreenshotResult, this,
            [this](double t, QString lens, QString partner, int state) {
                m_reports.append({ t, lens, partner, state });
            },
            Qt::QueuedConnection);
    }

    void cleanup()
    {
        delete m_preview;
        delete m_sink;
        m_dir.reset();
    }

    void immediateSnapshotNeedsARunningStreamAndFrames()
    {
        QString lens = "untouched";
        QString partner = "untouched";
        QVERIFY(!m_preview->takeSnapshot(m_dir->path(), 375, lens, partner, 0, 1));
        start();
        QVERIFY(!m_preview->takeSnapshot(m_dir->path(), 375, lens, partner, 0, 1));
        showVideo(yuvFrame(64, 48, 100, 160, 90));
        QVERIFY(!m_preview->takeSnapshot(m_dir->path(), 375, lens, partner, 0, 1));
        QCOMPARE(lens, QString("untouched"));
        QVERIFY(files().isEmpty());
        QVERIFY(QDir(m_dir->path()).entryList(QDir::AllDirs | QDir::NoDotAndDotDot).isEmpty());

        showThermal();
        QVERIFY(m_preview->takeSnapshot(m_dir->path(), 375, lens, partner, 0, 1));
        const QString day = m_dir->path() + "/2020-05-01/";
        QCOMPARE(lens, day + "7-375-20200501083000-1-1.jpg");
        QCOMPARE(partner, day + "7-375-20200501083000-1-2.jpg");
        QCOMPARE(files(), QStringList({ lens }));
        QCOMPARE(QImage(lens).size(), QSize(64 + 48, 48));
        QVERIFY(m_reports.isEmpty());
    }

    void bookingForAPassedSecondIsRefused()
    {
        start();
        showThermal();
        showVideo(yuvFrame(64, 48, 80, 128, 128, (T + 2) * 1000 + 300));
        QVERIFY(!book(375, 0, T + 1));
        QVERIFY(book(376, 0, T + 2)); // the current second is not passed yet
        showVideo(yuvFrame(64, 48, 80, 128, 128, (T + 3) * 1000 + 500));
        // The next booking's answer comes after any the refused one had.
        QVERIFY(book(377, 0, T + 4));
        showVideo(yuvFrame(64, 48, 80, 128, 128, (T + 5) * 1000 + 500));
        QTRY_VERIFY_WITH_TIMEOUT(m_reports.size() >= 2, patient(5000));
        QCOMPARE(m_reports.size(), 2);
        QCOMPARE(m_reports[0].temperature, 376.0);
        QCOMPARE(m_reports[1].temperature, 377.0);
    }

    void bookingIsServedOneAndAHalfSecondsIntoItsSecond()
    {
        start();
        showThermal();
        const FrameData grey = yuvFrame(64, 48, 126, 128, 128, T * 1000);
        showVideo(grey);
        QVERIFY(book(372, 2, T));
        FrameData early = grey;
        early.pts = T * 1000 + 1499;
        showVideo(early);
        showVideo(yuvFrame(64, 48, 100, 160, 90, T * 1000 + 1500));
        QTRY_VERIFY_WITH_TIMEOUT(!m_reports.isEmpty(), patient(5000));
        QCOMPARE(m_reports.size(), 1);
        const Report& r = m_reports[0];
        QCOMPARE(r.temperature, 372.0);
        QCOMPARE(r.state, 2);
        const QString day = m_dir->path() + "/2020-05-01/";
        QCOMPARE(r.lensfilePath, day + "7-372-20200501083001-2-3.jpg");
        QCOMPARE(r.temperaturePath, day + "7-372-20200501083001-2-2.jpg");
        // The picture is the serving frame's, not the earlier one's.
        const QImage written(r.lensfilePath);
        QCOMPARE(written.size(), QSize(112, 48));
        QVERIFY(near(written.pixel(20, 20), QColor(37, 116, 162), 4));
        QVERIFY(near(written.pixel(64 + 3, 20), Qt::red, 8));
    }

    void everyBookingIsServedInOrder()
    {
        start();
        showThermal();
        showVideo(yuvFrame(64, 48, 80, 128, 128, T * 1000 + 100));
        // Two people half a second apart, and one a second later.
        QVERIFY(book(365, 0, T));
        QVERIFY(book(372, 2, T));
        QVERIFY(book(380, 0, T + 1));
        showVideo(yuvFrame(64, 48, 80, 128, 128, T * 1000 + 1600));
        QTRY_VERIFY_WITH_TIMEOUT(m_reports.size() >= 2, patient(5000));
        showVideo(yuvFrame(64, 48, 80, 128, 128, T * 1000 + 2600));
        QTRY_VERIFY_WITH_TIMEOUT(m_reports.size() >= 3, patient(5000));
        QCOMPARE(m_reports.size(), 3);
        // The last one waited for the frame of its own second.
        QVERIFY2(m_reports[2].lensfilePath.contains("-20200501083002-"), qPrintable(m_reports[2].lensfilePath));
        QStringList written;
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(m_reports[i].temperature, QList<double>({ 365, 372, 380 })[i]);
            QCOMPARE(m_reports[i].state, QList<int>({ 0, 2, 0 })[i]);
            QVERIFY(QFileInfo(m_reports[i].lensfilePath).size() > 0);
            written << m_reports[i].lensfilePath;
        }
        written.sort();
        QCOMPARE(files(), written);
    }

    void sameSecondSameTemperatureGetsTwoFiles()
    {
        start();
        showThermal();
        showVideo(yuvFrame(64, 48, 80, 128, 128, T * 1000));
        QVERIFY(book(365, 0, T));
        QVERIFY(book(365, 0, T));
        showVideo(yuvFrame(64, 48, 80, 128, 128, T * 1000 + 1500));
        QTRY_COMPARE_WITH_TIMEOUT(m_reports.size(), 2, patient(5000));
        const QString day = m_dir->path() + "/2020-05-01/";
        QCOMPARE(m_reports[0].lensfilePath, day + "7-365-20200501083001-1-3.jpg");
        QCOMPARE(m_reports[1].lensfilePath, day + "70-365-20200501083001-1-3.jpg");
    }

    void overdueBookingIsServedFromTheFramesHeld()
    {
        start();
        showThermal();
        showVideo(yuvFrame(64, 48, 100, 160, 90, T * 1000 + 200));
        QElapsedTimer booked;
        booked.start();
        QVERIFY(book(375, 2, T));
        // The stream stops here. The booking falls due 1.3 s on and is
        // served a few seconds after that, not at once.
        QTRY_VERIFY_WITH_TIMEOUT(!m_reports.isEmpty(), patient(10000));
        QVERIFY2(booked.elapsed() >= 1300, qPrintable(QString::number(booked.elapsed())));
        QCOMPARE(m_reports.size(), 1);
        QCOMPARE(m_reports[0].lensfilePath, m_dir->path() + "/2020-05-01/7-375-20200501083000-2-3.jpg");
        QCOMPARE(files(), QStringList({ m_reports[0].lensfilePath }));
        QVERIFY(near(QImage(m_reports[0].lensfilePath).pixel(20, 20), QColor(37, 116, 162), 4));
    }

    void bookingWithoutAnyFramesReportsFailure()
    {
        start();
        QVERIFY(book(375, 2, T));
        QTRY_COMPARE_WITH_TIMEOUT(m_reports.size(), 1, patient(10000));
        QVERIFY(m_reports[0].lensfilePath.isEmpty());
        QVERIFY(m_reports[0].temperaturePath.isEmpty());
        QCOMPARE(m_reports[0].temperature, 375.0);
        QCOMPARE(m_reports[0].state, 2);
        QVERIFY(QDir(m_dir->path()).isEmpty());
    }

    void unwritableFolderReportsFailure()
    {
        start();
        showThermal();
        showVideo(yuvFrame(64, 48, 80, 128, 128, T * 1000));
        QFile plain(m_dir->filePath("plain"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        const QString below = plain.fileName() + "/sub";
        QVERIFY(book(375, 0, T, below));
        QVERIFY(book(376, 0, T)); // the next booking is unaffected
        showVideo(yuvFrame(64, 48, 80, 128, 128, T * 1000 + 1500));
        QTRY_COMPARE_WITH_TIMEOUT(m_reports.size(), 2, patient(5000));
        QVERIFY(m_reports[0].lensfilePath.isEmpty());
        QVERIFY(QFileInfo(m_reports[1].lensfilePath).size() > 0);
        QString lens;
        QString partner;
        QVERIFY(!m_preview->takeSnapshot(below, 375, lens, partner, 0, 1));
        QVERIFY(lens.isEmpty());
        QStringList expected { plain.fileName(), m_reports[1].lensfilePath };
        expected.sort();
        QCOMPARE(files(), expected);
    }

    void endedSessionServesWhatWaitsAndRefusesMore()
    {
        start();
        showThermal();
        showVideo(yuvFrame(64, 48, 100, 160, 90, T * 1000 + 200));
        QVERIFY(book(375, 2, T + 5));
        QVERIFY(m_preview->queueSnapshot(m_dir->path(), 376, 0, 10));
        QVERIFY(m_preview->endSnapshots(true));
        // Written by the time the call returns, from the frames held.
        QCOMPARE(files().size(), 2);
        QVERIFY(!book(377, 0, T + 6));
        QVERIFY(!m_preview->queueSnapshot(m_dir->path(), 378, 0, 10));
        QTRY_COMPARE_WITH_TIMEOUT(m_reports.size(), 2, patient(5000));
        // The queued one went to the writer first.
        QCOMPARE(m_reports[0].temperature, 376.0);
        QCOMPARE(m_reports[1].lensfilePath, m_dir->path() + "/2020-05-01/7-375-20200501083000-2-3.jpg");
        QCOMPARE(files(), QStringList({ m_reports[1].lensfilePath, m_reports[0].lensfilePath }));

        // Destroying a preview does the same.
        cleanup();
        init();
        start();
        showThermal();
        showVideo(yuvFrame(64, 48, 100, 160, 90, T * 1000 + 200));
        QVERIFY(book(379, 0, T + 5));
        delete m_preview;
        m_preview = nullptr;
        QTRY_COMPARE_WITH_TIMEOUT(m_reports.size(), 1, patient(5000));
        QCOMPARE(QFileInfo(m_reports[0].lensfilePath).fileName(), QString("7-379-20200501083000-1-3.jpg"));
    }

    void writerOutOfTimeAnswersTheRestAsFailed()
    {
        std::mutex lock;
        QList<QPair<int, bool>> answers;
        const auto answer = [&](int job, bool write) {
            std::lock_guard<std::mutex> locker(lock);
            answers.append({ job, write });
        };
        std::promise<void> started;
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        {
            SnapshotWriter writer;
            writer.post([&](bool write) {
                started.set_value();
                released.wait(); // a write that hangs
                answer(1, write);
            });
            writer.post([&](bool write) { answer(2, write); });
            started.get_future().wait();
            writer.finishWithin(50);
            QVERIFY(!writer.waitIdle());
            writer.post([&](bool write) { answer(3, write); });
            release.set_value();
        }
        QCOMPARE(answers, (QList<QPair<int, bool>> { { 2, false }, { 1, true }, { 3, false } }));
    }

    void deviceForwardsRequestsAndReports()
    {
        DeviceRecord record;
        record.id = 9;
        Device device(record);
        QList<Report> reports;
        connect(&device, &Device::sigTempScreenshotResult, this,
            [&reports](double t, QString lens, QString partner, int state) {
                reports.append({ t, lens, partner, state });
            });
        QString lens;
        QString partner;
        // Without a stream nothing is taken at once; a booking is accepted
        // and, with no frame ever, answered as failed.
        QVERIFY(!device.screenshot(m_dir->path(), 375, lens, partner, 0, 10, 0));
        QVERIFY(device.screenshot(m_dir->path(), 381, lens, partner, 1, 10, int(T)));
        QTRY_COMPARE_WITH_TIMEOUT(reports.size(), 1, patient(10000));
        QCOMPARE(reports[0].temperature, 381.0);
        QCOMPARE(reports[0].state, 1);
        QVERIFY(reports[0].lensfilePath.isEmpty());
    }

    void bookingRules_data()
    {
        QTest::addColumn<qint64>("pts");
        QTest::addColumn<qint64>("second");
        QTest::addColumn<bool>("serves");
        QTest::newRow("1.499 s in") << T * 1000 + 1499 << T << false;
        QTest::newRow("1.5 s in") << T * 1000 + 1500 << T << true;
        QTest::newRow("later seconds") << T * 1000 + 9000 << T << true;
        QTest::newRow("an earlier second") << T * 1000 + 1500 << T + 1 << false;
    }

    void bookingRules()
    {
        QFETCH(qint64, pts);
        QFETCH(qint64, second);
        QFETCH(bool, serves);
        QCOMPARE(SnapshotBookings::serves(pts, second), serves);
    }

    void dueTimes()
    {
        const qint64 now = 50000;
        QCOMPARE(SnapshotBookings::dueTime(T, T * 1000 + 200, now), now + 1300);
        QCOMPARE(SnapshotBookings::dueTime(T, T * 1000 + 5000, now), now); // served by the next frame
        QCOMPARE(SnapshotBookings::dueTime(T, 0, now), now + 1500); // no frame yet
        // A clock hours off does not hold the person back for hours.
        QCOMPARE(SnapshotBookings::dueTime(T + 8 * 3600, T * 1000, now), now + SnapshotBookings::kMaxLeadMs);

        SnapshotBookings bookings;
        SnapshotBooking b;
        for (int i = 0; i < SnapshotBookings::kMaxPending; ++i) {
            b.request.temperature = i;
            b.dueMs = i % 2 ? now : now + 10000;
            QVERIFY(bookings.add(b));
        }
        QVERIFY(!bookings.add(b));
        const std::vector<SnapshotBooking> overdue = bookings.takeOverdue(now + 3001, 3000);
        QCOMPARE(int(overdue.size()), SnapshotBookings::kMaxPending / 2);
        QCOMPARE(overdue.front().request.temperature, 1.0);
        QCOMPARE(overdue.back().request.temperature, double(SnapshotBookings::kMaxPending - 1));
        QCOMPARE(bookings.size(), SnapshotBookings::kMaxPending / 2);
    }
};

QTEST_GUILESS_MAIN(TestSnapshotBooking)
#include "TestSnapshotBooking.moc"
