// The site sink at the scale of a large site: 50 stations, each with a
// one-hour backlog at 20 people a minute in its outbox (60,000 rows in all),
// replay into one PostgreSQL server at once, each station on its own sink
// thread and connection, as after an outage of the site. The reference is a
// plain COPY of the same 60,000 rows into the same table over one
// connection. Runs alternate; the ratio is the median of the pairs' ratios
// of times.
//
//   BENCH site-ingest ratio=<ours/reference> ours=<ms>ms reference=<ms>ms min=.. max=.. ours_rows_s=.. ...
//   BENCH site-steady ratio=<server CPU/5 %> ours=<%>% reference=5% rows=..
//
// The second line is the steady load of 50 lanes (1,000 rows a minute, one
// row at a time as people pass) for BENCH_SECONDS (default 60): the CPU time
// of all the server's processes over that time, as a share of one core.
// Starts its own server (scripts/site-server.sh) on 127.0.88.1; run it in a
// network namespace of its own. BENCH_RUNS sets the pairs (default 5).

#include "store/SiteLink.h"
#include "store/SiteOutbox.h"
#include "store/SiteSink.h"

#include <libpq-fe.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int kStations = 50;
constexpr int kRowsPerStation = 1200; // one hour at 20 a minute
constexpr int kRows = kStations * kRowsPerStation;
const char* const kAddress = "127.0.88.1";
constexpr int kPort = 5432;

void quietDebug(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type != QtDebugMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

QString server(const QStringList& arguments)
{
    QProcess process;
    process.start(
        qEnvironmentVariable("ARDENIX_SOURCE_DIR", QStringLiteral(".")) + "/scripts/site-server.sh", arguments);
    process.waitForFinished(180000);
    if (process.exitCode() != 0)
        std::fprintf(stderr, "site-server.sh: %s\n", process.readAllStandardError().constData());
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

QString uri()
{
    return QStringLiteral("postgresql://station:station@%1:%2/site").arg(QLatin1String(kAddress)).arg(kPort);
}

QString station(int index)
{
    return QStringLiteral("lane-%1").arg(index + 1, 2, 10, QLatin1Char('0'));
}

// The picture of the station's i-th person of the hour.
QString picture(int stationIndex, int i, int* state)
{
    const QDateTime at = QDateTime(QDate(2026, 12, 9), QTime(8, 0)).addSecs(qint64(i) * 3);
    *state = (i * 7 + stationIndex) % 23 == 0 ? 2 : 1;
    return QStringLiteral("/shots/2026-12-09/%1-%2-%3-%4-1.jpg")
        .arg(stationIndex + 100)
        .arg(360 + (i * 13 + stationIndex) % 30)
        .arg(at.toString(QStringLiteral("yyyyMMddhhmmss")))
        .arg(*state);
}

bool fillOutbox(const QString& path, int stationIndex)
{
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fill"));
        db.setDatabaseName(path);
        ok = db.open() && SiteOutbox::create(db) && db.transaction();
        for (int i = 0; ok && i < kRowsPerStation; ++i) {
            int state = 0;
            const QString name = picture(stationIndex, i, &state);
            ok = SiteOutbox::queueMeasurement(db, QStringLiteral("2026-12-09"), name, state);
        }
        ok = ok && db.commit();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("fill"));
    return ok;
}

bool resetSite()
{
    SiteLink link;
    return link.open(uri()) && link.exec(QStringLiteral("DROP SCHEMA IF EXISTS ardenix CASCADE"))
        && link.ensureSchema();
}

qint64 siteRows()
{
    SiteLink link;
    qint64 rows = -1;
    if (link.open(uri()))
        link.query(QStringLiteral("SELECT count(*) FROM ardenix.measurements"), {}, [&rows](const QVector<QString>& r) {
            rows = r.value(0).toLongLong();
            return false;
        });
    return rows;
}

std::unique_ptr<SiteSink> makeSink(const QString& localPath, int index)
{
    SiteSink::Settings settings;
    settings.uri = uri();
    settings.station = station(index);
    settings.localPath = localPath;
    return std::make_unique<SiteSink>(settings);
}

// The sink's replay of every outbox; milliseconds, or -1.
double runOurs(const QString& templates, const QString& work)
{
    if (!resetSite())
        return -1;
    QVector<QString> paths;
    for (int i = 0; i < kStations; ++i) {
        const QString path = QStringLiteral("%1/%2.dat").arg(work).arg(i);
        QFile::remove(path);
        if (!QFile::copy(QStringLiteral("%1/%2.dat").arg(templates).arg(i), path))
            return -1;
        paths.append(path);
    }
    std::vector<std::unique_ptr<SiteSink>> sinks;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < kStations; ++i) {
        sinks.push_back(makeSink(paths.at(i), i));
        sinks.back()->start();
    }
    for (int round = 0; round < 60000; ++round) {
        qint64 confirmed = 0;
        for (const auto& sink : sinks)
            confirmed += sink->confirmed();
        if (confirmed >= kRows)
            break;
        QThread::msleep(2);
    }
    const double ms = clock.nsecsElapsed() / 1e6;
    sinks.clear();
    return siteRows() == kRows ? ms : -1;
}

