#include "app/LogFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

LogFile* g_logFile = nullptr;
QtMessageHandler g_previousHandler = nullptr;
bool g_toStderr = true;

// The kernel's id of the thread, which a support person can match with a
// debugger or top -H; the Qt name when a thread has one.
QString currentThreadLabel()
{
#ifdef _WIN32
    const QString id = QString::number(GetCurrentThreadId());
#else
    const QString id = QString::number(static_cast<long long>(gettid()));
#endif
    QThread* thread = QThread::currentThread();
    const QString name = thread ? thread->objectName() : QString();
    return name.isEmpty() ? id : QStringLiteral("%1 %2").arg(id, name);
}

void handleMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (g_logFile)
        g_logFile->write(type, message);
    if ((g_toStderr || type == QtFatalMsg) && g_previousHandler)
        g_previousHandler(type, context, message);
}

// Creates dir and the folders above it that are missing, each readable by
// the user only (log lines name cameras, accounts and people's temperatures).
void makePrivatePath(const QString& dir)
{
    QStringList missing;
    for (QString path = QDir::cleanPath(QDir(dir).absolutePath()); !QFileInfo::exists(path);
         path = QFileInfo(path).path()) {
        missing.prepend(path);
        if (QFileInfo(path).path() == path)
            break;
    }
    for (const QString& path : qAsConst(missing)) {
        if (!QDir().mkdir(path))
            return;
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
}

} // namespace

LogFile::LogFile(const QString& dir, Clock clock)
    : m_dir(dir)
    , m_clock(std::move(clock))
{
    makePrivatePath(m_dir);
}

LogFile::~LogFile()
{
    if (m_file)
        std::fclose(m_file);
}

QDateTime LogFile::now() const
{
    return m_clock ? m_clock() : QDateTime::currentDateTime();
}

QString LogFile::fileNameFor(const QDate& date)
{
    return QStringLiteral("ardenix-%1.log").arg(date.toString(QStringLiteral("yyyy-MM-dd")));
}

QString LogFile::filePathFor(const QDate& date) const
{
    return QDir(m_dir).filePath(fileNameFor(date));
}

QString LogFile::formatLine(const QDateTime& time, const QString& thread, QtMsgType type, const QString& message)
{
    QString tag;
    switch (type) {
    case QtWarningMsg:
        tag = QStringLiteral("warning: ");
        break;
    case QtCriticalMsg:
        tag = QStringLiteral("critical: ");
        break;
    case QtFatalMsg:
        tag = QStringLiteral("fatal: ");
        break;
    default:
        break;
    }
    QString text = message;
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QStringLiteral("\n    "));
    return QStringLiteral("%1 [%2] %3%4")
        .arg(time.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")), thread, tag, text);
}

int LogFile::removeOldFiles(int keepDays)
{
    static const QRegularExpression ownName(QStringLiteral("^ardenix-\\d{4}-\\d{2}-\\d{2}\\.log$"));
    const QDateTime limit = now().addDays(-keepDays);
    int removed = 0;
    const QFileInfoList files = QDir(m_dir).entryInfoList({ QStringLiteral("ardenix-*.log") }, QDir::Files);
    for (const QFileInfo& file : files) {
        if (ownName.match(file.fileName()).hasMatch() && file.lastModified() < limit
            && QFile::remove(file.absoluteFilePath()))
            ++removed;
    }
    return removed;
}

void LogFile::openFor(const QDate& date)
{
    if (m_file)
        std::fclose(m_file);
    m_file = nullptr;
    m_fileDate = date;
    const QByteArray path = QFile::encodeName(filePathFor(date));
#ifdef _WIN32
    m_file = std::fopen(path.constData(), "ab");
#else
    // Readable by the user only, a file of an older version included.
    const int fd = ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0)
        return;
    ::fchmod(fd, S_IRUSR | S_IWUSR);
    m_file = ::fdopen(fd, "a");
    if (!m_file)
        ::close(fd);
#endif
}

void LogFile::write(QtMsgType type, const QString& message)
{
    const QDateTime time = now();
    const QByteArray line = (formatLine(time, currentThreadLabel(), type, message) + QLatin1Char('\n')).toUtf8();
    std::lock_guard<std::mutex> locker(m_lock);
    if (!m_file || time.date() != m_fileDate)
        openFor(time.date());
    if (!m_file)
        return;
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), m_file);
    std::fflush(m_file);
}

void LogFile::install(const QString& dir, bool toStderr)
{
    if (g_logFile)
        return;
    // Never deleted: threads may log until the process is gone.
    g_logFile = new LogFile(dir);
    g_logFile->removeOldFiles();
    g_toStderr = toStderr;
    g_previousHandler = qInstallMessageHandler(handleMessage);
}
