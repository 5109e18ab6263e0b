// SiteSink feeds the site database from the station's outbox: on a thread of
// its own it takes the queued entries oldest first, stores them at the site
// and removes what the site confirmed. While the site cannot be had it keeps
// trying, at growing intervals up to one a minute, and tells of each outage
// once. Created, woken and deleted on the caller's (GUI) thread, which never
// waits for the site; the deleting thread waits for a send in progress.
#pragma once

#include <QObject>
#include <QString>
#include <QThread>

#include <atomic>
#include <memory>

class SiteSender;

class SiteSink : public QObject {
    Q_OBJECT

public:
    struct Settings {
        QString uri; // libpq connection URI of the site database
        QString station; // this station's name at the site
        QString localPath; // the statistics file that holds the outbox
        int batchSize = 500; // entries per transaction at most
        int firstRetryMs = 1000; // the first retry after a failure; doubles up to maxRetryMs
        int maxRetryMs = 60000;
        int connectTimeoutSeconds = 10;
    };

    // The station's default name: the computer's host name ("station"
    // when it has none).
    static QString defaultStation();

    explicit SiteSink(const Settings& settings, QObject* parent = nullptr);
    ~SiteSink() override;

    // Begins sending what the outbox holds.
    void start();
    // New entries are in the outbox. Any thread.
    void wake();

    // Entries the site has confirmed since start. Any thread.
    qint64 confirmed() const { return m_shared->confirmed.load(); }
    // Whether the site is failing now. Any thread.
    bool failing() const { return m_shared->failing.load(); }
    // The wait before the next try after a failure, in milliseconds. Any thread.
    int retryDelayMs() const { return m_shared->retryDelayMs.load(); }

    // What the sink and its sender share; it outlives whichever goes last.
    struct Shared {
        std::atomic<bool> stop { false };
        std::atomic<qint64> confirmed { 0 };
        std::atomic<bool> failing { false };
        std::atomic<int> retryDelayMs { 0 };
    };

signals:
    // The site could not be had; once per outage, with the reason.
    void sigSiteOutage(QString reason);
    // The site took entries again after an outage.
    void sigSiteBack();
    // The site confirmed entries.
    void sigSiteSent(int entries);

private:
    std::shared_ptr<Shared> m_shared;
    QThread m_thread;
    SiteSender* m_sender;
};
