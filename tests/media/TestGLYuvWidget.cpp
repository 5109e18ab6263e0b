// The video widget on a real GL context (Xvfb): colours from the shader, the
// fitted viewport with bars, which frames it takes, and payloads that do not
// match their stated size.

#include "media/GLYuvWidget.h"

#include <QImage>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

const qint32 kVideo = 1; // a decoded H.264 picture
const qint32 kThermal = 10;

class TestSource : public FrameSource {
    Q_OBJECT
public:
    void send(const FrameData& frame) { emit sigGotFrameV(frame); }
    int connections() const { return receivers(SIGNAL(sigGotFrameV(FrameData))); }
};

// Planar 4:2:0 with one Y value left of column `split` and another from there on.
FrameData yuvFrame(int w, int h, int yLeft, int yRight, int u, int v, int split = -1)
{
    FrameData frame;
    frame.type = kVideo;
    frame.width = w;
    frame.height = h;
    const int lumaSize = w * h;
    const int chromaSize = (w / 2) * (h / 2);
    frame.data = QByteArray(lumaSize + 2 * chromaSize, '\0');
    char* p = frame.data.data();
    for (int row = 0; row < h; ++row)
        for (int col = 0; col < w; ++col)
            p[row * w + col] = static_cast<char>(split >= 0 && col >= split ? yRight : yLeft);
    std::fill(p + lumaSize, p + lumaSize + chromaSize, static_cast<char>(u));
    std::fill(p + lumaSize + chromaSize, p + lumaSize + 2 * chromaSize, static_cast<char>(v));
    return frame;
}

FrameData flatYuv(int w, int h, int y, int u, int v)
{
    return yuvFrame(w, h, y, y, u, v);
}

// The colour the widget's conversion gives for 8-bit Y, U, V.
QColor expectedRgb(int y, int u, int v)
{
    const double Y = y / 255.0;
    const double U = u / 255.0 - 0.5;
    const double V = v / 255.0 - 0.5;
    auto channel = [](double c) { return static_cast<int>(std::lround(std::clamp(c, 0.0, 1.0) * 255.0)); };
    return QColor(channel(Y + 1.13983 * V), channel(Y - 0.39465 * U - 0.58060 * V), channel(Y + 2.03211 * U));
}

bool near(QRgb actual, const QColor& expected, int tolerance = 4)
{
    return std::abs(qRed(actual) - expected.red()) <= tolerance
        && std::abs(qGreen(actual) - expected.green()) <= tolerance
        && std::abs(qBlue(actual) - expected.blue()) <= tolerance;
}

QString describe(QRgb c)
{
    return QString("(%1, %2, %3)").arg(qRed(c)).arg(qGreen(c)).arg(qBlue(c));
}

#define COMPARE_COLOUR(image, x, y, expected)                                                                          \
    QVERIFY2(near((image).pixel((x), (y)), (expected)),                                                                \
        qPrintable(QString("pixel (%1, %2) is %3, expected %4")                                                        \
                       .arg(x)                                                                                         \
                       .arg(y)                                                                                         \
                       .arg(describe((image).pixel((x), (y))))                                                         \
                       .arg(describe((expected).rgb()))))

const QColor kBlack(0, 0, 0);

} // namespace

class TestGLYuvWidget : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<GLYuvWidget> shownWidget(int pixelType, int w, int h)
    {
        auto widget = std::make_unique<GLYuvWidget>(pixelType);
        widget->resize(w, h);
        widget->show();
        if (!QTest::qWaitForWindowExposed(widget.get()))
            return nullptr;
        return widget;
    }

