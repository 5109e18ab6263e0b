// ardenix-report: writes the daily counts or the alarm pictures of the
// statistics file as CSV on standard output. Opens the file read-only, so it
// may run while the program is counting. With a PostgreSQL URI it reads the
// site database that stations feed instead, in a read-only transaction.

#include "store/CsvReport.h"
#include "store/LocalDatabase.h"
#include "store/SiteLink.h"
#include "store/SiteReport.h"

#include <QCoreApplication>
#include <QDate>
#include <QFile>
#include <QStringList>

#include <cstdio>

namespace {

const int kExitFailed = 1;
const int kExitUsage = 2;

const char* const kUsage
    = "usage: ardenix-report [--db FILE] daily|pictures [--from YYYY-MM-DD] [--to YYYY-MM-DD]\n"
      "       ardenix-report --db postgresql://... daily|pictures [--from] [--to] [--station NAME]\n"
      "\n"
      "Writes the statistics file as CSV (RFC 4180, UTF-8) to standard output.\n"
      "  daily     date,normal,abnormal,total: one row per day\n"
      "  pictures  time,camera,temperature_c,result,reset,file,present: one row per\n"
      "            picture (present is no when the picture file is gone)\n"
      "  --db FILE      the statistics file (default: the program's own)\n"
      "  --db URI       the site database (a libpq URI); the CSV gains a first\n"
      "                 column station\n"
      "  --from, --to   only these days, both included\n"
      "  --station NAME only this station of the site (default: every station)\n"
      "  --help, --version  print this text, or the program's name and version\n"
      "Exit codes: 0 written, 1 the file or site database could not be read,\n"
      "2 bad arguments or no such file.\n";

struct Options {
    QString db;
    QString report;
    QString station;
    CsvReport::DateRange range;
    bool help = false;
    bool version = false;
};

bool isSiteDatabase(const QString& db)
{
    return db.startsWith(QLatin1String("postgresql://")) || db.startsWith(QLatin1String("postgres://"));
}

bool parseDate(const QString& text, QDate& date)
{
    date = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
    return date.isValid() && text.size() == 10;
}

bool parseArguments(const QStringList& arguments, Options& options, QString& error)
{
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            options.help = true;
            return true;
        }
        if (argument == QLatin1String("--version")) {
            options.version = true;
            return true;
        }
        if (argument == QLatin1String("--db") || argument == QLatin1String("--from")
            || argument == QLatin1String("--to") || argument == QLatin1String("--station")) {
            if (i + 1 >= arguments.size()) {
                error = QStringLiteral("%1 needs a value").arg(argument);
                return false;
            }
            const QString value = arguments.at(++i);
            if (argument == QLatin1String("--db")) {
                options.db = value;
                continue;
            }
            if (argument == QLatin1String("--station")) {
                if (value.isEmpty()) {
                    error = QStringLiteral("--station needs a name");
                    return false;
                }
                options.station = value;
                continue;
            }
            QDate& date = argument == QLatin1String("--from") ? options.range.from : options.range.to;
            if (!parseDate(value, date)) {
                error = QStringLiteral("%1: not a date of the form YYYY-MM-DD: %2").arg(argument, value);
                return false;
            }
            continue;
        }
        if (argument.startsWith(QLatin1Char('-')) || !options.report.isEmpty()) {
            error = QStringLiteral("unexpected argument: %1").arg(argument);
            return false;
        }
        if (argument != QLatin1String("daily") && argument != QLatin1String("pictures")) {
            error = QStringLiteral("unknown report: %1 (daily or pictures)").arg(argument);
            return false;
        }
        options.report = argument;
    }
    if (options.report.isEmpty()) {
        error = QStringLiteral("which report: daily or pictures?");
        return false;
    }
    if (options.range.from.isValid() && options.range.to.isValid() && options.range.from > options.range.to) {
        error = QStringLiteral("--from is after --to");
        return false;
    }
    if (!options.station.isNull() && !isSiteDatabase(options.db)) {
        error = QStringLiteral("--station needs a site database: --db postgresql://...");
        return false;
    }
    return true;
}

int siteReport(const Options& options)
{
    SiteLink link;
    QString error;
    if (!SiteReport::open(link, options.db, &error)) {
        std::fprintf(stderr, "ardenix-report: %s\n", qPrintable(error));
        return kExitFailed;
    }
    QFile out;
    out.open(stdout, QIODevice::WriteOnly);
    const bool ok = options.report == QLatin1String("daily")
        ? SiteReport::writeDaily(link, out, options.range, options.station, &error)
        : SiteReport::writePictures(link, out, options.range, options.station, &error);
    out.close();
    link.exec(QStringLiteral("COMMIT"));
    if (!ok) {
        std::fprintf(stderr, "ardenix-report: %s\n", qPrintable(error));
        return kExitFailed;
    }
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    // The program's data folder, where its statistics file lives.
    QCoreApplication::setApplicationName(QStringLiteral("ardenix"));

    Options options;
    QString error;
    if (!parseArguments(app.arguments().mid(1), options, error)) {
        std::fprintf(stderr, "ardenix-report: %s\n%s", qPrintable(error), kUsage);
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (options.version) {
        std::puts("ardenix-report " ARDENIX_VERSION_TEXT);
        return 0;
    }
    if (isSiteDatabase(options.db))
        return siteReport(options);
    const QString path = options.db.isEmpty() ? LocalDatabase::databasePath() : options.db;
    if (!QFile::exists(path)) {
        std::fprintf(stderr, "ardenix-report: no statistics file at %s\n", qPrintable(path));
        return kExitUsage;
    }

    const QString connection = QStringLiteral("report");
    int status = 0;
    {
        if (!CsvReport::openReadOnly(path, connection, &error)) {
            std::fprintf(stderr, "ardenix-report: %s\n", qPrintable(error));
            status = kExitFailed;
        } else {
            QFile out;
            out.open(stdout, QIODevice::WriteOnly);
            const QSqlDatabase db = QSqlDatabase::database(connection);
            const bool ok = options.report == QLatin1String("daily")
                ? CsvReport::writeDaily(db, out, options.range, &error)
                : CsvReport::writePictures(db, out, options.range, &error);
            out.close();
            if (!ok) {
                std::fprintf(stderr, "ardenix-report: %s\n", qPrintable(error));
                status = kExitFailed;
            }
        }
    }
    QSqlDatabase::removeDatabase(connection);
    return status;
}
