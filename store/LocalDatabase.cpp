#include "store/LocalDatabase.h"

#include "store/PictureName.h"

#include <QDate>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QVariant>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

const char* const kDateFormat = "yyyy-MM-dd";
const int kSevenDays = 7;
const int kRecentPictures = 20;
// Longest wait for another process's lock on the file, in milliseconds.
const int kBusyTimeoutMs = 40;
// Picture rows kept for a later write while the file refuses them.
const int kMaxPendingRows = 1000;
// A write the GUI thread waits longer for than this is logged.
const qint64 kSlowWriteMs = 100;

const char* const kCreateDayTable = "CREATE TABLE [datecounttb] (\n"
                                    "\t[sno] integer NOT NULL PRIMARY KEY AUTOINCREMENT,\n"
                                    "\t[localdate] date NOT NULL UNIQUE,\n"
                                    "\t[normalnum] integer NOT NULL,\n"
                                    "\t[unusualnum] integer NOT NULL\n"
                                    ");";
const char* const kCreatePictureTable = "CREATE TABLE [pictureinfotb] (\n"
                                        "\t[sno] integer NOT NULL PRIMARY KEY AUTOINCREMENT,\n"
                                        "\t[localdate] date NOT NULL,\n"
                                        "\t[filepath] varchar(256) NOT NULL,\n"
                                        "\t[state] integer NOT NULL,\n"
                                        "\t[sign] integer DEFAULT 0\n"
                                        ");";
const char* const kCreateDateIndex = "create index pictureinfotblocaldate on pictureinfotb(localdate);";
const char* const kCreateSignIndex = "create index pictureinfotbsign on pictureinfotb(sign); ";
const char* const kCreateAccountTable
    = "CREATE TABLE [accounttb] ([id] integer NOT NULL PRIMARY KEY AUTOINCREMENT,[username] varchar(256) NOT NULL, "
      "[password] varchar(256) NOT NULL DEFAULT '');";

// A null QString binds as SQL NULL, which the NOT NULL columns refuse; an
// empty text must stay an empty text.
QVariant text(const QString& value)
{
    return value.isNull() ? QVariant(QStringLiteral("")) : QVariant(value);
}

// The file holds camera passwords: create it readable by its owner only
// before SQLite opens it, and tighten an older file that was left open.
void restrictToOwner(const QString& path)
{
#ifndef _WIN32
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_CREAT | O_WRONLY | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd >= 0)
        ::close(fd);
    ::chmod(native.constData(), S_IRUSR | S_IWUSR);
#else
    Q_UNUSED(path);
#endif
}

} // namespace

LocalDatabase::LocalDatabase(Clock clock)
    : m_clock(std::move(clock))
    , m_todayNormal(0)
    , m_todayAbnormal(0)
    , m_totalNormal(0)
    , m_totalAbnormal(0)
{
    m_today = currentDate().toString(kDateFormat);
}

QDate LocalDatabase::currentDate() const
{
    return m_clock ? m_clock().date() : QDate::currentDate();
}

QString LocalDatabase::databasePath()
{
#ifdef _WIN32
    return QStringLiteral("C:/Program Files (x86)/ardenix.dat");
#else
    const QByteArray fromEnv = qgetenv("ARDENIX_DB");
    QString path = !fromEnv.isEmpty()
        ? QFile::decodeName(fromEnv)
        : QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/ardenix.dat");
    QDir().mkpath(QFileInfo(path).absolutePath());
    return path;
#endif
}

void LocalDatabase::openDatabase()
{
    const QString path = databasePath();
    // An empty file is a database that never got its tables, e.g. when a
    // start ended between creating the file and filling it.
    const QFileInfo before(path);
    const bool existed = before.isFile() && before.size() > 0;
    restrictToOwner(path);

    QSqlDatabase db = QSqlDatabase::contains()
        ? QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false)
        : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
    db.close();
    db.setDatabaseName(path);
    // The GUI thread waits at most this long for a lock another process
    // holds; a write that cannot have it fails and is tried again later.
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
    m_path = path;
    if (!db.open())
        qDebug() << "drivers" << QSqlDatabase::drivers();

    if (!existed) {
        QSqlQuery query;
        query.exec(kCreateDayTable);
        query.exec(kCreatePictureTable);
        query.exec(kCreateDateIndex);
        query.exec(kCreateSignIndex);
    }
    if (!accountTableExists()) {
        QSqlQuery query;
        query.exec(kCreateAccountTable);
    }
    loadSevenDays();
    loadTotals();
    loadToday();
}

