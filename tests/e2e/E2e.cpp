#include "E2e.h"
#include "TestPatience.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QThread>
#include <QVariant>

#include <csignal>
#include <utility>

#include <sys/types.h>

namespace e2e {

namespace {

QString readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

QString buildDir()
{
    return qEnvironmentVariable("ARDENIX_BUILD_DIR");
}

// The temperature field of an alarm picture's name, or an empty text.
QString temperatureOfPicture(const QString& path)
{
    const QStringList fields = QFileInfo(path).completeBaseName().split(QLatin1Char('-'));
    return fields.size() == 5 ? fields.at(1) : QString();
}

} // namespace

QList<SentPerson> parseSent(const QString& camsimLog)
{
    static const QRegularExpression line(
        QStringLiteral(R"(person (\d+) (\d+) (normal|abnormal), sent to (\d+) session\(s\)(?: at (\d+) ms)?)"));
    QList<SentPerson> persons;
    QRegularExpressionMatchIterator it = line.globalMatch(camsimLog);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        SentPerson p;
        p.index = m.captured(1).toInt();
        p.temperature = m.captured(2).toInt();
        p.abnormal = m.captured(3) == QLatin1String("abnormal");
        p.sessions = m.captured(4).toInt();
        p.sentMs = m.captured(5).toLongLong();
        persons.append(p);
    }
    return persons;
}

QList<SentPerson> delivered(const QList<SentPerson>& persons)
{
    QList<SentPerson> out;
    for (const SentPerson& p : persons) {
        if (p.sessions > 0)
            out.append(p);
    }
    return out;
}

CamsimProcess::CamsimProcess(const QString& logPath, const QString& address, int id, const QStringList& extra)
    : Camsim({}, logPath.toStdString())
    , m_address(address)
    , m_id(id)
{
    setExtra(extra);
}

void CamsimProcess::setExtra(const QStringList& extra)
{
    std::vector<std::string> arguments { "--address", m_address.toStdString(), "--first-id", std::to_string(m_id),
        "--search-port", "-1", "--bitrate", "0" };
    for (const QString& option : extra)
        arguments.push_back(option.toStdString());
    setArguments(std::move(arguments));
}

namespace {

QStringList g_sanitizerReports;

void collectSanitizerReports(const QString& name, const QString& log)
{
    std::vector<std::string> lines;
    for (const QString& line : log.split(QLatin1Char('\n')))
        lines.push_back(line.toStdString());
    for (const std::string& report : sanitizerReportsIn(name.toStdString(), lines))
        g_sanitizerReports << QString::fromStdString(report);
}

} // namespace

QStringList takeSanitizerReports()
{
    for (const std::string& report : Camsim::takeSanitizerReports())
        g_sanitizerReports << QString::fromStdString(report);
    return std::exchange(g_sanitizerReports, {});
}

ArdenixProcess::ArdenixProcess(const QString& workDir, const QString& cameraAddress, int id)
    : m_environment(QProcessEnvironment::systemEnvironment())
    , m_workDir(workDir)
    , m_logPath(workDir + QStringLiteral("/ardenix.log"))
{
    QDir().mkpath(workDir + QStringLiteral("/data"));
    m_environment.insert(QStringLiteral("ARDENIX_DB"), dbPath());
    m_environment.insert(QStringLiteral("ARDENIX_SNAPSHOT_DIR"), shotDir());
    m_environment.insert(QStringLiteral("XDG_DATA_HOME"), workDir + QStringLiteral("/data"));
    m_environment.insert(QStringLiteral("XDG_CONFIG_HOME"), workDir + QStringLiteral("/data"));
    m_environment.insert(QStringLiteral("KVSDK_SEARCH_TARGETS"), cameraAddress);
    m_environment.insert(QStringLiteral("LP_NUM_THREADS"), QStringLiteral("0"));
    m_environment.insert(
        QStringLiteral("QT_MESSAGE_PATTERN"), QStringLiteral("%{time yyyy-MM-ddThh:mm:ss.zzz} %{message}"));
    m_arguments
        = QStringList { QStringLiteral("--connect"), cameraAddress, QStringLiteral("--id"), QString::number(id) };
}

