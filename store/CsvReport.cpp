#include "store/CsvReport.h"

#include "store/PictureName.h"

#include <QFileInfo>
#include <QIODevice>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

const char* const kDateFormat = "yyyy-MM-dd";
const int kPictureNormal = 1;
const int kPictureAbnormal = 2;
const int kPictureReset = 1;
// A long wait for the program's own writes to finish before a read gives up.
const int kBusyTimeoutMs = 5000;

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

// "WHERE" over the day column for the given ends, with bound placeholders.
QString dayFilter(const CsvReport::DateRange& range)
{
    QStringList conditions;
    if (range.from.isValid())
        conditions << QStringLiteral("[localdate] >= :from");
    if (range.to.isValid())
        conditions << QStringLiteral("[localdate] <= :to");
    if (conditions.isEmpty())
        return QString();
    // A picture whose name carries no day has an empty one, which would
    // sort before every date.
    conditions << QStringLiteral("[localdate] <> ''");
    return QStringLiteral(" WHERE ") + conditions.join(QStringLiteral(" AND "));
}

bool runFiltered(QSqlQuery& query, const QString& statement, const CsvReport::DateRange& range, QString* error)
{
    if (!query.prepare(statement)) {
        setError(error, query.lastError().text());
        return false;
    }
    if (range.from.isValid())
        query.bindValue(QStringLiteral(":from"), range.from.toString(kDateFormat));
    if (range.to.isValid())
        query.bindValue(QStringLiteral(":to"), range.to.toString(kDateFormat));
    if (!query.exec()) {
        setError(error, query.lastError().text());
        return false;
    }
    return true;
}

bool put(QIODevice& out, const QStringList& fields, QString* error)
{
    const QByteArray bytes = CsvReport::record(fields);
    if (out.write(bytes) != bytes.size()) {
        setError(error, out.errorString());
        return false;
    }
    return true;
}

QString resultText(int state)
{
    if (state == kPictureNormal)
        return QStringLiteral("normal");
    if (state == kPictureAbnormal)
        return QStringLiteral("abnormal");
    return QStringLiteral("unknown");
}

QString yesNo(bool value)
{
    return value ? QStringLiteral("yes") : QStringLiteral("no");
}

QString celsiusText(const PictureName& name)
{
    bool ok = false;
    const int tenths = name.temperature.toInt(&ok, 10);
    return ok ? QString::number(tenths / 10.0, 'f', 1) : QString();
}

} // namespace

namespace CsvReport {

QString field(const QString& text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\n'))
        && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QByteArray record(const QStringList& fields)
{
    QStringList quoted;
    quoted.reserve(fields.size());
    for (const QString& text : fields)
        quoted << field(text);
    return (quoted.join(QLatin1Char(',')) + QStringLiteral("\r\n")).toUtf8();
}

bool writeDaily(const QSqlDatabase& db, QIODevice& out, const DateRange& range, QString* error)
{
    QSqlQuery query(db);
    const QString statement = QStringLiteral("SELECT [localdate],[normalnum],[unusualnum] FROM [datecounttb]")
        + dayFilter(range) + QStringLiteral(" ORDER BY [localdate] ASC");
    if (!runFiltered(query, statement, range, error))
        return false;
    if (!put(out,
            { QStringLiteral("date"), QStringLiteral("normal"), QStringLiteral("abnormal"), QStringLiteral("total") },
            error))
        return false;
    while (query.next()) {
        const qint64 normal = query.value(1).toLongLong();
        const qint64 abnormal = query.value(2).toLongLong();
        if (!put(out,
                { query.value(0).toString(), QString::number(normal), QString::number(abnormal),
                    QString::number(normal + abnormal) },
                error))
            return false;
    }
    return true;
}

bool writePictures(const QSqlDatabase& db, QIODevice& out, const DateRange& range, QString* error)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    const QString statement = QStringLiteral("SELECT [localdate],[filepath],[state],[sign] FROM [pictureinfotb]")
        + dayFilter(range) + QStringLiteral(" ORDER BY [sno] ASC");
    if (!runFiltered(query, statement, range, error))
        return false;
    if (!put(out,
            { QStringLiteral("time"), QStringLiteral("camera"), QStringLiteral("temperature_c"),
                QStringLiteral("result"), QStringLiteral("reset"), QStringLiteral("file"), QStringLiteral("present") },
            error))
        return false;
    while (query.next()) {
        const QString path = query.value(1).toString();
        const PictureName name = PictureName::parse(path);
        const QString time = name.valid && name.hasStamp() ? name.dateTime() : query.value(0).toString();
        if (!put(out,
                { time, name.valid ? name.camera : QString(), name.valid ? celsiusText(name) : QString(),
                    resultText(query.value(2).toInt()),
                    query.value(3).toInt() == kPictureReset ? QStringLiteral("yes") : QStringLiteral("no"), path,
                    yesNo(!path.isEmpty() && QFileInfo(path).isFile()) },
                error))
            return false;
    }
    return true;
}

bool openReadOnly(const QString& path, const QString& connectionName, QString* error)
{
    if (!QFileInfo(path).isFile()) {
        setError(error, QStringLiteral("no statistics file at %1").arg(path));
        return false;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
    db.setDatabaseName(path);
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
    if (!db.open()) {
        setError(error, QStringLiteral("cannot open %1: %2").arg(path, db.lastError().text()));
        return false;
    }
    QSqlQuery query(db);
    int tables = 0;
    if (query.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' AND name IN "
                                  "('datecounttb', 'pictureinfotb')"))) {
        while (query.next())
            ++tables;
    }
    if (tables != 2) {
        setError(error, QStringLiteral("%1 is not a statistics file").arg(path));
        query.clear();
        db.close();
        return false;
    }
    return true;
}

} // namespace CsvReport