bool LocalDatabase::loadSevenDays()
{
    m_sevenDays.clear();
    QSqlQuery query;
    query.prepare("SELECT [localdate],[unusualnum],[normalnum] FROM [datecounttb] WHERE julianday(?) - "
                  "julianday(localdate) < 7 and julianday(?) - julianday(localdate) >= 0 ORDER BY [localdate] ASC "
                  "LIMIT 7");
    query.addBindValue(text(m_today));
    query.addBindValue(text(m_today));
    const bool ok = query.exec();
    while (query.next()) {
        DayCount day;
        day.date = query.value(0).toString();
        day.abnormal = query.value(1).toInt();
        day.normal = query.value(2).toInt();
        m_sevenDays.append(day);
    }
    if (m_sevenDays.isEmpty() || m_sevenDays.last().date != m_today) {
        insertDay(m_today, 0, 0);
        DayCount day;
        day.date = m_today;
        m_sevenDays.append(day);
    }
    return ok;
}

bool LocalDatabase::loadTotals()
{
    QSqlQuery query;
    if (!query.exec("SELECT sum([normalnum]),sum([unusualnum]) FROM [datecounttb]; ") || !query.next())
        return false;
    m_totalNormal = query.value(0).toInt();
    m_totalAbnormal = query.value(1).toInt();
    return true;
}

bool LocalDatabase::loadToday()
{
    QSqlQuery query;
    query.prepare("SELECT [normalnum],[unusualnum] FROM [datecounttb] WHERE localdate = ?; ");
    query.addBindValue(text(m_today));
    if (!query.exec() || !query.next())
        return false;
    m_todayNormal = query.value(0).toInt();
    m_todayAbnormal = query.value(1).toInt();
    return true;
}

bool LocalDatabase::insertDay(const QString& date, int normal, int abnormal)
{
    QSqlQuery query;
    query.prepare("INSERT INTO datecounttb (localdate,normalnum,unusualnum) VALUES (?, ?, ?);");
    query.addBindValue(text(date));
    query.addBindValue(normal);
    query.addBindValue(abnormal);
    return query.exec();
}

bool LocalDatabase::updateDay(const QString& date, int normal, int abnormal)
{
    QSqlQuery query;
    query.prepare("UPDATE datecounttb SET normalnum = ?, unusualnum = ? WHERE localdate = ?;");
    query.addBindValue(normal);
    query.addBindValue(abnormal);
    query.addBindValue(text(date));
    return query.exec();
}

bool LocalDatabase::insertPicture(const QString& date, const QString& filePath, int state)
{
    QSqlQuery query;
    query.prepare("INSERT INTO pictureinfotb(localdate,filepath,state) VALUES (?, ?, ?);");
    query.addBindValue(text(date));
    query.addBindValue(text(filePath));
    query.addBindValue(state);
    return query.exec();
}

QString LocalDatabase::parsePictureName(const QString& filePath, int& state)
{
    const PictureName name = PictureName::parse(filePath);
    if (!name.valid)
        return QString();
    state = name.stateCode();
    return name.day();
}

bool LocalDatabase::addPicture(const QString& filePath)
{
    QElapsedTimer clock;
    clock.start();
    const bool ok = countAndStore(filePath);
    const qint64 spent = clock.elapsed();
    m_longestWriteMs = qMax(m_longestWriteMs, spent);
    // The window waits for this on its GUI thread.
    if (spent > kSlowWriteMs)
        qDebug().noquote() << QStringLiteral("statistics write took %1 ms").arg(spent);
    return ok;
}

