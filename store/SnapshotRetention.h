// SnapshotRetention keeps the alarm pictures' folder within what the site
// chose: day folders ("yyyy-MM-dd") beyond the days to keep are removed, and
// while the file system that holds the folder has less free space than the
// site's minimum, the oldest day folders are removed one by one. Today's
// folder and later ones, yesterday's while there is none of today or later
// (the camera's clock may be a zone behind), anything that is not a day
// folder, and the manual
// snapshots (another folder) are never touched; the statistics rows of
// removed pictures stay, since the counts are the record.
//
// A pass runs on a thread of the object's own: once at start() and then at
// each interval (an hour). Each removal is logged with the folder and its
// number of pictures; a folder that cannot be removed is logged once and not
// tried again. runPass() may also be called directly (tests), but not while
// the thread runs.
#pragma once

#include <QDate>
#include <QObject>
#include <QSet>
#include <QString>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class SnapshotRetention : public QObject {
    Q_OBJECT

public:
    struct Policy {
        // Days of pictures kept, today included; 0 keeps every day.
        int keepDays = 0;
        // Free space the folder's file system keeps; 0 turns the rule off.
        qint64 minFreeMB = 2048;
    };
    // Read at the start of every pass, on the retention thread.
    using PolicySource = std::function<Policy()>;
    // Bytes free for the folder's file system; negative when unknown.
    using FreeSpaceProbe = std::function<qint64(const QString& dir)>;

    struct PassResult {
        int folders = 0;
        int pictures = 0;
        // Space stayed below the minimum with no day folder left to remove.
        bool spaceLow = false;
    };

    static constexpr int kHourMs = 60 * 60 * 1000;

    SnapshotRetention(const QString& dir, PolicySource policy, QObject* parent = nullptr);
    // Ends the thread after the folder it is removing, and joins it.
    ~SnapshotRetention() override;

    SnapshotRetention(const SnapshotRetention&) = delete;
    SnapshotRetention& operator=(const SnapshotRetention&) = delete;

    // Before start(): replaces the file system's own free-space figure and
    // the local date (both for tests).
    void setFreeSpaceProbe(FreeSpaceProbe probe);
    void setToday(std::function<QDate()> today);

    // Starts the thread; its first pass runs at once.
    void start(int intervalMs = kHourMs);

    PassResult runPass();

    // The free space of the file system holding dir (or its nearest existing
    // parent), in bytes; -1 when unknown.
    static qint64 freeBytes(const QString& dir);

signals:
    // After every pass of the thread.
    void sigPassDone(int folders, int pictures);
    // Once while space stays low with nothing left to remove; again only
    // after a pass found enough space.
    void sigSpaceLow(qint64 freeMB);

private:
    struct DayFolder {
        QDate date;
        QString path;
    };
    QList<DayFolder> dayFolders(const QDate& today) const;
    bool removeFolder(const DayFolder& folder, const QString& reason, PassResult& result);
    void run(int intervalMs);

    const QString m_dir;
    PolicySource m_policy;
    FreeSpaceProbe m_probe;
    std::function<QDate()> m_today;
    // Folders that could not be removed; the retention thread's alone.
    QSet<QString> m_failed;
    bool m_lowReported = false;

    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::thread m_thread;
};
