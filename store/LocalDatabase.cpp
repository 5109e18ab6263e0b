#include "store/LocalDatabase.h"

#include "store/PictureName.h"
#include "store/SiteOutbox.h"

#include <QDate>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QPair>
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
// Time stamps of pictures the store had to leave without a row: the start-up
// recovery looks back to the earliest of them. Made when first needed.
const char* const kCreateUnrecordedTable = "CREATE TABLE IF NOT EXISTS [unrecordedtb] ([stamp] varchar(14) NOT NULL);";
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

    // One write for the tables and today's row, not one for each: a new
    // file (also one that replaces a deleted file while alarms come in) is
    // ready after a single flush.
    const bool together = db.transaction();
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
    if (m_siteOutbox)
        SiteOutbox::create(db);
    reloadFigures();
    if (together && !db.commit())
        db.rollback();
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
    // A day without a row has taken nothing.
    return query.exec() && query.numRowsAffected() > 0;
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
    const bool ok = countAndStore(filePath, QString());
    const qint64 spent = clock.elapsed();
    m_longestWriteMs = qMax(m_longestWriteMs, spent);
    // The window waits for this on its GUI thread.
    if (spent > kSlowWriteMs)
        qDebug().noquote() << QStringLiteral("statistics write took %1 ms").arg(spent);
    return ok;
}

bool LocalDatabase::countAndStore(const QString& filePath, const QString& countDay)
{
    // The window's day timer moves today forward only every two seconds; a
    // person measured just after midnight belongs to the new day already.
    const QString now = currentDate().toString(kDateFormat);
    if (now != m_today)
        setToday(now);

    int state = -1;
    const QString day = parsePictureName(filePath, state);
    qDebug().noquote() << QStringLiteral("filepath %1 pkdate %2 istate %3").arg(filePath, day).arg(state);
    // Counts and rows stay one write apart: a row the store cannot keep is
    // not counted either, and the next start records its picture.
    if (m_pendingRows.size() >= kMaxPendingRows && !storePending()) {
        qDebug().noquote()
            << QStringLiteral("picture left unrecorded and uncounted until the next start: %1").arg(filePath);
        const QString stamp = PictureName::parse(filePath).stamp;
        if (stamp.size() == 14 && (m_unrecordedSince.isEmpty() || stamp < m_unrecordedSince))
            m_unrecordedSince = stamp;
        return false;
    }
    const bool counted = state == 1 || state == 2;
    // The person was counted into today's figures, so today's record and
    // today's row take the count, whatever day the camera stamped on the
    // picture (its clock may sit on the other side of midnight).
    const QString into = counted ? (countDay.isEmpty() ? m_today : countDay) : QString();
    m_pendingRows.append({ day, filePath, state, into });
    if (counted) {
        addCount(into, state == 1);
        qDebug().noquote() << QStringLiteral("m_normalnum %1 m_unusualnum %2 ").arg(m_todayNormal).arg(m_todayAbnormal);
    }
    return storePending();
}

void LocalDatabase::addCount(const QString& day, bool normal)
{
    (normal ? m_totalNormal : m_totalAbnormal) += 1;
    if (day == m_today)
        (normal ? m_todayNormal : m_todayAbnormal) += 1;
    // Only days inside the seven-day window have a record.
    const QDate date = QDate::fromString(day, kDateFormat);
    const QDate today = QDate::fromString(m_today, kDateFormat);
    if (!date.isValid() || date > today || date.daysTo(today) >= kSevenDays)
        return;
    int i = m_sevenDays.size();
    while (i > 0 && m_sevenDays.at(i - 1).date > day)
        --i;
    if (i == 0 || m_sevenDays.at(i - 1).date != day) {
        DayCount record;
        record.date = day;
        m_sevenDays.insert(i, record);
    } else {
        --i;
    }
    (normal ? m_sevenDays[i].normal : m_sevenDays[i].abnormal) += 1;
}