bool LocalDatabase::countAndStore(const QString& filePath)
{
    // The window's day timer moves today forward only every two seconds; a
    // person measured just after midnight belongs to the new day already.
    const QString now = currentDate().toString(kDateFormat);
    if (now != m_today)
        setToday(now);

    int state = -1;
    const QString day = parsePictureName(filePath, state);
    qDebug().noquote() << QStringLiteral("filepath %1 pkdate %2 istate %3").arg(filePath, day).arg(state);
    if (m_pendingRows.size() < kMaxPendingRows)
        m_pendingRows.append({ day, filePath, state });

    if (state != 1 && state != 2)
        return storePending();
    const bool normal = state == 1;
    if (normal) {
        ++m_todayNormal;
        ++m_totalNormal;
    } else {
        ++m_todayAbnormal;
        ++m_totalAbnormal;
    }
    // The person was counted into today's figures, so today's record and
    // today's row take the count, whatever day the camera stamped on the
    // picture (its clock may sit on the other side of midnight).
    for (int i = m_sevenDays.size() - 1; i >= 0; --i) {
        if (m_sevenDays.at(i).date == m_today) {
            if (normal)
                ++m_sevenDays[i].normal;
            else
                ++m_sevenDays[i].abnormal;
            break;
        }
    }
    qDebug().noquote() << QStringLiteral("m_normalnum %1 m_unusualnum %2 ").arg(m_todayNormal).arg(m_todayAbnormal);
    return storePending();
}

namespace {

// Date folders this far back (and one ahead, for a camera clock on the other
// side of midnight) are looked through for unrecorded pictures.
constexpr int kRecoverDays = 2;

// A JPEG ends with its end-of-image marker; a picture cut off by the
// program's end does not.
bool completeJpeg(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() < 4)
        return false;
    QByteArray head = file.read(2);
    if (!file.seek(file.size() - 2))
        return false;
    const QByteArray tail = file.read(2);
    return head == QByteArray("\xFF\xD8", 2) && tail == QByteArray("\xFF\xD9", 2);
}

} // namespace

int LocalDatabase::recoverPictures(const QString& shotDir)
{
    if (shotDir.isEmpty())
        return 0;
    const QDate today = currentDate();
    int recovered = 0;
    for (int offset = -kRecoverDays; offset <= 1; ++offset) {
        const QString day = today.addDays(offset).toString(kDateFormat);
        // Paths are built as the snapshots build them, so that they match
        // the rows of recorded pictures.
        const QString folder = shotDir + QLatin1Char('/') + day;
        const QStringList names = QDir(folder).entryList({ QStringLiteral("*.jpg") }, QDir::Files, QDir::Name);
        for (const QString& name : names) {
            const QString path = folder + QLatin1Char('/') + name;
            QSqlQuery known;
            known.prepare(QStringLiteral("SELECT 1 FROM [pictureinfotb] WHERE [filepath] = ? LIMIT 1"));
            known.addBindValue(path);
            if (!known.exec() || known.next() || !completeJpeg(path))
                continue;
            qDebug().noquote() << QStringLiteral("recording a picture left unrecorded: %1").arg(path);
            addPicture(path);
            ++recovered;
        }
    }
    return recovered;
}

bool LocalDatabase::storePending()
{
    // A file deleted under the program takes every later write with it:
    // start a new one at the same place.
    bool reopened = false;
    if (!m_path.isEmpty() && !QFileInfo::exists(m_path)) {
        reportWrite(false, QStringLiteral("the file is gone; starting a new one"));
        openDatabase();
        reopened = true;
        // The new file knows none of the earlier people; its figures start
        // with the pictures still to be written.
        zeroFigures();
        for (const PendingRow& row : qAsConst(m_pendingRows)) {
            if (row.state == 1)
                ++m_todayNormal;
            else if (row.state == 2)
                ++m_todayAbnormal;
        }
        m_totalNormal = m_todayNormal;
        m_totalAbnormal = m_todayAbnormal;
        if (!m_sevenDays.isEmpty()) {
            m_sevenDays.last().normal = m_todayNormal;
            m_sevenDays.last().abnormal = m_todayAbnormal;
        }
    }
    // The picture rows and today's counts go in together, so that the file
    // always holds as many counts as rows, even when the program ends in
    // between.
    QSqlDatabase db = QSqlDatabase::database();
    bool ok = db.transaction();
    for (int i = 0; ok && i < m_pendingRows.size(); ++i) {
        const PendingRow& row = m_pendingRows.at(i);
        ok = insertPicture(row.day, row.filePath, row.state);
    }
    ok = ok && updateDay(m_today, m_todayNormal, m_todayAbnormal) && db.commit();
    if (!ok) {
        const QString error = db.lastError().text();
        db.rollback();
        reportWrite(false, error);
        return false;
    }
    m_pendingRows.clear();
    reportWrite(true, QString());
    // A new file is news for the operator all the same.
    m_newFailure = reopened;
    return !reopened;
}