ArdenixProcess::~ArdenixProcess()
{
    stop();
    collectSanitizerReports(QStringLiteral("ardenix"), log());
}

QString ArdenixProcess::dbPath() const
{
    return m_workDir + QStringLiteral("/ardenix.dat");
}

QString ArdenixProcess::shotDir() const
{
    return m_workDir + QStringLiteral("/shots");
}

bool ArdenixProcess::start(int lifetimeSeconds)
{
    stop();
    ++m_runs;
    m_process.setProgram(QStringLiteral("timeout"));
    m_process.setArguments(QStringList { QStringLiteral("--kill-after=5"), QString::number(lifetimeSeconds),
                               buildDir() + QStringLiteral("/bin/ardenix") }
        + m_arguments);
    m_process.setProcessEnvironment(m_environment);
    m_process.setWorkingDirectory(m_workDir);
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(m_logPath, QIODevice::Append);
    m_process.start();
    if (!m_process.waitForStarted(5000))
        return false;
    // Until the program itself runs, its id is unknown.
    QDeadlineTimer deadline(5000);
    while (!deadline.hasExpired() && pid() <= 0)
        QThread::msleep(20);
    return pid() > 0;
}

void ArdenixProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(10000)) {
        m_process.kill();
        const qint64 program = pid();
        if (program > 0)
            ::kill(pid_t(program), SIGKILL);
        m_process.waitForFinished(3000);
    }
}

void ArdenixProcess::kill9()
{
    const qint64 program = pid();
    if (program > 0)
        ::kill(pid_t(program), SIGKILL);
    m_process.waitForFinished(10000);
}

bool ArdenixProcess::running() const
{
    return m_process.state() != QProcess::NotRunning;
}

qint64 ArdenixProcess::pid() const
{
    const qint64 outer = m_process.processId();
    if (outer <= 0)
        return -1;
    const QString children = readFile(QStringLiteral("/proc/%1/task/%1/children").arg(outer)).trimmed();
    return children.isEmpty() ? -1 : children.split(QLatin1Char(' ')).first().toLongLong();
}

int ArdenixProcess::exitCode() const
{
    return m_process.exitCode();
}

QProcess::ExitStatus ArdenixProcess::exitStatus() const
{
    return m_process.exitStatus();
}

QString ArdenixProcess::log() const
{
    return readFile(m_logPath);
}

int ArdenixProcess::countLog(const QString& needle) const
{
    return log().count(needle);
}

bool ArdenixProcess::waitForLog(const QString& needle, int count, int timeoutMs) const
{
    QDeadlineTimer deadline(patient(timeoutMs));
    while (!deadline.hasExpired()) {
        if (countLog(needle) >= count)
            return true;
        pause(100);
    }
    return countLog(needle) >= count;
}

QList<qint64> ArdenixProcess::logTimes(const QString& needle) const
{
    QList<qint64> times;
    const QStringList lines = log().split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        if (!line.contains(needle) || line.size() < 23)
            continue;
        const QDateTime at = QDateTime::fromString(line.left(23), QStringLiteral("yyyy-MM-ddThh:mm:ss.zzz"));
        if (at.isValid())
            times.append(at.toMSecsSinceEpoch());
    }
    return times;
}

