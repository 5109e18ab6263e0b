// LogFile keeps the program's log lines (qDebug, qInfo, qWarning…) in a
// daily file "ardenix-YYYY-MM-DD.log" for whoever supports a station, each
// line with the local time to the millisecond and the thread that wrote it.
// A new day starts a new file; files older than 30 days are removed at start.
// Any thread: writers are serialised, and every line is flushed at once, so
// a process that ends abruptly loses nothing it logged.
#pragma once

#include <QDateTime>
#include <QString>

#include <cstdio>
#include <functional>
#include <mutex>

class LogFile {
public:
    // The local date and time lines are stamped with; tests cross midnight
    // with their own.
    using Clock = std::function<QDateTime()>;

    static constexpr int KeepDays = 30;

    explicit LogFile(const QString& dir, Clock clock = Clock());
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Removes this program's log files last written more than keepDays days
    // ago; returns how many went.
    int removeOldFiles(int keepDays = KeepDays);

    // Appends one message as a line (continuation lines indented).
    void write(QtMsgType type, const QString& message);

    // The file that lines of date go to.
    QString filePathFor(const QDate& date) const;
    static QString fileNameFor(const QDate& date);
    // "yyyy-MM-dd hh:mm:ss.zzz [thread] text", warnings and worse tagged.
    static QString formatLine(const QDateTime& time, const QString& thread, QtMsgType type, const QString& message);

    // Sends every message of the process to a LogFile in dir as well, and to
    // Qt's usual output (standard error) unless toStderr is false. Call once,
    // after the application object exists; the file stays for the process.
    static void install(const QString& dir, bool toStderr);

private:
    QDateTime now() const;
    // Opens the file of date, closing the previous day's. Caller holds m_lock.
    void openFor(const QDate& date);

    const QString m_dir;
    const Clock m_clock;
    std::mutex m_lock;
    std::FILE* m_file = nullptr;
    QDate m_fileDate;
};
