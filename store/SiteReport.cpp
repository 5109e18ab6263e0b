#include "store/SiteReport.h"

#include "store/PictureName.h"
#include "store/SiteLink.h"

#include <QIODevice>

namespace {

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

// " WHERE ..." over day and station with numbered parameters.
QString filter(const CsvReport::DateRange& range, const QString& station, QVector<QString>& parameters)
{
    QStringList conditions;
    if (range.from.isValid()) {
        parameters << range.from.toString(QStringLiteral("yyyy-MM-dd"));
        conditions << QStringLiteral("day >= $%1::date").arg(parameters.size());
    }
    if (range.to.isValid()) {
        parameters << range.to.toString(QStringLiteral("yyyy-MM-dd"));
        conditions << QStringLiteral("day <= $%1::date").arg(parameters.size());
    }
    if (!station.isNull()) {
        parameters << station;
        conditions << QStringLiteral("station = $%1").arg(parameters.size());
    }
    return conditions.isEmpty() ? QString() : QStringLiteral(" WHERE ") + conditions.join(QStringLiteral(" AND "));
}

bool write(QIODevice& out, const QStringList& fields, QString* error)
{
    const QByteArray bytes = CsvReport::record(fields);
    if (out.write(bytes) == bytes.size())
        return true;
    setError(error, out.errorString());
    return false;
}

bool run(SiteLink& link, QIODevice& out, const QStringList& header, const QString& statement,
    const QVector<QString>& parameters, const std::function<QStringList(const QVector<QString>&)>& toFields,
    QString* error)
{
    if (!write(out, header, error))
        return false;
    bool written = true;
    const bool ok = link.query(statement, parameters, [&](const QVector<QString>& row) {
        written = write(out, toFields(row), error);
        return written;
    });
    if (!ok)
        setError(error, link.lastError());
    return ok && written;
}

} // namespace

namespace SiteReport {

bool open(SiteLink& link, const QString& uri, QString* error)
{
    QString problem;
    if (!SiteLink::checkUri(uri, &problem)) {
        setError(error, QStringLiteral("not a PostgreSQL connection URI: %1").arg(problem));
        return false;
    }
    if (!link.open(uri)) {
        setError(error, QStringLiteral("cannot reach the site database: %1").arg(link.lastError()));
        return false;
    }
    bool present = false;
    const bool ok = link.exec(QStringLiteral("BEGIN TRANSACTION READ ONLY"))
        && link.query(QStringLiteral("SELECT to_regclass('ardenix.measurements') IS NOT NULL"), {},
            [&present](const QVector<QString>& row) {
                present = row.value(0) == QLatin1String("t");
                return true;
            });
    if (!ok) {
        setError(error, QStringLiteral("cannot read the site database: %1").arg(link.lastError()));
        return false;
    }
    if (!present) {
        setError(error, QStringLiteral("the database holds no site data (no table ardenix.measurements)"));
        return false;
    }
    return true;
}

bool writeDaily(
    SiteLink& link, QIODevice& out, const CsvReport::DateRange& range, const QString& station, QString* error)
{
    QVector<QString> parameters;
    const QString statement = QStringLiteral("SELECT station, day, normal, abnormal, total FROM ardenix.daily")
        + filter(range, station, parameters) + QStringLiteral(" ORDER BY day, station");
    return run(
        link, out,
        { QStringLiteral("station"), QStringLiteral("date"), QStringLiteral("normal"), QStringLiteral("abnormal"),
            QStringLiteral("total") },
        statement, parameters, [](const QVector<QString>& row) { return QStringList(row.toList()); }, error);
}

bool writePictures(
    SiteLink& link, QIODevice& out, const CsvReport::DateRange& range, const QString& station, QString* error)
{
    QVector<QString> parameters;
    const QString statement = QStringLiteral("SELECT station, coalesce(to_char(time, 'YYYY-MM-DD HH24:MI:SS'), "
                                             "day::text), temperature_c, result, reset, picture "
                                             "FROM ardenix.measurements")
        + filter(range, station, parameters) + QStringLiteral(" ORDER BY id");
    return run(
        link, out,
        { QStringLiteral("station"), QStringLiteral("time"), QStringLiteral("camera"), QStringLiteral("temperature_c"),
            QStringLiteral("result"), QStringLiteral("reset"), QStringLiteral("file") },
        statement, parameters,
        [](const QVector<QString>& row) {
            const PictureName name = PictureName::parse(row.value(5));
            return QStringList { row.value(0), row.value(1), name.valid ? name.camera : QString(), row.value(2),
                row.value(3), row.value(4) == QLatin1String("t") ? QStringLiteral("yes") : QStringLiteral("no"),
                row.value(5) };
        },
        error);
}

} // namespace SiteReport