StoredState readStore(const QString& dbPath)
{
    StoredState state;
    static int serial = 0;
    const QString name = QStringLiteral("e2e-read-%1").arg(++serial);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(dbPath);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000"));
        if (!QFileInfo(dbPath).isFile() || !db.open()) {
            state.error = QStringLiteral("cannot open %1").arg(dbPath);
        } else {
            state.opened = true;
            QSqlQuery query(db);
            if (query.exec(QStringLiteral("PRAGMA integrity_check")) && query.next())
                state.integrityOk = query.value(0).toString() == QLatin1String("ok");
            if (query.exec(QStringLiteral("SELECT sum(normalnum), sum(unusualnum) FROM datecounttb")) && query.next()) {
                state.countedNormal = query.value(0).toInt();
                state.countedAbnormal = query.value(1).toInt();
            } else {
                state.error = QStringLiteral("no datecounttb");
            }
            if (query.exec(QStringLiteral("SELECT filepath, state FROM pictureinfotb ORDER BY sno"))) {
                while (query.next()) {
                    state.paths.append(QDir::cleanPath(query.value(0).toString()));
                    const int s = query.value(1).toInt();
                    if (s == 1)
                        ++state.rowsNormal;
                    else if (s == 2)
                        ++state.rowsAbnormal;
                    else
                        ++state.rowsOther;
                }
            } else {
                state.error = QStringLiteral("no pictureinfotb");
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return state;
}

QStringList alarmPictures(const QString& shotDir)
{
    QStringList out;
    QDirIterator it(shotDir + QStringLiteral("/Screenshot"), { QStringLiteral("*.jpg") }, QDir::Files,
        QDirIterator::Subdirectories);
    while (it.hasNext())
        out.append(QDir::cleanPath(QFileInfo(it.next()).absoluteFilePath()));
    out.sort();
    return out;
}

QString compareDelivered(const QList<SentPerson>& persons, const StoredState& store, const QStringList& pictures)
{
    QStringList problems;
    const QList<SentPerson> sent = delivered(persons);
    int normal = 0;
    int abnormal = 0;
    QStringList sentTemps;
    for (const SentPerson& p : sent) {
        (p.abnormal ? abnormal : normal) += 1;
        sentTemps.append(QString::number(p.temperature));
    }
    if (!store.opened)
        problems << store.error;
    if (pictures.size() != sent.size())
        problems << QStringLiteral("%1 JPEGs for %2 delivered alarms").arg(pictures.size()).arg(sent.size());
    if (store.rowsNormal != normal || store.rowsAbnormal != abnormal || store.rowsOther != 0)
        problems << QStringLiteral("rows normal %1 abnormal %2 other %3, sent normal %4 abnormal %5")
                        .arg(store.rowsNormal)
                        .arg(store.rowsAbnormal)
                        .arg(store.rowsOther)
                        .arg(normal)
                        .arg(abnormal);
    if (store.countedNormal != normal || store.countedAbnormal != abnormal)
        problems << QStringLiteral("counted normal %1 abnormal %2, sent normal %3 abnormal %4")
                        .arg(store.countedNormal)
                        .arg(store.countedAbnormal)
                        .arg(normal)
                        .arg(abnormal);
    if (QSet<QString>(store.paths.begin(), store.paths.end()).size() != store.paths.size())
        problems << QStringLiteral("a picture stored twice");
    int withoutRow = 0;
    QStringList storedTemps;
    for (const QString& picture : pictures) {
        if (!store.paths.contains(picture))
            ++withoutRow;
        storedTemps.append(temperatureOfPicture(picture));
    }
    if (withoutRow)
        problems << QStringLiteral("%1 JPEGs without a row").arg(withoutRow);
    sentTemps.sort();
    storedTemps.sort();
    if (problems.isEmpty() && sentTemps != storedTemps)
        problems << QStringLiteral("temperatures differ: sent %1 stored %2")
                        .arg(sentTemps.join(QLatin1Char(',')), storedTemps.join(QLatin1Char(',')));
    return problems.join(QStringLiteral("; "));
}

QString summary(const QList<SentPerson>& persons, const StoredState& store, const QStringList& pictures)
{
    const QList<SentPerson> sent = delivered(persons);
    int abnormal = 0;
    for (const SentPerson& p : sent)
        abnormal += p.abnormal ? 1 : 0;
    return QStringLiteral(
        "persons=%1 delivered=%2 (abnormal %3) jpegs=%4 rows=%5 (abnormal %6) counted=%7 (abnormal %8)")
        .arg(persons.size())
        .arg(sent.size())
        .arg(abnormal)
        .arg(pictures.size())
        .arg(store.rows())
        .arg(store.rowsAbnormal)
        .arg(store.counted())
        .arg(store.countedAbnormal);
}

void pause(int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(qMin<qint64>(20, qMax<qint64>(0, deadline.remainingTime())));
    }
}

int envInt(const char* name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok ? value : fallback;
}

} // namespace e2e