private slots:
    void initTestCase() { registerFrameMetaType(); }

    void showsShaderColourWithBars()
    {
        auto widget = shownWidget(1, 320, 240);
        QVERIFY(widget);
        TestSource source;
        widget->setDevice(&source);
        QVERIFY(widget->isActive());

        // 16:9 in 4:3: 320 x 180 with 30-pixel bars above and below. The top
        // half is brighter, so an upside-down picture shows too.
        FrameData frame = flatYuv(64, 36, 60, 90, 170);
        std::fill(frame.data.data(), frame.data.data() + 64 * 18, static_cast<char>(200));
        source.send(frame);
        QCOMPARE(widget->framesAccepted(), quint64(1));
        const QImage image = widget->grabFramebuffer();
        QCOMPARE(widget->lastViewport(), QRect(0, 30, 320, 180));
        COMPARE_COLOUR(image, 160, 70, expectedRgb(200, 90, 170));
        COMPARE_COLOUR(image, 160, 170, expectedRgb(60, 90, 170));
        COMPARE_COLOUR(image, 5, 35, expectedRgb(200, 90, 170));
        for (int y : { 0, 28, 211, 239 })
            COMPARE_COLOUR(image, 160, y, kBlack);
        QCOMPARE(widget->framesPainted(), quint64(1));
    }

    void showsThermalRgbAsItIs()
    {
        auto widget = shownWidget(0, 180, 100);
        QVERIFY(widget);
        TestSource source;
        widget->setDevice(&source);
        // 9 x 5: rows of 27 bytes, top rows one colour, bottom rows another.
        FrameData frame;
        frame.type = kThermal;
        frame.width = 9;
        frame.height = 5;
        for (int row = 0; row < 5; ++row)
            for (int col = 0; col < 9; ++col)
                frame.data.append(row < 2 ? QByteArray("\xe0\x40\x10", 3) : QByteArray("\x20\x90\xf0", 3));
        source.send(frame);
        const QImage image = widget->grabFramebuffer();
        COMPARE_COLOUR(image, 10, 10, QColor(0xe0, 0x40, 0x10));
        COMPARE_COLOUR(image, 170, 10, QColor(0xe0, 0x40, 0x10));
        COMPARE_COLOUR(image, 10, 90, QColor(0x20, 0x90, 0xf0));
        COMPARE_COLOUR(image, 170, 90, QColor(0x20, 0x90, 0xf0));
    }

    void fitsViewport_data()
    {
        QTest::addColumn<QSize>("widgetSize");
        QTest::addColumn<QSize>("frameSize");
        QTest::addColumn<QRect>("viewport");
        QTest::newRow("bars above and below") << QSize(800, 600) << QSize(1920, 1080) << QRect(0, 75, 800, 450);
        // 1066.67 wide from x 266.67: each value cut on its own.
        QTest::newRow("bars left and right") << QSize(1600, 600) << QSize(1920, 1080) << QRect(266, 0, 1066, 600);
        QTest::newRow("upright picture") << QSize(800, 600) << QSize(1080, 1920) << QRect(231, 0, 337, 600);
    }

    void fitsViewport()
    {
        QFETCH(QSize, widgetSize);
        QFETCH(QSize, frameSize);
        QFETCH(QRect, viewport);
        auto widget = shownWidget(1, widgetSize.width(), widgetSize.height());
        QVERIFY(widget);
        QCOMPARE(widget->size(), widgetSize);
        TestSource source;
        widget->setDevice(&source);
        source.send(flatYuv(frameSize.width(), frameSize.height(), 180, 128, 128));
        const QImage image = widget->grabFramebuffer();
        QCOMPARE(widget->lastViewport(), viewport);

        // GL counts rows from the bottom, the image from the top.
        const int top = widgetSize.height() - viewport.bottom() - 1;
        const int bottom = widgetSize.height() - viewport.top() - 1;
        const QColor grey = expectedRgb(180, 128, 128);
        COMPARE_COLOUR(image, viewport.left() + 1, top + 1, grey);
        COMPARE_COLOUR(image, viewport.right() - 1, bottom - 1, grey);
        if (viewport.left() > 0) {
            COMPARE_COLOUR(image, viewport.left() - 2, image.height() / 2, kBlack);
            COMPARE_COLOUR(image, viewport.right() + 2, image.height() / 2, kBlack);
        }
        if (top > 0) {
            COMPARE_COLOUR(image, image.width() / 2, top - 2, kBlack);
            COMPARE_COLOUR(image, image.width() / 2, bottom + 2, kBlack);
        }
    }

    void takesOnlyFramesMeantForIt()
    {
        auto video = shownWidget(1, 160, 90);
        auto thermal = shownWidget(0, 160, 90);
        QVERIFY(video && thermal);
        TestSource source;
        TestSource stranger;
        video->setDevice(&source);
        thermal->setDevice(&source);

        FrameData rgb;
        rgb.type = kThermal;
        rgb.width = 16;
        rgb.height = 9;
        rgb.data = QByteArray(16 * 9 * 3, '\x80');
        source.send(rgb);
        QCOMPARE(video->framesAccepted(), quint64(0));
        QCOMPARE(thermal->framesAccepted(), quint64(1));
        for (qint32 type : { 0, 1, 41, 53 }) {
            FrameData picture = flatYuv(16, 9, 200, 128, 128);
            picture.type = type;
            source.send(picture);
        }
        QCOMPARE(video->framesAccepted(), quint64(4));
        QCOMPARE(thermal->framesAccepted(), quint64(1));

        // A frame from an object that is not the source never shows, even
        // when it is connected.
        QObject::connect(&stranger, &FrameSource::sigGotFrameV, video.get(), &GLYuvWidget::onSigGotFrameV);
        stranger.send(flatYuv(16, 9, 30, 128, 128));
        QCOMPARE(video->framesAccepted(), quint64(4));
        COMPARE_COLOUR(video->grabFramebuffer(), 80, 45, expectedRgb(200, 128, 128));

        // An earlier source's frames are ignored after a change of source.
        video->setDevice(&stranger);
        source.send(flatYuv(16, 9, 30, 128, 128));
        QCOMPARE(video->framesAccepted(), quint64(4));
        COMPARE_COLOUR(video->grabFramebuffer(), 80, 45, kBlack);

        // No source: black, and nothing is taken until one is set again.
        video->setDevice(nullptr);
        QVERIFY(!video->isActive());
        stranger.send(flatYuv(16, 9, 200, 128, 128));
        source.send(flatYuv(16, 9, 200, 128, 128));
        QCOMPARE(video->framesAccepted(), quint64(4));
        COMPARE_COLOUR(video->grabFramebuffer(), 80, 45, kBlack);
        video->setDevice(&source);
        source.send(flatYuv(16, 9, 200, 128, 128));
        QCOMPARE(video->framesAccepted(), quint64(5));
        COMPARE_COLOUR(video->grabFramebuffer(), 80, 45, expectedRgb(200, 128, 128));

        video->ClearDisplay();
        COMPARE_COLOUR(video->grabFramebuffer(), 80, 45, kBlack);
        QVERIFY(video->ClearDraw());
    }

    void connectsOnceToTheSameSource()
    {
        auto widget = shownWidget(1, 160, 90);
        QVERIFY(widget);
        TestSource source;
        widget->setDevice(&source);
        widget->setDevice(&source);
        QCOMPARE(source.connections(), 1);
        source.send(flatYuv(16, 9, 200, 128, 128));
        QCOMPARE(widget->framesAccepted(), quint64(1));
    }

    void keepsPictureOnShortPayload()
    {
        auto video = shownWidget(1, 160, 90);
        auto thermal = shownWidget(0, 160, 90);
        QVERIFY(video && thermal);
        TestSource source;
        video->setDevice(&source);
        thermal->setDevice(&source);
        const QColor shown = expectedRgb(200, 90, 170);
        source.send(flatYuv(16, 9, 200, 90, 170));

        // Stated sizes that the payloads cannot fill: one byte short, a big
        // picture with a small payload, and sizes that are no picture.
        FrameData oneShort = flatYuv(16, 9, 30, 128, 128);
        oneShort.data.chop(1);
        FrameData big = flatYuv(16, 9, 30, 128, 128);
        big.width = 1920;
        big.height = 1080;
        FrameData huge = big;
        huge.width = huge.height = 0x7fffffff;
        FrameData negative = flatYuv(16, 9, 30, 128, 128);
        negative.width = -16;
        negative.height = -9;
        FrameData empty = flatYuv(16, 9, 30, 128, 128);
        empty.width = empty.height = 0;
        for (const FrameData& frame : { oneShort, big, huge, negative, empty }) {
            source.send(frame);
            QCOMPARE(video->framesAccepted(), quint64(1));
            COMPARE_COLOUR(video->grabFramebuffer(), 80, 45, shown);
        }

        FrameData rgb;
        rgb.type = kThermal;
        rgb.width = 16;
        rgb.height = 9;
        rgb.data = QByteArray(16 * 9 * 3 - 1, '\x80');
        FrameData hugeRgb = rgb;
        hugeRgb.width = hugeRgb.height = 0x7fffffff;
        source.send(rgb);
        source.send(hugeRgb);
        QCOMPARE(thermal->framesAccepted(), quint64(0));
        COMPARE_COLOUR(thermal->grabFramebuffer(), 80, 45, kBlack);
    }

    void showsOddWidthsUnskewed()
    {
        // 35 x 17 at ten times its size: luma rows of 35 bytes, chroma rows of
        // 17. Read with four-byte row alignment each row would drift by one
        // more pixel and the last planes would run past the payload.
        auto widget = shownWidget(1, 350, 170);
        QVERIFY(widget);
        TestSource source;
        widget->setDevice(&source);
        source.send(yuvFrame(35, 17, 40, 220, 90, 170, 17));
        const QImage image = widget->grabFramebuffer();
        QCOMPARE(widget->lastViewport(), QRect(0, 0, 350, 170));
        const QColor dark = expectedRgb(40, 90, 170);
        const QColor bright = expectedRgb(220, 90, 170);
        for (int row = 0; row < 17; ++row) {
            const int y = row * 10 + 5;
            COMPARE_COLOUR(image, 5, y, dark);
            COMPARE_COLOUR(image, 155, y, dark);
            COMPARE_COLOUR(image, 195, y, bright);
            COMPARE_COLOUR(image, 345, y, bright);
        }
    }
};

QTEST_MAIN(TestGLYuvWidget)
#include "TestGLYuvWidget.moc"
