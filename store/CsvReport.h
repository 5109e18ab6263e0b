// CsvReport writes the statistics file's figures as CSV for spreadsheets and
// support: the daily counts, and the alarm pictures with what their names
// say. RFC 4180: comma-separated fields, a field with a comma, a double
// quote or a line break in double quotes (its quotes doubled), CRLF line
// ends; UTF-8 text. Reads through a given connection on the caller's thread.
#pragma once

#include <QDate>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

class QIODevice;

namespace CsvReport {

// Days from..to, both included; a null date leaves that end open.
struct DateRange {
    QDate from;
    QDate to;
};

// One CSV record of the given fields, with its CRLF.
QByteArray record(const QStringList& fields);
// One field, quoted when it has to be.
QString field(const QString& text);

// "date,normal,abnormal,total": one row per day in the file, oldest first.
bool writeDaily(const QSqlDatabase& db, QIODevice& out, const DateRange& range, QString* error);
// "time,camera,temperature_c,result,reset,file,present": one row per
// recorded picture, in the order they were recorded. time, camera and
// temperature come from the picture's name (empty when it does not carry
// them); result is "normal", "abnormal" or "unknown"; reset is "yes" for
// pictures a data reset cleared from the list; present is "no" when the
// file is not there (removed by retention or by hand), "yes" when it is.
bool writePictures(const QSqlDatabase& db, QIODevice& out, const DateRange& range, QString* error);

// Opens a statistics file read-only under connectionName, so that a report
// can be made while the program writes to it. False, with a message, when
// the file is missing or is not a statistics file.
bool openReadOnly(const QString& path, const QString& connectionName, QString* error);

} // namespace CsvReport
