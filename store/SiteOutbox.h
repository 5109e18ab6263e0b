// SiteOutbox is the queue of what a station still owes the site database,
// kept as a table in the station's own statistics file: the store adds an
// entry in the same transaction as the picture row it counts (or the data
// reset it makes), and the site sink takes entries oldest first and removes
// them once the site has confirmed them. Works on the connection it is given,
// on the caller's thread.
#pragma once

#include "store/SiteLink.h"

#include <QSqlDatabase>
#include <QString>
#include <QVector>

namespace SiteOutbox {

struct Entry {
    qint64 id = 0;
    bool reset = false; // a data reset rather than a measurement
    SiteMeasurement row;
};

// Creates the table when absent.
bool create(QSqlDatabase db);
// Queues one recorded picture (or a count without a picture: empty path),
// counted into day.
bool queueMeasurement(QSqlDatabase db, const QString& day, const QString& filePath, int state);
// Queues a data reset of the station's rows stored so far.
bool queueReset(QSqlDatabase db);

// The oldest entries, at most limit. A reset goes alone: the entries end
// before one, or consist of it, so that it is applied after everything
// queued before it and before everything after it.
bool take(QSqlDatabase db, int limit, QVector<Entry>& entries, QString* error);
// Removes every entry up to and including id.
bool remove(QSqlDatabase db, qint64 id, QString* error);
// Entries waiting; -1 when the table cannot be read.
qint64 size(QSqlDatabase db);

// The key a measurement is stored under at the site: the picture's file
// name, which the snapshot writer never gives twice, when the picture is on
// disk; otherwise that name (or "nopicture") with a suffix made once, when
// it is queued, of the time and a random number.
QString keyFor(const QString& filePath);

} // namespace SiteOutbox