// A plain COPY of the same rows into the same table; milliseconds, or -1.
double runReference()
{
    if (!resetSite())
        return -1;
    QByteArray data;
    for (int s = 0; s < kStations; ++s) {
        for (int i = 0; i < kRowsPerStation; ++i) {
            int state = 0;
            const QString path = picture(s, i, &state);
            const QString name = path.mid(path.lastIndexOf('/') + 1);
            const QStringList f = name.split('-');
            const QString stamp = f.at(2);
            data += QStringLiteral("%1\t%2\t2026-12-09\t%3-%4-%5 %6:%7:%8\t%9\t%10\t%2\n")
                        .arg(station(s), name, stamp.mid(0, 4), stamp.mid(4, 2), stamp.mid(6, 2), stamp.mid(8, 2),
                            stamp.mid(10, 2), stamp.mid(12, 2))
                        .arg(f.at(1).toInt() / 10.0, 0, 'f', 1)
                        .arg(state == 1 ? QStringLiteral("normal") : QStringLiteral("abnormal"))
                        .toUtf8();
        }
    }
    QElapsedTimer clock;
    clock.start();
    PGconn* conn = PQconnectdb(uri().toUtf8().constData());
    bool ok = PQstatus(conn) == CONNECTION_OK;
    if (ok) {
        PGresult* result = PQexec(conn,
            "COPY ardenix.measurements (station, key, day, time, temperature_c, result, "
            "picture) FROM STDIN");
        ok = PQresultStatus(result) == PGRES_COPY_IN;
        PQclear(result);
        ok = ok && PQputCopyData(conn, data.constData(), int(data.size())) == 1 && PQputCopyEnd(conn, nullptr) == 1;
        result = PQgetResult(conn);
        ok = ok && PQresultStatus(result) == PGRES_COMMAND_OK;
        if (!ok)
            std::fprintf(stderr, "COPY: %s\n", PQerrorMessage(conn));
        PQclear(result);
    }
    PQfinish(conn);
    const double ms = clock.nsecsElapsed() / 1e6;
    return ok && siteRows() == kRows ? ms : -1;
}

// CPU seconds of the server: the postmaster and its children.
double serverCpuSeconds(qint64 postmaster)
{
    const double tick = double(sysconf(_SC_CLK_TCK));
    double seconds = 0;
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& pid : pids) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() < 13)
            continue;
        const qint64 id = pid.toLongLong();
        if (id != postmaster && fields.at(1).toLongLong() != postmaster)
            continue;
        seconds += (fields.at(11).toDouble() + fields.at(12).toDouble()) / tick;
    }
    return seconds;
}

