// The ADPCM decoder thread decodes: a block of known nibbles comes out as the
// samples the IMA ADPCM rules give.
#include "media/AudioDecoders.h"
#include "media/FrameData.h"
#include "TestPatience.h"

#include <QtTest>

#include <cstdint>

namespace {

// One 256-byte mono block: the first sample and the step index in the header,
// then 504 samples of the same nibble.
QByteArray adpcmBlock(int16_t first, uint8_t nibble)
{
    QByteArray block(256, char(nibble | nibble << 4));
    block[0] = char(uint16_t(first) & 0xff);
    block[1] = char(uint16_t(first) >> 8);
    block[2] = 0; // step index
    block[3] = 0;
    return block;
}

QVector<int> samplesOf(const QByteArray& pcm)
{
    QVector<int> out;
    for (int i = 0; i + 1 < pcm.size(); i += 2)
        out.append(int16_t(uint16_t(uint8_t(pcm[i])) | uint16_t(uint8_t(pcm[i + 1])) << 8));
    return out;
}

} // namespace

class TestDecoderGaps : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { registerFrameMetaType(); }

    void adpcmBlockDecodesToKnownSamples_data()
    {
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("nibble");
        QTest::addColumn<QVector<int>>("expected");
        // Nibble 4: each step adds the step size and an eighth of it, and
        // moves two entries up the step table (7, 9, 11, 13, 16, 19, 23, 28).
        QTest::newRow("rising") << 0 << 4 << QVector<int>({ 0, 7, 17, 29, 43, 61, 82, 107, 138 });
        QTest::newRow("falling") << 1000 << 0xc << QVector<int>({ 1000, 993, 983, 971, 957, 939, 918, 893, 862 });
        // Nibble 0 keeps the sample and the smallest step.
        QTest::newRow("flat") << -300 << 0 << QVector<int>({ -300, -300, -300, -300, -300, -300, -300, -300, -300 });
    }

    void adpcmBlockDecodesToKnownSamples()
    {
        QFETCH(int, first);
        QFETCH(int, nibble);
        QFETCH(QVector<int>, expected);
        ADPCMDecoder decoder;
        QList<FrameData> out;
        connect(&decoder, &FrameDecoder::sigDecodedFrame, this, [&](FrameData frame) { out.append(frame); });
        FrameData frame;
        frame.type = 22;
        frame.data = adpcmBlock(int16_t(first), uint8_t(nibble));
        decoder.addFrame(frame);
        QTRY_COMPARE_WITH_TIMEOUT(out.size(), 1, patient(10000));
        const QVector<int> samples = samplesOf(out[0].data);
        QCOMPARE(samples.size(), 505);
        QCOMPARE(samples.mid(0, expected.size()), expected);
        QCOMPARE(out[0].type, 22);
    }
};

QTEST_GUILESS_MAIN(TestDecoderGaps)
#include "TestDecoderGaps.moc"
