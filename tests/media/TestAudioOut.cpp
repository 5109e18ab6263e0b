// The sound output against a real audio server (a private PulseAudio with a
// null sink): which output each frame type gets, which frames are written,
// and what happens with no server at all.

#include "media/AudioOut.h"
#include "TestPatience.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const qint32 kPcm = 21;
const qint32 kAac = 24;
const qint32 kG711 = 26;
const char* const kNoServerChild = "ARDENIX_AUDIO_NO_SERVER_CHILD";

class TestSource : public FrameSource {
    Q_OBJECT
public:
    void send(qint32 type, int bytes = 320)
    {
        FrameData frame;
        frame.type = type;
        frame.data = QByteArray(bytes, '\0');
        emit sigGotFrameA(frame);
    }
    int connections() const { return receivers(SIGNAL(sigGotFrameA(FrameData))); }
};

// Waits until the worker thread has handled every frame sent so far.
void drain(AudioOut& out)
{
    QMetaObject::invokeMethod(
        &out, [] {}, Qt::BlockingQueuedConnection);
}

// A PulseAudio server of this test's own, on a socket in a temporary folder.
class PrivatePulse {
public:
    ~PrivatePulse()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    // Empty on success, else why there is no server.
    QString start()
    {
        const QString program = QStandardPaths::findExecutable("pulseaudio");
        if (program.isEmpty())
            return "pulseaudio is not installed";
        if (!m_dir.isValid())
            return "no temporary folder";
        m_socket = m_dir.filePath("native");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", m_dir.path());
        env.insert("XDG_RUNTIME_DIR", m_dir.path());
        env.insert("PULSE_RUNTIME_PATH", m_dir.path());
        env.insert("PULSE_STATE_PATH", m_dir.path());
        m_process.setProcessEnvironment(env);
        m_process.setStandardOutputFile(m_dir.filePath("pulse.log"));
        m_process.setStandardErrorFile(m_dir.filePath("pulse.log"), QIODevice::Append);
        m_process.start(program,
            { "-n", "--daemonize=no", "--use-pid-file=no", "--exit-idle-time=-1", "--disallow-exit",
                "--log-target=stderr", "-L", "module-null-sink sink_name=nullsink", "-L",
                "module-native-protocol-unix socket=" + m_socket + " auth-anonymous=1" });
        if (!m_process.waitForStarted(5000))
            return "pulseaudio did not start: " + m_process.errorString();
        for (int i = 0; i < patient(100) && m_process.state() == QProcess::Running; ++i) {
            if (QFileInfo(m_socket).exists())
                return QString();
            QTest::qWait(100);
        }
        QFile log(m_dir.filePath("pulse.log"));
        log.open(QIODevice::ReadOnly);
        return "pulseaudio did not open its socket: " + QString::fromLocal8Bit(log.readAll()).trimmed();
    }

    QString server() const { return "unix:" + m_socket; }

    // The sample formats of the streams playing on the server, e.g. "s16le 1ch 32000Hz".
    QString streams() const
    {
        QProcess pactl;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PULSE_SERVER", server());
        pactl.setProcessEnvironment(env);
        pactl.start("pactl", { "list", "short", "sink-inputs" });
        pactl.waitForFinished(5000);
        return QString::fromLocal8Bit(pactl.readAllStandardOutput());
    }

private:
    QTemporaryDir m_dir;
    QString m_socket;
    QProcess m_process;
};

} // namespace

class TestAudioOut : public QObject {
    Q_OBJECT

    PrivatePulse m_pulse;
    QString m_noServer;

private slots:
    void initTestCase()
    {
        registerFrameMetaType();
        // The child that checks the life without a server needs none.
        if (qEnvironmentVariableIsSet(kNoServerChild))
            return;
        m_noServer = m_pulse.start();
        if (m_noServer.isEmpty())
            qputenv("PULSE_SERVER", m_pulse.server().toLocal8Bit());
    }

    void rebuildsOutputOnRateChange()
    {
        if (!m_noServer.isEmpty())
            QSKIP(qPrintable("no private audio server: " + m_noServer));
        AudioOut out;
        TestSource source;
        out.setDevice(&source);
        QCOMPARE(out.sampleRate(), 0);

        source.send(kAac, 2048);
        drain(out);
        QVERIFY(out.isReady());
        QCOMPARE(out.sampleRate(), 32000);
        QCOMPARE(out.outputsBuilt(), 1);
        QCOMPARE(out.framesWritten(), 1);
        QTRY_VERIFY2_WITH_TIMEOUT(
            m_pulse.streams().contains("1ch 32000Hz"), qPrintable(m_pulse.streams()), patient(5000));

        source.send(kG711);
        drain(out);
        QVERIFY(out.isReady());
        QCOMPARE(out.sampleRate(), 8000);
        QCOMPARE(out.outputsBuilt(), 2);
        QTRY_VERIFY2_WITH_TIMEOUT(
            m_pulse.streams().contains("1ch 8000Hz"), qPrintable(m_pulse.streams()), patient(5000));
        // The server drops the old stream a moment after the program lets it go.
        QTRY_VERIFY2_WITH_TIMEOUT(!m_pulse.streams().contains("32000Hz"), "the old output still plays", patient(5000));

        // Same rate group, and frames without a rate of their own: no new output.
        source.send(kG711);
        source.send(kPcm);
        source.send(22);
        source.send(23);
        source.send(25);
        drain(out);
        QCOMPARE(out.outputsBuilt(), 2);
        QCOMPARE(out.sampleRate(), 8000);
        QCOMPARE(out.framesWritten(), 7);
        QVERIFY(out.bytesWritten() > 0);
    }

