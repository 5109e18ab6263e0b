#include "store/SiteLink.h"

#include <libpq-fe.h>

#include <QByteArray>

#include <memory>

namespace {

// Keeps two stations that start together from creating the schema at once.
const char* const kSchemaLock = "SELECT pg_advisory_xact_lock(7468711)";

const char* const kCreateSchema[] = {
    "CREATE SCHEMA IF NOT EXISTS ardenix",
    "CREATE TABLE IF NOT EXISTS ardenix.schema_version (version integer NOT NULL)",
    "CREATE TABLE IF NOT EXISTS ardenix.measurements (\n"
    "    id bigserial PRIMARY KEY,\n"
    "    station text NOT NULL,\n"
    "    key text NOT NULL,\n"
    "    day date NOT NULL,\n"
    "    time timestamp,\n"
    "    temperature_c numeric(4,1),\n"
    "    result text NOT NULL CHECK (result IN ('normal', 'abnormal', 'unknown')),\n"
    "    picture text NOT NULL DEFAULT '',\n"
    "    reset boolean NOT NULL DEFAULT false,\n"
    "    received timestamptz NOT NULL DEFAULT now(),\n"
    "    CONSTRAINT measurements_station_key UNIQUE (station, key)\n"
    ")",
    "CREATE INDEX IF NOT EXISTS measurements_station_day ON ardenix.measurements (station, day)",
    "CREATE INDEX IF NOT EXISTS measurements_day ON ardenix.measurements (day)",
    // The totals are always counted from the rows, so they cannot disagree
    // with them; rows cleared by a data reset count as the station's own
    // figures do (not at all), and show as cleared.
    "CREATE OR REPLACE VIEW ardenix.daily AS\n"
    "SELECT station, day,\n"
    "    count(*) FILTER (WHERE result = 'normal' AND NOT reset) AS normal,\n"
    "    count(*) FILTER (WHERE result = 'abnormal' AND NOT reset) AS abnormal,\n"
    "    count(*) FILTER (WHERE result <> 'unknown' AND NOT reset) AS total,\n"
    "    count(*) FILTER (WHERE reset) AS cleared\n"
    "FROM ardenix.measurements GROUP BY station, day",
};

const char* const kInsert
    = "INSERT INTO ardenix.measurements (station, key, day, time, temperature_c, result, picture)\n"
      "SELECT $1, k, d, t, c, r, p\n"
      "FROM unnest($2::text[], $3::date[], $4::timestamp[], $5::numeric[], $6::text[], $7::text[])\n"
      "    AS u(k, d, t, c, r, p)\n"
      "ON CONFLICT ON CONSTRAINT measurements_station_key DO NOTHING";

const char* const kMarkReset = "UPDATE ardenix.measurements SET reset = true WHERE station = $1 AND NOT reset";

struct ResultDeleter {
    void operator()(PGresult* result) const { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

// One element of a PostgreSQL array literal; null becomes NULL.
void appendElement(QByteArray& array, const QString& value, bool null)
{
    if (array.size() > 1)
        array += ',';
    if (null) {
        array += "NULL";
        return;
    }
    array += '"';
    for (const char c : value.toUtf8()) {
        if (c == '"' || c == '\\')
            array += '\\';
        array += c;
    }
    array += '"';
}

QString resultText(int state)
{
    if (state == 1)
        return QStringLiteral("normal");
    if (state == 2)
        return QStringLiteral("abnormal");
    return QStringLiteral("unknown");
}

QString trimmed(const char* message)
{
    return QString::fromUtf8(message ? message : "").trimmed();
}

} // namespace

SiteLink::~SiteLink()
{
    close();
}

bool SiteLink::checkUri(const QString& uri, QString* error)
{
    char* message = nullptr;
    PQconninfoOption* options = PQconninfoParse(uri.toUtf8().constData(), &message);
    const bool ok = options != nullptr && !uri.trimmed().isEmpty();
    if (!ok && error)
        *error = message ? trimmed(message) : QStringLiteral("empty connection URI");
    PQconninfoFree(options);
    PQfreemem(message);
    return ok;
}

bool SiteLink::open(const QString& uri, int connectTimeoutSeconds)
{
    close();
    QString error;
    if (!checkUri(uri, &error))
        return fail(Failure::BadAddress, error);
    // Defaults first: whatever the URI says itself wins over them. The
    // keepalives notice a server that went away without closing.
    const QByteArray timeout = QByteArray::number(qMax(1, connectTimeoutSeconds));
    const QByteArray dbname = uri.toUtf8();
    const char* const keywords[] = { "connect_timeout", "application_name", "keepalives_idle", "keepalives_interval",
        "keepalives_count", "tcp_user_timeout", "dbname", nullptr };
    const char* const values[]
        = { timeout.constData(), "ardenix", "15", "5", "3", "30000", dbname.constData(), nullptr };
    m_conn = PQconnectdbParams(keywords, values, 1);
    if (!m_conn)
        return fail(Failure::Unreachable, QStringLiteral("out of memory"));
    if (PQstatus(m_conn) != CONNECTION_OK) {
        const QString message = trimmed(PQerrorMessage(m_conn));
        // The server answered and said no, as opposed to no server at all.
        const bool refused = PQconnectionNeedsPassword(m_conn) || message.contains(QLatin1String("FATAL"))
            || message.contains(QLatin1String("fe_sendauth"));
        close();
        return fail(refused ? Failure::Login : Failure::Unreachable, message);
    }
    // The server's notices (a schema already there) are no news here.
    PQsetNoticeProcessor(
        m_conn, [](void*, const char*) {}, nullptr);
    m_failure = Failure::None;
    m_error.clear();
    return true;
}

void SiteLink::close()
{
    if (m_conn)
        PQfinish(m_conn);
    m_conn = nullptr;
}

bool SiteLink::isOpen() const
{
    return m_conn != nullptr && PQstatus(m_conn) == CONNECTION_OK;
}

bool SiteLink::fail(Failure failure, const QString& error)
{
    m_failure = failure;
    m_error = error;
    return false;
}

bool SiteLink::execParams(const QString& statement, const QVector<QByteArray>& parameters, int* affected,
    const std::function<bool(const QVector<QString>&)>& onRow)
{
    if (!isOpen())
        return fail(Failure::Unreachable, m_error.isEmpty() ? QStringLiteral("not connected") : m_error);
    QVector<const char*> values;
    values.reserve(parameters.size());
    for (const QByteArray& parameter : parameters)
        values.append(parameter.constData());
    const Result result(PQexecParams(
        m_conn, statement.toUtf8().constData(), int(values.size()), nullptr, values.constData(), nullptr, nullptr, 0));
    const ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        const QString message = trimmed(result ? PQresultErrorMessage(result.get()) : PQerrorMessage(m_conn));
        const QString state = QString::fromLatin1(result ? PQresultErrorField(result.get(), PG_DIAG_SQLSTATE) : "");
        // A connection lost in the middle, or a server shutting down, is an
        // outage like any other; the statement itself was fine.
        const bool lost = PQstatus(m_conn) != CONNECTION_OK || state.startsWith(QLatin1String("08"))
            || state.startsWith(QLatin1String("57P"));
        const Failure failure = lost ? Failure::Unreachable
                                     : (state.startsWith(QLatin1String("28")) ? Failure::Login : Failure::Rejected);
        if (lost)
            close();
        return fail(failure, message.isEmpty() ? QStringLiteral("connection lost") : message);
    }
    if (affected)
        *affected = QByteArray(PQcmdTuples(result.get())).toInt();
    if (onRow && status == PGRES_TUPLES_OK) {
        const int rows = PQntuples(result.get());
        const int columns = PQnfields(result.get());
        QVector<QString> fields(columns);
        for (int row = 0; row < rows; ++row) {
            for (int column = 0; column < columns; ++column)
                fields[column] = QString::fromUtf8(PQgetvalue(result.get(), row, column));
            if (!onRow(fields))
                break;
        }
    }
    m_failure = Failure::None;
    m_error.clear();
    return true;
}

bool SiteLink::exec(const QString& statement)
{
    return execParams(statement, {}, nullptr, {});
}

bool SiteLink::query(const QString& statement, const QVector<QString>& parameters,
    const std::function<bool(const QVector<QString>&)>& onRow)
{
    QVector<QByteArray> values;
    for (const QString& parameter : parameters)
        values.append(parameter.toUtf8());
    return execParams(statement, values, nullptr, onRow);
}

bool SiteLink::ensureSchema()
{
    int version = 0;
    const auto readVersion = [&version](const QVector<QString>& fields) {
        version = qMax(version, fields.value(0).toInt());
        return true;
    };
    // Most connections find the schema in place and change nothing, so a
    // station's role needs no rights beyond its rows once a site exists.
    bool present = false;
    if (!query(QStringLiteral("SELECT to_regclass('ardenix.schema_version') IS NOT NULL"), {},
            [&present](const QVector<QString>& fields) {
                present = fields.value(0) == QLatin1String("t");
                return true;
            }))
        return false;
    if (present && !query(QStringLiteral("SELECT version FROM ardenix.schema_version"), {}, readVersion))
        return false;
    if (version == 0) {
        if (!exec(QStringLiteral("BEGIN")))
            return false;
        // Another station may have created it while this one waited for
        // the lock; its objects are left as they are (they may be another
        // role's).
        bool ok = exec(QLatin1String(kSchemaLock))
            && query(QStringLiteral("SELECT to_regclass('ardenix.schema_version') IS NOT NULL"), {},
                [&present](const QVector<QString>& fields) {
                    present = fields.value(0) == QLatin1String("t");
                    return true;
                });
        for (int i = 0; ok && !present && i < int(sizeof kCreateSchema / sizeof *kCreateSchema); ++i)
            ok = exec(QLatin1String(kCreateSchema[i]));
        ok = ok
            && query(QStringLiteral("INSERT INTO ardenix.schema_version SELECT $1 WHERE NOT EXISTS (SELECT 1 FROM "
                                    "ardenix.schema_version)"),
                { QString::number(SchemaVersion) }, {})
            && query(QStringLiteral("SELECT version FROM ardenix.schema_version"), {}, readVersion);
        if (!ok) {
            const Failure failure = m_failure;
            const QString error = m_error;
            if (isOpen())
                exec(QStringLiteral("ROLLBACK"));
            return fail(failure, error);
        }
        if (!exec(QStringLiteral("COMMIT")))
            return false;
    }
    if (version > SchemaVersion)
        return fail(Failure::Rejected,
            QStringLiteral("the site schema is of version %1, newer than this program's %2")
                .arg(version)
                .arg(SchemaVersion));
    return true;
}

bool SiteLink::storeMeasurements(const QString& station, const QVector<SiteMeasurement>& rows, int* inserted)
{
    QByteArray keys("{"), days("{"), times("{"), temperatures("{"), results("{"), pictures("{");
    for (const SiteMeasurement& row : rows) {
        appendElement(keys, row.key, false);
        appendElement(days, row.day, false);
        appendElement(times, row.time, row.time.isEmpty());
        appendElement(temperatures, row.temperature, row.temperature.isEmpty());
        appendElement(results, resultText(row.state), false);
        appendElement(pictures, row.picture, false);
    }
    const QVector<QByteArray> parameters { station.toUtf8(), keys + '}', days + '}', times + '}', temperatures + '}',
        results + '}', pictures + '}' };
    int count = 0;
    if (!execParams(QLatin1String(kInsert), parameters, &count, {}))
        return false;
    if (inserted)
        *inserted = count;
    return true;
}

bool SiteLink::markReset(const QString& station, int* marked)
{
    int count = 0;
    if (!execParams(QLatin1String(kMarkReset), { station.toUtf8() }, &count, {}))
        return false;
    if (marked)
        *marked = count;
    return true;
}
