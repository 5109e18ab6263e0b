#include "Camsim.h"

#include <QDeadlineTimer>
#include <QFileInfo>

QString Camsim::program()
{
    const QString path = qEnvironmentVariable("ARDENIX_BUILD_DIR") + "/bin/camsim";
    return QFileInfo(path).isExecutable() ? path : QString();
}

Camsim::Camsim(const QStringList& arguments, int lifetimeSeconds)
{
    // Bounded life: a simulator whose test died is gone after a while by itself.
    m_process.setProgram("timeout");
    // It also ends with its test: its standard input is a pipe from here.
    m_process.setArguments(QStringList { "--kill-after=5", QString::number(lifetimeSeconds), program() } + arguments
        + QStringList { "--exit-with-stdin" });
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    QObject::connect(&m_process, &QProcess::readyReadStandardError,
        [this] { m_log += QString::fromUtf8(m_process.readAllStandardError()); });
    m_process.start();
}

QString Camsim::errors()
{
    m_log += QString::fromUtf8(m_process.readAllStandardError());
    return m_log;
}

Camsim::~Camsim()
{
    stop();
}

void Camsim::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(2000);
    }
}

bool Camsim::waitReady(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (m_process.state() == QProcess::NotRunning && !m_process.waitForStarted(0))
            break;
        m_process.waitForReadyRead(int(qMin<qint64>(200, deadline.remainingTime())));
        m_log += QString::fromUtf8(m_process.readAllStandardError());
        if (m_log.contains("camsim: ready"))
            return true;
    }
    return false;
}