    // Closing an output lets its thread run other events while the sound
    // drains; frames of the other rate group that arrive then must not
    // rebuild the output being closed.
    void survivesRateChangesInQuickSuccession()
    {
        if (!m_noServer.isEmpty())
            QSKIP(qPrintable("no private audio server: " + m_noServer));
        AudioOut out;
        TestSource source;
        out.setDevice(&source);
        for (int i = 0; i < 40; ++i)
            source.send(i % 2 ? kG711 : kAac, 8000);
        drain(out);
        QCOMPARE(out.sampleRate(), 8000);
        QCOMPARE(out.outputsBuilt(), 40);
        QVERIFY(out.isReady());
        source.send(kG711);
        drain(out);
        QCOMPARE(out.outputsBuilt(), 40);
        QTRY_VERIFY2_WITH_TIMEOUT(m_pulse.streams().count("\n") == 1, qPrintable(m_pulse.streams()), patient(10000));
    }

    void ignoresFramesWithoutSource()
    {
        if (!m_noServer.isEmpty())
            QSKIP(qPrintable("no private audio server: " + m_noServer));
        AudioOut out;
        TestSource source;
        TestSource stranger;
        out.setDevice(&source);
        out.setDevice(nullptr);
        source.send(kG711);
        source.send(kAac);
        drain(out);
        QCOMPARE(out.outputsBuilt(), 0);
        QCOMPARE(out.framesWritten(), 0);
        QVERIFY(!out.isReady());

        // The output of one source stays silent for another sender.
        out.setDevice(&source);
        source.send(kG711);
        QObject::connect(&stranger, &FrameSource::sigGotFrameA, &out, &AudioOut::onSigGotFrameA);
        stranger.send(kAac);
        stranger.send(kG711);
        drain(out);
        QCOMPARE(out.outputsBuilt(), 1);
        QCOMPARE(out.sampleRate(), 8000);
        QCOMPARE(out.framesWritten(), 1);
    }

    void writesEachFrameOnce()
    {
        if (!m_noServer.isEmpty())
            QSKIP(qPrintable("no private audio server: " + m_noServer));
        AudioOut out;
        TestSource source;
        out.setDevice(&source);
        out.setDevice(&source);
        QCOMPARE(source.connections(), 1);
        for (int i = 0; i < 3; ++i)
            source.send(kG711);
        drain(out);
        QCOMPARE(out.framesWritten(), 3);
        QCOMPARE(out.bytesWritten(), qint64(3 * 320));
    }

    void destroyedWithItsParent()
    {
        QPointer<AudioOut> out;
        {
            QObject owner;
            out = new AudioOut(&owner);
            TestSource source;
            out->setDevice(&source);
            source.send(kG711);
            drain(*out);
        }
        QVERIFY(out.isNull());
    }

    // Run in a child process: the audio library settles on a server once
    // per process.
    void dropsFramesWithoutServer()
    {
        if (!qEnvironmentVariableIsSet(kNoServerChild)) {
            QTemporaryDir dir;
            QProcess child;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(kNoServerChild, "1");
            env.insert("PULSE_SERVER", "unix:" + dir.filePath("no-server-here"));
            child.setProcessEnvironment(env);
            child.setProcessChannelMode(QProcess::MergedChannels);
            child.start(QCoreApplication::applicationFilePath(), { "dropsFramesWithoutServer" });
            QVERIFY(child.waitForFinished(60000));
            const QByteArray output = child.readAll();
            QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, output.constData());
            QVERIFY2(output.contains("PASS   : TestAudioOut::dropsFramesWithoutServer()"), output.constData());
            return;
        }
        AudioOut out;
        TestSource source;
        out.setDevice(&source);
        source.send(kG711);
        source.send(kG711);
        drain(out);
        QVERIFY(!out.isReady());
        QCOMPARE(out.outputsBuilt(), 1); // one attempt per rate group, not per frame
        QCOMPARE(out.framesWritten(), 0);
        source.send(kAac);
        source.send(kAac);
        drain(out);
        QVERIFY(!out.isReady());
        QCOMPARE(out.sampleRate(), 32000);
        QCOMPARE(out.outputsBuilt(), 2);
        QCOMPARE(out.framesWritten(), 0);
    }
};

QTEST_GUILESS_MAIN(TestAudioOut)
#include "TestAudioOut.moc"
