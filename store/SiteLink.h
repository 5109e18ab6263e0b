// SiteLink is one connection to a site's PostgreSQL database, which many
// stations feed with their measurements: it creates the site's schema when
// absent, stores measurements idempotently (one row per station and
// measurement key, however often it is sent), marks a station's rows at a
// data reset, and reads them back for reports. Talks libpq directly; one
// object belongs to one thread at a time. Blocking: never on the GUI thread.
#pragma once

#include <QString>
#include <QVector>

#include <functional>

struct pg_conn;

// One measurement as a station sends it.
struct SiteMeasurement {
    QString key; // unique per station: the picture's name, or a made-up key for a count without one
    QString day; // "yyyy-MM-dd": the day the station counted it into
    QString time; // "yyyy-MM-dd hh:mm:ss", the camera's time of the picture; empty when unknown
    QString temperature; // degrees Celsius with one decimal; empty when unknown
    int state = 0; // 1 normal, 2 abnormal, anything else unknown
    QString picture; // the picture's file name; empty without one
};

class SiteLink {
public:
    // How the last call failed.
    enum class Failure {
        None,
        BadAddress, // not a connection URI libpq understands
        Unreachable, // no server answers (refused, timed out, gone)
        Login, // the server refused the login (password, role, database)
        Rejected, // the server refused a statement (rights, schema)
    };

    // The version of the site schema this program creates and writes.
    static constexpr int SchemaVersion = 1;

    SiteLink() = default;
    ~SiteLink();
    SiteLink(const SiteLink&) = delete;
    SiteLink& operator=(const SiteLink&) = delete;

    // Whether uri is a connection string libpq accepts; a message when not.
    static bool checkUri(const QString& uri, QString* error);

    // Connects; connectTimeoutSeconds applies unless the URI sets its own.
    bool open(const QString& uri, int connectTimeoutSeconds = 10);
    void close();
    bool isOpen() const;

    // Creates the schema (tables, unique key, indexes, view, version) when
    // absent; refuses a schema of a newer version.
    bool ensureSchema();
    // Stores the rows of station in one transaction; rows stored before are
    // left as they are. inserted: how many were new.
    bool storeMeasurements(const QString& station, const QVector<SiteMeasurement>& rows, int* inserted = nullptr);
    // Marks every row of station stored so far as cleared by a data reset.
    bool markReset(const QString& station, int* marked = nullptr);

    // Runs a statement with text parameters; each result row is handed to
    // onRow as text fields (empty for NULL). For reports.
    bool query(const QString& statement, const QVector<QString>& parameters,
        const std::function<bool(const QVector<QString>&)>& onRow);
    // Runs a statement without parameters or results (BEGIN, COMMIT, ...).
    bool exec(const QString& statement);

    Failure failure() const { return m_failure; }
    QString lastError() const { return m_error; }

private:
    bool fail(Failure failure, const QString& error);
    bool execParams(const QString& statement, const QVector<QByteArray>& parameters, int* affected,
        const std::function<bool(const QVector<QString>&)>& onRow);

    pg_conn* m_conn = nullptr;
    Failure m_failure = Failure::None;
    QString m_error;
};
