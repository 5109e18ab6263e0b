// The H.264 decoder thread's pictures against the reference decoder's, byte
// for byte, on the camera simulator's camera-like stream: sizes decoded
// straight into the payload and sizes packed by a copy, payloads held by a
// consumer for the whole stream, and a consumer that writes to one.

#include "media/DecodedPicture.h"
#include "media/H264Context.h"
#include "media/VideoDecoders.h"
#include "TestPatience.h"

#include "Crowd.h"
#include "Scene.h"
#include "VideoEncoder.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <functional>
#include <limits>
#include <mutex>
#include <vector>

namespace {

struct Clip {
    int width = 0;
    int height = 0;
    QList<FrameData> frames; // coded, one picture each
    QString path; // the same pictures as an Annex-B file
};

// `pictures` of the camera-like scene at 2 Mbit/s, a key frame every 25.
bool writeClip(const QString& path, int width, int height, int pictures, Clip& clip)
{
    camsim::Crowd crowd(30, 0.2, 7);
    camsim::Scene scene(crowd, width, height, 2, 2, camsim::SceneLook::Sensor);
    camsim::VideoEncoder encoder(camsim::VideoCodec::H264, width, height, 25, 25, 2048);
    if (!encoder.ok())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    clip.width = width;
    clip.height = height;
    clip.path = path;
    for (int i = 0; i < pictures; ++i) {
        std::vector<camsim::EncodedPicture> coded;
        // Late in the crowd's cycle, so that a person walks through the clip.
        if (!encoder.encode(scene.renderVideo(1500 + i * 40, i, false), coded))
            return false;
        for (const auto& c : coded) {
            FrameData f;
            f.type = c.key ? 0 : 1;
            f.frameRate = 25;
            f.width = width;
            f.height = height;
            f.data = QByteArray(reinterpret_cast<const char*>(c.data.data()), int(c.data.size()));
            clip.frames.append(f);
            file.write(f.data);
        }
    }
    return clip.frames.size() == pictures;
}

// The reference decoder's pictures of the clip as one run of planar 4:2:0.
QByteArray referencePictures(const QString& ffmpeg, const QString& clip)
{
    QProcess p;
    p.start(ffmpeg, { "-v", "error", "-threads", "1", "-i", clip, "-pix_fmt", "yuv420p", "-f", "rawvideo", "-" });
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return QByteArray();
    return p.readAllStandardOutput();
}

// Collects decoded frames on the decoder thread itself.
struct Collector {
    std::mutex mutex;
    QList<FrameData> frames;

    int count()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return frames.size();
    }
};

} // namespace

