// Alarm snapshot pictures: their names, the composite of the visible and the
// temperature picture, and the file written for it, including the cases where
// no file may be written.

#include "device/AlarmSnapshot.h"

#include "SnapshotFrames.h"

#include <QImageReader>
#include <QtTest>

#include <memory>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

using namespace snapshotframes;

class TestAlarmSnapshot : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;

    static AlarmSnapshot::Request request(const QString& dir, double temperature, int state, int istate, int id = 3)
    {
        AlarmSnapshot::Request r;
        r.dir = dir;
        r.temperature = temperature;
        r.state = state;
        r.istate = istate;
        r.id = id;
        return r;
    }

    static QStringList filesIn(const QString& dir)
    {
        QStringList files;
        // Hidden files too: a partial write must not stay behind either.
        QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            files << it.next();
        return files;
    }

private slots:
    void init()
    {
        // An empty folder argument writes below the current directory.
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        QVERIFY(QDir::setCurrent(m_dir->path()));
    }

    void cleanup()
    {
        QDir::setCurrent(QDir::tempPath());
        m_dir.reset();
    }

    void names_data()
    {
        QTest::addColumn<QString>("dir");
        QTest::addColumn<double>("temperature");
        QTest::addColumn<int>("state");
        QTest::addColumn<int>("istate");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("partner");
        const QString day = "./ManualScreenshot//2020-05-01/";
        QTest::newRow("Fahrenheit camera, normal")
            << QString() << 37.5 << 0 << 1 << day + "3-37.5-20200501083000-1-1.jpg"
            << day + "3-37.5-20200501083000-1-2.jpg";
        QTest::newRow("Celsius camera") << QString() << 37.5 << 0 << 10 << day + "3-37.5-20200501083000-1-3.jpg"
                                        << day + "3-37.5-20200501083000-1-2.jpg";
        QTest::newRow("tenths as the alarm sends them, abnormal")
            << "/x/Screenshot" << 375.0 << 2 << 10 << "/x/Screenshot/2020-05-01/3-375-20200501083000-2-3.jpg"
            << "/x/Screenshot/2020-05-01/3-375-20200501083000-2-2.jpg";
        QTest::newRow("six significant digits")
            << "d" << 36.666666 << 1 << 0 << "d/2020-05-01/3-36.6667-20200501083000-2-3.jpg"
            << "d/2020-05-01/3-36.6667-20200501083000-2-2.jpg";
        QTest::newRow("a %1 in the folder stays")
            << "a%1b" << 37.0 << 0 << 1 << "a%1b/2020-05-01/3-37-20200501083000-1-1.jpg"
            << "a%1b/2020-05-01/3-37-20200501083000-1-2.jpg";
    }

    void names()
    {
        QFETCH(QString, dir);
        QFETCH(double, temperature);
        QFETCH(int, state);
        QFETCH(int, istate);
        QFETCH(QString, output);
        QFETCH(QString, partner);
        const AlarmSnapshot::Names names
            = AlarmSnapshot::buildNames(request(dir, temperature, state, istate), kSecond * 1000 + 999);
        QCOMPARE(names.output(), output);
        QCOMPARE(names.temperaturePath, partner);
    }

    void namesTheStoreCouldNotSplitAreRefused()
    {
        QVERIFY(AlarmSnapshot::canName(request("d", 0, 0, 1)));
        QVERIFY(!AlarmSnapshot::canName(request("d", -1, 0, 1)));
        QVERIFY(!AlarmSnapshot::canName(request("d", qQNaN(), 0, 1)));
        QVERIFY(!AlarmSnapshot::canName(request("d", qInf(), 0, 1)));
        QVERIFY(!AlarmSnapshot::canName(request("d", 37, 0, 1, -3)));
        QVERIFY(!AlarmSnapshot::write(
            request("d", -1, 0, 1), yuvFrame(16, 16, 80, 128, 128), rgbFrame(4, 4, Qt::red, Qt::red))
                     .ok);
        QVERIFY(!QFileInfo::exists("d"));
    }

    void repeatedSnapshotsTakeNumberedNames()
    {
        const FrameData video = yuvFrame(16, 16, 80, 128, 128);
        const FrameData thermal = rgbFrame(4, 4, Qt::red, Qt::blue);
        const QString day = "./ManualScreenshot//2020-05-01/";
        QStringList written;
        for (int i = 0; i < 3; ++i) {
            const AlarmSnapshot::Result r = AlarmSnapshot::write(request(QString(), 37.5, 0, 1), video, thermal);
            QVERIFY(r.ok);
            QCOMPARE(r.temperaturePath, day + "3-37.5-20200501083000-1-2.jpg");
            QVERIFY(QFileInfo(r.lensfilePath).size() > 0);
            written << r.lensfilePath;
        }
        QCOMPARE(written,
            QStringList({ day + "3-37.5-20200501083000-1-1.jpg", day + "30-37.5-20200501083000-1-1.jpg",
                day + "31-37.5-20200501083000-1-1.jpg" }));
        // No file goes under the thermal partner's name.
        QCOMPARE(filesIn("ManualScreenshot").size(), 3);
    }

    void compositeJoinsBothPictures()
    {
        // BT.601 with luma in 16..235: these values give (37, 116, 162); full
        // range or BT.709 would be several steps off.
        const FrameData video = yuvFrame(64, 48, 100, 160, 90);
        const FrameData thermal = rgbFrame(8, 6, QColor(0x12, 0x34, 0x56), QColor(250, 200, 10));
        const QImage picture = AlarmSnapshot::compose(video, thermal);
        QCOMPARE(picture.size(), QSize(64 + 48, 48));
        const QColor visible(37, 116, 162);
        for (const QPoint p : { QPoint(0, 0), QPoint(63, 47), QPoint(31, 20) })
            QVERIFY2(near(picture.pixel(p), visible, 2), qPrintable(QColor(picture.pixel(p)).name()));
        // The temperature picture is stretched to 48 × 48, its halves kept.
        QCOMPARE(QColor(picture.pixel(64, 0)), QColor(0x12, 0x34, 0x56));
        QCOMPARE(QColor(picture.pixel(64 + 10, 47)), QColor(0x12, 0x34, 0x56));
        QCOMPARE(QColor(picture.pixel(64 + 47, 0)), QColor(250, 200, 10));
        QCOMPARE(QColor(picture.pixel(64 + 37, 30)), QColor(250, 200, 10));
        // In between, smooth scaling blends the two.
        const QColor middle(picture.pixel(64 + 24, 10));
        QVERIFY(middle.red() > 0x12 && middle.red() < 250);

        const QImage grey = AlarmSnapshot::compose(yuvFrame(4, 2, 200, 128, 128), rgbFrame(1, 1, Qt::red, Qt::red));
        QCOMPARE(grey.size(), QSize(6, 2));
        QVERIFY2(near(grey.pixel(1, 1), QColor(214, 214, 214), 1), qPrintable(QColor(grey.pixel(1, 1)).name()));
        QVERIFY(near(AlarmSnapshot::compose(yuvFrame(2, 2, 16, 128, 128), rgbFrame(1, 1, Qt::red, Qt::red)).pixel(0, 0),
            Qt::black, 1));
        QVERIFY(
            near(AlarmSnapshot::compose(yuvFrame(2, 2, 235, 128, 128), rgbFrame(1, 1, Qt::red, Qt::red)).pixel(0, 0),
                Qt::white, 1));
    }

    void oddSizesTakeTheirNeighboursChroma()
    {
        // 5 × 3: chroma for 2 × 1 pixel pairs; the last column and row have
        // none of their own. Left pair blue-ish, right pair red-ish.
        FrameData video = yuvFrame(5, 3, 100, 128, 128);
        char* chroma = video.data.data() + 5 * 3;
        chroma[0] = char(200); // U, left
        chroma[1] = char(60); // U, right
        chroma[2] = char(60); // V, left
        chroma[3] = char(200); // V, right
        const QImage picture = AlarmSnapshot::compose(video, rgbFrame(2, 2, Qt::red, Qt::red));
        QCOMPARE(picture.size(), QSize(5 + 3, 3));
        const QColor right(picture.pixel(3, 0));
        QVERIFY2(right.red() > 150 && right.blue() < 100, qPrintable(right.name()));
        for (const QPoint p : { QPoint(4, 0), QPoint(4, 2), QPoint(3, 2) })
            QVERIFY2(near(picture.pixel(p), right, 24), qPrintable(QColor(picture.pixel(p)).name()));
        const QColor left(picture.pixel(0, 2));
        QVERIFY2(left.blue() > 150 && left.red() < 100, qPrintable(left.name()));
    }

    void writtenFileIsTheComposite()
    {
        const AlarmSnapshot::Result r = AlarmSnapshot::write(request("shots", 375, 1, 10),
            yuvFrame(64, 48, 100, 160, 90), rgbFrame(8, 6, QColor(0x12, 0x34, 0x56), QColor(250, 200, 10)));
        QVERIFY(r.ok);
        QCOMPARE(r.lensfilePath, QString("shots/2020-05-01/3-375-20200501083000-2-3.jpg"));
        QImageReader reader(r.lensfilePath);
        QCOMPARE(reader.format(), QByteArray("jpeg"));
        const QImage read = reader.read();
        QCOMPARE(read.size(), QSize(112, 48));
        QVERIFY(near(read.pixel(20, 20), QColor(37, 116, 162), 4));
        QVERIFY(near(read.pixel(64 + 5, 20), QColor(0x12, 0x34, 0x56), 4));
        QVERIFY(near(read.pixel(64 + 43, 20), QColor(250, 200, 10), 4));
    }

    void picturesAndTheirNewFoldersArePrivate()
    {
        const auto mode = [](const QString& path) {
            struct stat st;
            return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
        };
        // A folder that exists stays as it is; the ones made below it are not.
        QVERIFY(QDir().mkpath("shared"));
        QVERIFY(QFile::setPermissions("shared",
            QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup
                | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther));
        const AlarmSnapshot::Result r = AlarmSnapshot::write(
            request("shared/Screenshot", 37, 0, 1), yuvFrame(16, 16, 80, 128, 128), rgbFrame(4, 4, Qt::red, Qt::blue));
        QVERIFY(r.ok);
        QCOMPARE(mode("shared"), 0755);
        QCOMPARE(mode("shared/Screenshot"), 0700);
        QCOMPARE(mode("shared/Screenshot/2020-05-01"), 0700);
        QCOMPARE(mode(r.lensfilePath), 0600);
    }

    void unusableFramesWriteNothing_data()
    {
        QTest::addColumn<FrameData>("video");
        QTest::addColumn<FrameData>("thermal");
        const FrameData goodVideo = yuvFrame(16, 16, 80, 128, 128);
        const FrameData goodThermal = rgbFrame(4, 4, Qt::red, Qt::blue);
        FrameData shortVideo = goodVideo;
        shortVideo.data.chop(1);
        FrameData oddShort = yuvFrame(15, 9, 80, 128, 128);
        oddShort.data.chop(1);
        FrameData thin = yuvFrame(1, 16, 80, 128, 128);
        FrameData negative = goodVideo;
        negative.width = -16;
        FrameData huge = goodVideo;
        huge.width = 2;
        huge.height = 20000; // the payload would do; the side would not
        huge.data = QByteArray(2 * 20000 * 3 / 2, char(80));
        FrameData shortThermal = goodThermal;
        shortThermal.data.chop(1);
        FrameData zeroThermal = goodThermal;
        zeroThermal.height = 0;
        QTest::newRow("no frames") << FrameData() << FrameData();
        QTest::newRow("no thermal picture") << goodVideo << FrameData();
        QTest::newRow("no video picture") << FrameData() << goodThermal;
        QTest::newRow("video payload one byte short") << shortVideo << goodThermal;
        QTest::newRow("odd size, payload one byte short") << oddShort << goodThermal;
        QTest::newRow("one pixel wide") << thin << goodThermal;
        QTest::newRow("negative width") << negative << goodThermal;
        QTest::newRow("absurd height") << huge << goodThermal;
        QTest::newRow("thermal payload one byte short") << goodVideo << shortThermal;
        QTest::newRow("thermal without height") << goodVideo << zeroThermal;
    }

    void unusableFramesWriteNothing()
    {
        QFETCH(FrameData, video);
        QFETCH(FrameData, thermal);
        QVERIFY(AlarmSnapshot::compose(video, thermal).isNull());
        QVERIFY(!AlarmSnapshot::write(request("bad", 37, 0, 1), video, thermal).ok);
        // Not even the folder is made.
        QVERIFY(!QFileInfo::exists("bad"));
    }

    void unwritableFoldersFail()
    {
        const FrameData video = yuvFrame(16, 16, 80, 128, 128);
        const FrameData thermal = rgbFrame(4, 4, Qt::red, Qt::blue);
        // Below a regular file no folder can ever be made, not even by root.
        QFile plain("plain");
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        QVERIFY(!AlarmSnapshot::write(request("plain/sub", 37, 0, 1), video, thermal).ok);
        QVERIFY(!AlarmSnapshot::write(request("plain", 37, 0, 1), video, thermal).ok);
        // A date folder that exists but refuses writes.
        QVERIFY(QDir().mkpath("locked/2020-05-01"));
        QVERIFY(QFile::setPermissions("locked/2020-05-01", QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        if (geteuid() != 0)
            QVERIFY(!AlarmSnapshot::write(request("locked", 37, 0, 1), video, thermal).ok);
        // The plain name taken by a folder: the next free name is used.
        QVERIFY(QDir().mkpath("taken/2020-05-01/3-37-20200501083000-1-1.jpg"));
        const AlarmSnapshot::Result r = AlarmSnapshot::write(request("taken", 37, 0, 1), video, thermal);
        QVERIFY(r.ok);
        QCOMPARE(r.lensfilePath, QString("taken/2020-05-01/30-37-20200501083000-1-1.jpg"));
        QFile::setPermissions(
            "locked/2020-05-01", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QStringList files = filesIn(".");
        files.sort();
        QCOMPARE(files, QStringList({ "./plain", "./" + r.lensfilePath }));
    }

    void simultaneousWritersNeverShareAName()
    {
        const FrameData video = yuvFrame(64, 48, 80, 128, 128);
        const FrameData thermal = rgbFrame(8, 8, Qt::red, Qt::blue);
        constexpr int kThreads = 4;
        constexpr int kEach = 6;
        std::vector<QStringList> written(kThreads);
        std::vector<std::thread> writers;
        for (int t = 0; t < kThreads; ++t) {
            writers.emplace_back([&, t] {
                for (int i = 0; i < kEach; ++i) {
                    const AlarmSnapshot::Result r = AlarmSnapshot::write(request("same", 37, 0, 1), video, thermal);
                    if (r.ok)
                        written[t] << r.lensfilePath;
                }
            });
        }
        for (std::thread& writer : writers)
            writer.join();
        QStringList all;
        for (const QStringList& paths : written)
            all += paths;
        QCOMPARE(all.size(), kThreads * kEach);
        QCOMPARE(QSet<QString>(all.begin(), all.end()).size(), all.size());
        // Every file is a whole picture, and nothing else is left.
        for (const QString& path : qAsConst(all))
            QCOMPARE(QImageReader(path).size(), QSize(64 + 48, 48));
        QCOMPARE(filesIn("same").size(), all.size());
    }

    void leftoversOfCutWritesAreRemovedOnceAbandoned()
    {
        const QString today = "shots/" + QDate::currentDate().toString("yyyy-MM-dd");
        const QString lastWeek = "shots/" + QDate::currentDate().addDays(-6).toString("yyyy-MM-dd");
        QVERIFY(QDir().mkpath(today));
        QVERIFY(QDir().mkpath(lastWeek));
        // Years back the folders are not read at all.
        QVERIFY(QDir().mkpath("shots/2020-05-01"));
        const QStringList partials { lastWeek + "/.snapshot-a1b2c3.part", today + "/.snapshot-d4e5f6.part",
            today + "/.snapshot-young1.part", "shots/2020-05-01/.snapshot-e7f8a9.part" };
        for (const QString& path : partials) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("\xFF\xD8 cut off");
        }
        // An alarm picture beside them stays, whatever its age.
        QFile picture(lastWeek + "/3-37-20200501083000-1-3.jpg");
        QVERIFY(picture.open(QIODevice::WriteOnly));
        picture.close();
        const QDateTime old = QDateTime::currentDateTime().addSecs(-3600);
        for (const QString& path : { partials[0], partials[1], partials[3], picture.fileName() }) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(old, QFileDevice::FileModificationTime));
        }
        QCOMPARE(AlarmSnapshot::removeLeftovers("shots"), 2);
        QStringList left = filesIn("shots");
        left.sort();
        // The young one may be a write still going on in another program.
        QStringList expected { picture.fileName(), partials[2], partials[3] };
        expected.sort();
        QCOMPARE(left, expected);
        QCOMPARE(AlarmSnapshot::removeLeftovers("no-such-folder"), 0);
    }
};

QTEST_GUILESS_MAIN(TestAlarmSnapshot)
#include "TestAlarmSnapshot.moc"
