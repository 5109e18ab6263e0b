#include "store/SiteOutbox.h"

#include "store/PictureName.h"

#include <QDate>
#include <QDateTime>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

const char* const kCreate = "CREATE TABLE IF NOT EXISTS [siteoutbox] (\n"
                            "\t[id] integer NOT NULL PRIMARY KEY AUTOINCREMENT,\n"
                            "\t[kind] integer NOT NULL,\n"
                            "\t[key] text NOT NULL,\n"
                            "\t[day] text NOT NULL,\n"
                            "\t[filepath] text NOT NULL,\n"
                            "\t[state] integer NOT NULL\n"
                            ");";
const int kMeasurement = 0;
const int kReset = 1;

QString fileName(const QString& path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

bool insert(QSqlDatabase db, int kind, const QString& key, const QString& day, const QString& filePath, int state)
{
    QSqlQuery query(db);
    query.prepare(QStringLiteral("INSERT INTO [siteoutbox] (kind, key, day, filepath, state) VALUES (?, ?, ?, ?, ?)"));
    query.addBindValue(kind);
    query.addBindValue(key);
    query.addBindValue(day.isNull() ? QStringLiteral("") : day);
    query.addBindValue(filePath.isNull() ? QStringLiteral("") : filePath);
    query.addBindValue(state);
    return query.exec();
}

SiteMeasurement measurement(const QString& key, const QString& day, const QString& filePath, int state)
{
    SiteMeasurement row;
    row.key = key;
    row.state = state;
    row.picture = fileName(filePath);
    const PictureName name = PictureName::parse(filePath);
    if (name.valid && name.hasStamp()
        && QDateTime::fromString(name.dateTime(), QStringLiteral("yyyy-MM-dd hh:mm:ss")).isValid())
        row.time = name.dateTime();
    bool isNumber = false;
    const int tenths = name.valid ? name.temperature.toInt(&isNumber, 10) : 0;
    // The site's column holds up to 999.9.
    if (isNumber && tenths > -10000 && tenths < 10000)
        row.temperature = QString::number(tenths / 10.0, 'f', 1);
    // A day the server would refuse would hold up the queue for good.
    if (QDate::fromString(day, QStringLiteral("yyyy-MM-dd")).isValid())
        row.day = day;
    else if (!row.time.isEmpty())
        row.day = row.time.left(10);
    else
        row.day = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
    return row;
}

} // namespace

namespace SiteOutbox {

bool create(QSqlDatabase db)
{
    QSqlQuery query(db);
    return query.exec(QLatin1String(kCreate));
}

QString keyFor(const QString& filePath)
{
    // A picture on disk has a name no other picture of the station has. A
    // picture that could not be written shares its would-be name with any
    // other person of the same second, temperature and result, so its row
    // (like a row without a name) gets a key of its own.
    const QString name = fileName(filePath);
    if (!name.isEmpty() && QFileInfo(filePath).isFile())
        return name;
    return QStringLiteral("%1#%2-%3")
        .arg(name.isEmpty() ? QStringLiteral("nopicture") : name)
        .arg(QDateTime::currentMSecsSinceEpoch())
        .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'));
}

bool queueMeasurement(QSqlDatabase db, const QString& day, const QString& filePath, int state)
{
    return insert(db, kMeasurement, keyFor(filePath), day, filePath, state);
}

bool queueReset(QSqlDatabase db)
{
    return insert(db, kReset, QString::number(QDateTime::currentMSecsSinceEpoch()), QString(), QString(), 0);
}

bool take(QSqlDatabase db, int limit, QVector<Entry>& entries, QString* error)
{
    entries.clear();
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(
        QStringLiteral("SELECT id, kind, key, day, filepath, state FROM [siteoutbox] ORDER BY id ASC LIMIT ?"));
    query.addBindValue(qMax(1, limit));
    if (!query.exec()) {
        if (error)
            *error = query.lastError().text();
        return false;
    }
    while (query.next()) {
        Entry entry;
        entry.id = query.value(0).toLongLong();
        entry.reset = query.value(1).toInt() == kReset;
        if (entry.reset && !entries.isEmpty())
            break;
        if (!entry.reset)
            entry.row = measurement(query.value(2).toString(), query.value(3).toString(), query.value(4).toString(),
                query.value(5).toInt());
        entries.append(entry);
        if (entry.reset)
            break;
    }
    return true;
}

bool remove(QSqlDatabase db, qint64 id, QString* error)
{
    QSqlQuery query(db);
    query.prepare(QStringLiteral("DELETE FROM [siteoutbox] WHERE id <= ?"));
    query.addBindValue(id);
    if (query.exec())
        return true;
    if (error)
        *error = query.lastError().text();
    return false;
}

qint64 size(QSqlDatabase db)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT count(*) FROM [siteoutbox]")) || !query.next())
        return -1;
    return query.value(0).toLongLong();
}

} // namespace SiteOutbox
