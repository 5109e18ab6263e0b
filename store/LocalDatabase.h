// The statistics store: daily counts of normal and abnormal people, the list
// of alarm pictures and the saved camera accounts, in one SQLite file, plus
// the figures the main window shows (today, all time, the last seven days).
// Lives on the GUI thread and uses the default Qt SQL connection.
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

// One day of the seven-day series.
struct DayCount {
    QString date; // "yyyy-MM-dd"
    int abnormal = 0;
    int normal = 0;
};

class LocalDatabase {
public:
    // The local date and time the store works by; tests put their own clock
    // here to cross midnight.
    using Clock = std::function<QDateTime()>;

    // An empty clock means the computer's clock.
    explicit LocalDatabase(Clock clock = Clock());

    // Where the file lives: $ARDENIX_DB when set, else the application data
    // folder (created when missing).
    static QString databasePath();

    // Opens (and on first use creates) the file, then loads the seven days,
    // the totals and today's counts.
    void openDatabase();

    bool loadSevenDays();
    bool loadTotals();
    bool loadToday();

    bool insertDay(const QString& date, int normal, int abnormal);
    bool updateDay(const QString& date, int normal, int abnormal);
    bool insertPicture(const QString& date, const QString& filePath, int state);

    // Records one alarm picture and counts it by the state in its name, into
    // the day the clock says it is now. The row and the day's counts go to
    // the file together; false when the file refused them (locked, read-only,
    // full): the row is kept and written with the next picture, and the
    // figures shown count the person at once. Beyond 1000 rows kept that way
    // a picture is neither kept nor counted; the next start records it.
    bool addPicture(const QString& filePath);
    // Records the complete alarm pictures of the last few days in shotDir
    // ("<shotDir>/<yyyy-MM-dd>/<name>.jpg") that have no row and were taken
    // no earlier than this file's newest row (or than a picture the store
    // had to leave unrecorded): what an end between writing a picture and
    // recording it leaves. A file without rows recovers nothing, so pictures
    // another file counted are not counted again. Each is counted into the
    // day of its folder. Returns how many were recorded.
    int recoverPictures(const QString& shotDir);
    // Whether the last addPicture() began a run of failures (to tell the
    // operator once, not for every person).
    bool newWriteFailure() const { return m_newFailure; }
    // The longest time one addPicture() took, in milliseconds: the window
    // waits for it, so a file that is locked or failing must not stretch it.
    qint64 longestWriteMs() const { return m_longestWriteMs; }

    // Zeroes every count and hides the listed pictures; rows stay in the file.
    // False, with nothing changed, when the file could not take it.
    bool resetCounts();
    // Zeroes the figures held in memory only (what the window shows and
    // counts on from), e.g. when the file could not take a reset.
    void zeroFigures();

    // From now on each picture row and each reset is also queued for the
    // site database, in the same write; onQueued is called after each such
    // write.
    void enableSiteOutbox(std::function<void()> onQueued);

    // Up to 20 listed picture paths, newest first, appended to paths.
    bool recentPictures(QStringList& paths);

    // Labels "MM-dd" of the seven days up to today, oldest first.
    QStringList dayLabels() const;
    QVector<int> normalSeries() const;
    QVector<int> abnormalSeries() const;

    // Moves today forward (day change) and reloads everything; counts not
    // yet in the file stay with the days they were counted into.
    void setToday(const QString& date);

    bool accountTableExists();
    bool accountExists(int id);
    bool loadAccount(int id, QString& userName, QString& password);
    void saveAccount(int id, const QString& userName, const QString& password);

    // Day text and state from an alarm picture name of five "-"-separated
    // fields; the state is left alone when the name does not carry one.
    static QString parsePictureName(const QString& filePath, int& state);

    int todayNormal() const { return m_todayNormal; }
    int todayAbnormal() const { return m_todayAbnormal; }
    int totalNormal() const { return m_totalNormal; }
    int totalAbnormal() const { return m_totalAbnormal; }
    QString today() const { return m_today; }
    const QVector<DayCount>& sevenDays() const { return m_sevenDays; }

private:
    struct PendingRow {
        QString day;
        QString filePath;
        int state;
        // The day the person was counted into; empty when not counted.
        QString countDay;
    };
    bool countAndStore(const QString& filePath, const QString& countDay);
    bool storePending();
    bool writePending();
    bool reloadFigures();
    void carryFiguresOver(const QVector<DayCount>& days, int totalNormal, int totalAbnormal);
    void addCount(const QString& day, bool normal);
    QString recoverFrom();
    void reportWrite(bool ok, const QString& error);
    QVector<int> series(bool normal) const;
    QDate currentDate() const;

    Clock m_clock;

    int m_todayNormal;
    int m_todayAbnormal;
    int m_totalNormal;
    int m_totalAbnormal;
    QVector<DayCount> m_sevenDays;
    QString m_today;
    QString m_path;
    QVector<PendingRow> m_pendingRows;
    // Time stamp of the earliest picture left without a row (the pending
    // rows were full), until the file has a note of it.
    QString m_unrecordedSince;
    bool m_siteOutbox = false;
    std::function<void()> m_onSiteQueued;
    bool m_writeFailing = false;
    bool m_newFailure = false;
    qint64 m_longestWriteMs = 0;
};