// Fifty lanes, one row at a time as people pass, for the given seconds: the
// server's CPU share of one core in percent, or -1.
double runSteady(const QString& work, const QString& folder, int seconds, int* sent)
{
    if (!resetSite())
        return -1;
    QFile pidFile(folder + "/data/postmaster.pid");
    if (!pidFile.open(QIODevice::ReadOnly))
        return -1;
    const qint64 postmaster = pidFile.readLine().trimmed().toLongLong();
    std::vector<std::unique_ptr<SiteSink>> sinks;
    QVector<QString> connections;
    for (int i = 0; i < kStations; ++i) {
        const QString path = QStringLiteral("%1/steady-%2.dat").arg(work).arg(i);
        QFile::remove(path);
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("lane%1").arg(i));
        db.setDatabaseName(path);
        if (!db.open() || !SiteOutbox::create(db))
            return -1;
        connections.append(db.connectionName());
        sinks.push_back(makeSink(path, i));
        sinks.back()->start();
    }
    // Every station has connected and checked the schema before the clock runs.
    QThread::msleep(3000);
    const double before = serverCpuSeconds(postmaster);
    QElapsedTimer clock;
    clock.start();
    int queued = 0;
    // 1,000 rows a minute: one every 60 ms, the lanes in turn.
    const qint64 total = qint64(seconds) * 1000 / 60;
    for (qint64 n = 0; n < total; ++n) {
        const qint64 due = n * 60;
        const qint64 wait = due - clock.elapsed();
        if (wait > 0)
            QThread::msleep(wait);
        const int lane = int(n % kStations);
        int state = 0;
        const QString name = picture(lane, int(n / kStations), &state);
        if (SiteOutbox::queueMeasurement(QSqlDatabase::database(connections.at(lane)), "2026-12-09", name, state)) {
            sinks.at(lane)->wake();
            ++queued;
        }
    }
    for (int round = 0; round < 5000; ++round) {
        qint64 confirmed = 0;
        for (const auto& sink : sinks)
            confirmed += sink->confirmed();
        if (confirmed >= queued)
            break;
        QThread::msleep(2);
    }
    const double wall = clock.nsecsElapsed() / 1e9;
    const double cpu = serverCpuSeconds(postmaster) - before;
    sinks.clear();
    for (const QString& name : connections) {
        QSqlDatabase::database(name, false).close();
        QSqlDatabase::removeDatabase(name);
    }
    *sent = queued;
    return siteRows() == queued ? 100.0 * cpu / wall : -1;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quietDebug);
    const int runs = std::max(5, qEnvironmentVariableIntValue("BENCH_RUNS"));
    const int steadySeconds
        = qEnvironmentVariableIsSet("BENCH_SECONDS") ? std::max(10, qEnvironmentVariableIntValue("BENCH_SECONDS")) : 60;

    // A server that makes its commits durable, as a site's would.
    qputenv("SITE_SERVER_FSYNC", "on");
    const QString folder
        = server({ "start", kAddress, QString::number(kPort), QString::number(QCoreApplication::applicationPid()) });
    if (folder.isEmpty()) {
        std::fprintf(stderr, "bench-site-ingest: no server could be started\n");
        return 1;
    }
    QTemporaryDir work;
    const QString templates = work.filePath("templates");
    QDir().mkpath(templates);
    bool ok = true;
    for (int i = 0; ok && i < kStations; ++i)
        ok = fillOutbox(QStringLiteral("%1/%2.dat").arg(templates).arg(i), i);

    std::vector<double> ours, reference, ratios;
    for (int run = 0; ok && run < runs; ++run) {
        const double a = runOurs(templates, work.path());
        const double b = runReference();
        ok = a > 0 && b > 0;
        if (!ok)
            break;
        ours.push_back(a);
        reference.push_back(b);
        ratios.push_back(a / b);
        std::fprintf(stderr, "run %d: sink %.0f ms, COPY %.0f ms\n", run + 1, a, b);
    }
    int sent = 0;
    const double steady = ok ? runSteady(work.path(), folder, steadySeconds, &sent) : -1;
    server({ "remove", folder });
    if (!ok || steady < 0) {
        std::fprintf(stderr, "bench-site-ingest: a run failed\n");
        return 1;
    }
    const double oursMs = median(ours);
    const double referenceMs = median(reference);
    std::printf("BENCH site-ingest ratio=%.2f ours=%.0fms reference=%.0fms min=%.2f max=%.2f ours_rows_s=%.0f "
                "reference_rows_s=%.0f rows=%d stations=%d goal=60000ms\n",
        median(ratios), oursMs, referenceMs, *std::min_element(ratios.begin(), ratios.end()),
        *std::max_element(ratios.begin(), ratios.end()), kRows / (oursMs / 1000), kRows / (referenceMs / 1000), kRows,
        kStations);
    std::printf("BENCH site-steady ratio=%.2f ours=%.2f%% reference=5%% rows=%d seconds=%d lanes=%d\n", steady / 5.0,
        steady, sent, steadySeconds, kStations);
    return 0;
}