namespace {

// Date folders this far back (and one ahead, for a camera clock on the other
// side of midnight) are looked through for unrecorded pictures.
constexpr int kRecoverDays = 2;
// A booked picture is written up to a few seconds after its second, so one
// taken just before the newest row may still lack its own.
constexpr int kRecoverOverlapSeconds = 30;

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

QString LocalDatabase::recoverFrom()
{
    // The newest row's time stamp; rows without one (odd names) are passed
    // over.
    QString from;
    QSqlQuery rows;
    if (rows.exec(QStringLiteral("SELECT [filepath] FROM [pictureinfotb] ORDER BY [sno] DESC LIMIT 100"))) {
        while (from.isEmpty() && rows.next()) {
            const PictureName name = PictureName::parse(rows.value(0).toString());
            if (name.hasStamp())
                from = name.stamp;
        }
    }
    QSqlQuery unrecorded;
    if (unrecorded.exec(QStringLiteral("SELECT min([stamp]) FROM [unrecordedtb]")) && unrecorded.next()) {
        const QString stamp = unrecorded.value(0).toString();
        if (!stamp.isEmpty() && (from.isEmpty() || stamp < from))
            from = stamp;
    }
    return from;
}

int LocalDatabase::recoverPictures(const QString& shotDir)
{
    if (shotDir.isEmpty())
        return 0;
    // Only what this file can have missed: a picture taken after its newest
    // row. Pictures older than that, or any for a file without rows, were
    // counted by another file, or never by any, and stay out.
    const QString newest = recoverFrom();
    if (newest.isEmpty())
        return 0;
    const QString stampFormat = QStringLiteral("yyyyMMddHHmmss");
    const QDateTime newestTime(QDate::fromString(newest.left(8), QStringLiteral("yyyyMMdd")),
        QTime::fromString(newest.mid(8), QStringLiteral("HHmmss")), Qt::UTC);
    const QString from
        = newestTime.isValid() ? newestTime.addSecs(-kRecoverOverlapSeconds).toString(stampFormat) : newest;
    const QDate today = currentDate();
    int recovered = 0;
    bool complete = true;
    for (int offset = -kRecoverDays; offset <= 1; ++offset) {
        const QString day = today.addDays(offset).toString(kDateFormat);
        // Paths are built as the snapshots build them, so that they match
        // the rows of recorded pictures.
        const QString folder = shotDir + QLatin1Char('/') + day;
        const QStringList names = QDir(folder).entryList({ QStringLiteral("*.jpg") }, QDir::Files, QDir::Name);
        for (const QString& name : names) {
            const PictureName picture = PictureName::parse(name);
            if (!picture.hasStamp() || picture.stamp < from)
                continue;
            const QString path = folder + QLatin1Char('/') + name;
            QSqlQuery known;
            known.prepare(QStringLiteral("SELECT 1 FROM [pictureinfotb] WHERE [filepath] = ? LIMIT 1"));
            known.addBindValue(path);
            if (!known.exec() || known.next() || !completeJpeg(path))
                continue;
            qDebug().noquote() << QStringLiteral("recording a picture left unrecorded: %1").arg(path);
            QElapsedTimer clock;
            clock.start();
            // A folder ahead of the computer's clock counts today.
            complete = countAndStore(path, offset > 0 ? QString() : day) && complete;
            m_longestWriteMs = qMax(m_longestWriteMs, clock.elapsed());
            ++recovered;
        }
    }
    if (complete) {
        QSqlQuery done;
        done.exec(QStringLiteral("DELETE FROM [unrecordedtb]"));
    }
    return recovered;
}

bool LocalDatabase::storePending()
{
    // A file deleted under the program takes every later write with it:
    // start a new one at the same place. The new file knows none of the
    // earlier people; its figures start with the pictures still to be
    // written.
    bool reopened = false;
    if (!m_path.isEmpty() && !QFileInfo::exists(m_path)) {
        reportWrite(false, QStringLiteral("the file is gone; starting a new one"));
        openDatabase();
        reopened = true;
    }
    QSqlDatabase db = QSqlDatabase::database();
    if (!writePending()) {
        const QString error = db.lastError().text();
        db.rollback();
        reportWrite(false, error);
        return false;
    }
    m_pendingRows.clear();
    m_unrecordedSince.clear();
    reportWrite(true, QString());
    if (m_siteOutbox && m_onSiteQueued)
        m_onSiteQueued();
    // A new file is news for the operator all the same.
    m_newFailure = reopened;
    return !reopened;
}

bool LocalDatabase::writePending()
{
    // The picture rows and the counts of their days go in together, so that
    // the file always holds as many counts as rows, even when the program
    // ends in between. Counts are added to what the file holds, each to the
    // day it was counted into; that day's row is made in the same write.
    QMap<QString, QPair<int, int>> perDay;
    perDay.insert(m_today, { 0, 0 });
    for (const PendingRow& row : qAsConst(m_pendingRows)) {
        if (row.countDay.isEmpty())
            continue;
        QPair<int, int>& counts = perDay[row.countDay];
        (row.state == 1 ? counts.first : counts.second) += 1;
    }
    QSqlDatabase db = QSqlDatabase::database();
    if (!db.transaction())
        return false;
    for (const PendingRow& row : qAsConst(m_pendingRows)) {
        if (!insertPicture(row.day, row.filePath, row.state))
            return false;
        if (m_siteOutbox
            && !SiteOutbox::queueMeasurement(
                db, row.countDay.isEmpty() ? m_today : row.countDay, row.filePath, row.state))
            return false;
    }
    for (auto it = perDay.cbegin(); it != perDay.cend(); ++it) {
        QSqlQuery create;
        create.prepare("INSERT OR IGNORE INTO datecounttb (localdate,normalnum,unusualnum) VALUES (?, 0, 0);");
        create.addBindValue(text(it.key()));
        QSqlQuery add;
        add.prepare(
            "UPDATE datecounttb SET normalnum = normalnum + ?, unusualnum = unusualnum + ? WHERE localdate = ?;");
        add.addBindValue(it.value().first);
        add.addBindValue(it.value().second);
        add.addBindValue(text(it.key()));
        if (!create.exec() || !add.exec() || add.numRowsAffected() != 1)
            return false;
    }
    if (!m_unrecordedSince.isEmpty()) {
        QSqlQuery create;
        if (!create.exec(kCreateUnrecordedTable))
            return false;
        QSqlQuery note;
        note.prepare("INSERT INTO [unrecordedtb] ([stamp]) VALUES (?);");
        note.addBindValue(m_unrecordedSince);
        if (!note.exec())
            return false;
    }
    return db.commit();
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
    // drop to zero when the file did. Counts still waiting are written
    // first, so that none returns after the reset.
    if (!m_pendingRows.isEmpty() && !storePending())
        return false;
    QSqlDatabase db = QSqlDatabase::database();
    if (!db.transaction())
        return false;
    QSqlQuery query;
    if (!query.exec("UPDATE datecounttb SET normalnum = 0, unusualnum = 0;")
        || !query.exec("UPDATE pictureinfotb SET sign = 1;") || (m_siteOutbox && !SiteOutbox::queueReset(db))
        || !db.commit()) {
        db.rollback();
        return false;
    }
    if (m_siteOutbox && m_onSiteQueued)
        m_onSiteQueued();
    zeroFigures();
    return true;
}

void LocalDatabase::enableSiteOutbox(std::function<void()> onQueued)
{
    m_siteOutbox = SiteOutbox::create(QSqlDatabase::database());
    if (!m_siteOutbox)
        qDebug() << "site outbox not created: site database not fed";
    m_onSiteQueued = std::move(onQueued);
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
    const QVector<DayCount> days = m_sevenDays;
    const int totalNormal = m_totalNormal;
    const int totalAbnormal = m_totalAbnormal;
    m_today = date;
    if (!reloadFigures())
        carryFiguresOver(days, totalNormal, totalAbnormal);
}

bool LocalDatabase::reloadFigures()
{
    // What the file holds, plus what is counted but not written yet.
    m_todayNormal = 0;
    m_todayAbnormal = 0;
    if (!loadSevenDays() || !loadTotals())
        return false;
    loadToday();
    for (const PendingRow& row : qAsConst(m_pendingRows)) {
        if (!row.countDay.isEmpty())
            addCount(row.countDay, row.state == 1);
    }
    return true;
}

void LocalDatabase::carryFiguresOver(const QVector<DayCount>& days, int totalNormal, int totalAbnormal)
{
    // The file cannot be read: the figures held go on and the window moves
    // to the new day. Each record holds its day's counts, written or not.
    m_totalNormal = totalNormal;
    m_totalAbnormal = totalAbnormal;
    const QDate today = QDate::fromString(m_today, kDateFormat);
    m_sevenDays.clear();
    for (const DayCount& day : days) {
        const QDate date = QDate::fromString(day.date, kDateFormat);
        if (date.isValid() && date <= today && date.daysTo(today) < kSevenDays)
            m_sevenDays.append(day);
    }
    if (m_sevenDays.isEmpty() || m_sevenDays.last().date != m_today) {
        DayCount record;
        record.date = m_today;
        m_sevenDays.append(record);
    }
    m_todayNormal = m_sevenDays.last().normal;
    m_todayAbnormal = m_sevenDays.last().abnormal;
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