class TestDecodedPictures : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_ffmpeg;

    // Decodes the clip on an H.264 decoder thread; `touch` runs on the
    // collecting side after each picture.
    QList<FrameData> decodeOnThread(const Clip& clip, const std::function<void(QList<FrameData>&)>& touch = {})
    {
        Collector sink;
        H264Decoder decoder;
        QObject::connect(
            &decoder, &FrameDecoder::sigDecodedFrame, &decoder,
            [&sink, &touch](const FrameData& f) {
                std::lock_guard<std::mutex> lock(sink.mutex);
                sink.frames.append(f);
                if (touch)
                    touch(sink.frames);
            },
            Qt::DirectConnection);
        // Fed one at a time, so that a consumer's write lands between two decodes.
        for (const FrameData& f : clip.frames) {
            const int before = sink.count();
            decoder.addFrame(f);
            QElapsedTimer waited;
            waited.start();
            while (sink.count() == before && waited.elapsed() < patient(10000))
                QTest::qWait(2);
        }
        std::lock_guard<std::mutex> lock(sink.mutex);
        return sink.frames;
    }

    void compareWithReference(const Clip& clip, const QList<FrameData>& decoded, int skipIndex = -1)
    {
        const QByteArray reference = referencePictures(m_ffmpeg, clip.path);
        const int pictureBytes = int(packedYuv420Size(clip.width, clip.height));
        QCOMPARE(reference.size(), pictureBytes * clip.frames.size());
        QCOMPARE(decoded.size(), clip.frames.size());
        for (int i = 0; i < decoded.size(); ++i) {
            if (i == skipIndex)
                continue;
            QCOMPARE(decoded[i].width, clip.width);
            QCOMPARE(decoded[i].height, clip.height);
            QVERIFY2(decoded[i].data == reference.mid(i * pictureBytes, pictureBytes),
                qPrintable(QString("picture %1 of %2x%3 differs").arg(i).arg(clip.width).arg(clip.height)));
        }
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_ffmpeg = QStandardPaths::findExecutable("ffmpeg");
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
            if (type != QtDebugMsg)
                fprintf(stderr, "%s\n", qPrintable(message));
        });
    }

    // 1280 x 720 is coded at its own size and decoded in place; 640 x 360 and
    // 1920 x 1080 are coded 8 lines taller and packed by a copy.
    void picturesMatchTheReferenceDecoder_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<bool>("inPlace");
        QTest::newRow("1280x720") << 1280 << 720 << true;
        QTest::newRow("640x480") << 640 << 480 << true;
        QTest::newRow("640x360") << 640 << 360 << false;
        QTest::newRow("1920x1080") << 1920 << 1080 << false;
    }

    void picturesMatchTheReferenceDecoder()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(bool, inPlace);
        if (m_ffmpeg.isEmpty())
            QSKIP("needs ffmpeg");
        Clip clip;
        QVERIFY(writeClip(m_dir.filePath(QString("clip-%1x%2.h264").arg(width).arg(height)), width, height, 30, clip));

        // Whether the engine lent its picture buffer as the payload.
        H264Context* context = nullptr;
        QCOMPARE(openH264Context(27, &context), 0);
        DecodedPicture picture;
        QCOMPARE(decodeH264Packet(context, picture, reinterpret_cast<const uint8_t*>(clip.frames[0].data.constData()),
                     clip.frames[0].data.size()),
            0);
        QCOMPARE(!picture.payload.isNull(), inPlace);
        closeH264Context(context);

        // Every payload is held to the end: none may be reused while held.
        compareWithReference(clip, decodeOnThread(clip));
    }

    // A consumer that writes into a payload writes into a copy of its own: the
    // decoder's reference picture, and so every later picture, stays intact.
    void aConsumerThatWritesGetsItsOwnCopy()
    {
        if (m_ffmpeg.isEmpty())
            QSKIP("needs ffmpeg");
        Clip clip;
        QVERIFY(writeClip(m_dir.filePath("clip-written.h264"), 640, 480, 10, clip));
        const QList<FrameData> decoded = decodeOnThread(clip, [](QList<FrameData>& frames) {
            if (frames.size() == 3)
                std::fill(frames[2].data.begin(), frames[2].data.end(), char(0x5a));
        });
        QVERIFY(decoded.size() == clip.frames.size());
        QVERIFY(decoded[2].data == QByteArray(decoded[2].data.size(), char(0x5a)));
        compareWithReference(clip, decoded, 2);
    }

    // The payload buffers' first byte sits on the alignment vector code needs,
    // and a write through a held copy leaves the other holder's bytes alone.
    void alignedPayloadsBehaveAsByteArrays()
    {
        QByteArray a = alignedPayload(1000, 64);
        QVERIFY(!a.isNull());
        QCOMPARE(a.size(), 1000);
        QCOMPARE(quintptr(a.constData()) % kPayloadAlignment, quintptr(0));
        std::memset(const_cast<char*>(a.constData()), 7, 1000);
        QByteArray b = a;
        b[0] = 9;
        QCOMPARE(a.at(0), char(7));
        QCOMPARE(b.at(0), char(9));
        b.append("more");
        QCOMPARE(b.size(), 1004);
        QCOMPARE(a.size(), 1000);
        QVERIFY(alignedPayload(-1, 0).isNull());
        QVERIFY(alignedPayload(std::numeric_limits<int>::max(), 1).isNull());
    }
};

QTEST_GUILESS_MAIN(TestDecodedPictures)
#include "TestDecodedPictures.moc"
