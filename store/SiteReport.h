// SiteReport writes the site database's figures as the same CSV that
// CsvReport makes of a statistics file, with the station in a first column:
// every station, or one. Reads in a read-only transaction on the caller's
// thread.
#pragma once

#include "store/CsvReport.h"

#include <QString>

class QIODevice;
class SiteLink;

namespace SiteReport {

// Connects to uri and begins a read-only transaction. False, with a message,
// for an address libpq does not understand, a server that cannot be had or
// a database without the site's tables.
bool open(SiteLink& link, const QString& uri, QString* error);

// "station,date,normal,abnormal,total": one row per station and day, by day.
bool writeDaily(
    SiteLink& link, QIODevice& out, const CsvReport::DateRange& range, const QString& station, QString* error);
// "station,time,camera,temperature_c,result,reset,file": one row per
// measurement, in the order the site received them; file is the picture's
// name (the site has no station's folders).
bool writePictures(
    SiteLink& link, QIODevice& out, const CsvReport::DateRange& range, const QString& station, QString* error);

} // namespace SiteReport