void LocalDatabase::reportWrite(bool ok, const QString& error)
{
    // Once per run of failures, not once per person.
    if (ok && m_writeFailing)
        qDebug() << "statistics file written again";
    else if (!ok && !m_writeFailing)
        qDebug().noquote() << QStringLiteral("统计写入失败 statistics file not written: %1").arg(error);
    m_newFailure = !ok && !m_writeFailing;
    m_writeFailing = !ok;
}

bool LocalDatabase::resetCounts()
{
    // Both tables change together or not at all, and the figures shown only
    // drop to zero when the file did.
    QSqlDatabase db = QSqlDatabase::database();
    if (!db.transaction())
        return false;
    QSqlQuery query;
    if (!query.exec("UPDATE datecounttb SET normalnum = 0, unusualnum = 0;")
        || !query.exec("UPDATE pictureinfotb SET sign = 1;") || !db.commit()) {
        db.rollback();
        return false;
    }
    zeroFigures();
    return true;
}

void LocalDatabase::zeroFigures()
{
    m_todayNormal = 0;
    m_todayAbnormal = 0;
    m_totalNormal = 0;
    m_totalAbnormal = 0;
    for (DayCount& day : m_sevenDays) {
        day.normal = 0;
        day.abnormal = 0;
    }
}

bool LocalDatabase::recentPictures(QStringList& paths)
{
    QSqlQuery query;
    query.prepare("SELECT [filepath] FROM [pictureinfotb] WHERE sign = 0 ORDER BY [sno] DESC LIMIT ?");
    query.addBindValue(kRecentPictures);
    const bool ok = query.exec();
    while (query.next()) {
        paths.append(query.value(0).toString());
        qDebug() << "pkpathvec" << paths;
    }
    return ok;
}

QStringList LocalDatabase::dayLabels() const
{
    const QDate now = currentDate();
    QStringList labels;
    for (int i = 0; i < kSevenDays; ++i)
        labels.append(now.addDays(i - (kSevenDays - 1)).toString(QStringLiteral("MM-dd")));
    return labels;
}

QVector<int> LocalDatabase::series(bool normal) const
{
    const QDate now = currentDate();
    QVector<int> values(kSevenDays, 0);
    for (int i = 0; i < kSevenDays; ++i) {
        const QString date = now.addDays(i - (kSevenDays - 1)).toString(kDateFormat);
        for (const DayCount& day : m_sevenDays) {
            if (day.date == date) {
                values[i] = normal ? day.normal : day.abnormal;
                break;
            }
        }
    }
    return values;
}

QVector<int> LocalDatabase::normalSeries() const
{
    return series(true);
}

QVector<int> LocalDatabase::abnormalSeries() const
{
    return series(false);
}

void LocalDatabase::setToday(const QString& date)
{
    m_today = date;
    loadSevenDays();
    loadTotals();
    loadToday();
}

bool LocalDatabase::accountTableExists()
{
    QSqlQuery query;
    if (!query.exec("SELECT name FROM sqlite_master  WHERE type = 'table' and name = 'accounttb' ORDER BY name"))
        return false;
    while (query.next()) {
        if (query.value(0).toString() == QLatin1String("accounttb"))
            return true;
    }
    return false;
}

bool LocalDatabase::accountExists(int id)
{
    QSqlQuery query;
    query.prepare("SELECT [id] FROM [accounttb] WHERE id = ?;");
    query.addBindValue(id);
    return query.exec() && query.next();
}

bool LocalDatabase::loadAccount(int id, QString& userName, QString& password)
{
    QSqlQuery query;
    query.prepare("SELECT [username],[password] FROM [accounttb] WHERE id = ?;");
    query.addBindValue(id);
    if (!query.exec() || !query.next())
        return false;
    userName = query.value(0).toString();
    password = query.value(1).toString();
    return true;
}

void LocalDatabase::saveAccount(int id, const QString& userName, const QString& password)
{
    QSqlQuery query;
    if (accountExists(id)) {
        query.prepare("UPDATE accounttb SET username = ?, password = ? WHERE id = ?;");
        query.addBindValue(text(userName));
        query.addBindValue(text(password));
        query.addBindValue(id);
    } else {
        query.prepare("INSERT INTO accounttb (id,username,password) VALUES (?, ?, ?);");
        query.addBindValue(id);
        query.addBindValue(text(userName));
        query.addBindValue(text(password));
    }
    query.exec();
}
