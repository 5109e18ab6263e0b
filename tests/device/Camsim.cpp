#include "Camsim.h"

#include <QDeadlineTimer>
#include <QFileInfo>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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

SilentCamera::SilentCamera(const char* address)
{
    m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
    int on = 1;
    ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_port = htons(8800);
    ::inet_pton(AF_INET, address, &a.sin_addr);
    m_ok = ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(m_fd, 4) == 0;
}

SilentCamera::~SilentCamera()
{
    ::close(m_fd);
}

bool SilentCamera::ok() const
{
    return m_ok;
}
