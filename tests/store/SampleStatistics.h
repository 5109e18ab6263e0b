#pragma once
// A statistics file for the report tests: six pictures over three days, a
// data reset on the first, one name that does not follow the pattern, and a
// picture folder whose name holds a comma and double quotes. The store stays
// open, as the program keeps its file open while it counts.
#include "store/LocalDatabase.h"

#include <QDateTime>
#include <QDir>
#include <QString>

#include <memory>

struct SampleStatistics {
    QString db;
    QString shotDir;
    QDateTime now;
    std::unique_ptr<LocalDatabase> store;

    // Writes the file into `dir`; ARDENIX_DB names it, as the program's own.
    bool write(const QDir& dir)
    {
        db = dir.filePath(QStringLiteral("ardenix.dat"));
        qputenv("ARDENIX_DB", QFile::encodeName(db));
        shotDir = dir.filePath(QStringLiteral("shots \"north\", gate/Screenshot"));

        now = QDateTime(QDate(2024, 3, 8), QTime(10, 0));
        store = std::make_unique<LocalDatabase>([this] { return now; });
        store->openDatabase();
        store->addPicture(shotDir + QStringLiteral("/2024-03-08/7-365-20240308091500-1-0.jpg"));
        if (!store->resetCounts())
            return false;
        store->addPicture(shotDir + QStringLiteral("/2024-03-08/7-382-20240308101500-2-0.jpg"));

        now = QDateTime(QDate(2024, 3, 9), QTime(11, 0));
        store->setToday(QStringLiteral("2024-03-09"));
        store->addPicture(shotDir + QStringLiteral("/2024-03-09/7-361-20240309111111-1-1.jpg"));

        now = QDateTime(QDate(2024, 3, 10), QTime(12, 0));
        store->setToday(QStringLiteral("2024-03-10"));
        store->addPicture(shotDir + QStringLiteral("/2024-03-10/12-370-20240310120001-1-0.jpg"));
        store->addPicture(shotDir + QStringLiteral("/2024-03-10/12-391-20240310120502-2-0.jpg"));
        // A name that does not follow the pattern: stored without a day.
        store->addPicture(shotDir + QStringLiteral("/odd.jpg"));
        return true;
    }
};
