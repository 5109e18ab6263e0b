#include "store/SiteSink.h"

#include "store/SiteLink.h"
#include "store/SiteOutbox.h"

#include <QDebug>
#include <QSqlError>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSysInfo>
#include <QTimer>

namespace {

// Batches sent before the thread looks at its events again (a stop, a wake).
const int kRoundsPerTurn = 20;
// A statistics file that is busy is tried again this soon.
const int kLocalRetryMs = 1000;
// Entries queued without a wake (e.g. by an earlier run) are found this late.
const int kIdlePollMs = 30000;
// The sender's wait for the window's writes to the file.
const int kBusyTimeoutMs = 2000;

} // namespace

// The worker on the sink's thread.
class SiteSender : public QObject {
    Q_OBJECT

public:
    SiteSender(const SiteSink::Settings& settings, std::shared_ptr<SiteSink::Shared> shared)
        : m_settings(settings)
        , m_sink(std::move(shared))
        , m_connection(QStringLiteral("siteoutbox-%1").arg(quintptr(this), 0, 16))
    {
    }

    ~SiteSender() override
    {
        m_link.close();
        closeLocal();
    }

public slots:
    void onSigStart()
    {
        m_retry = new QTimer(this);
        m_retry->setSingleShot(true);
        connect(m_retry, &QTimer::timeout, this, &SiteSender::pump);
        m_poll = new QTimer(this);
        m_poll->setInterval(kIdlePollMs);
        connect(m_poll, &QTimer::timeout, this, &SiteSender::pump);
        m_poll->start();
        pump();
    }

    void onSigWake()
    {
        // A wake during a back-off waits for the retry.
        if (m_retry && !m_retry->isActive())
            pump();
    }

signals:
    void sigSiteOutage(QString reason);
    void sigSiteBack();
    void sigSiteSent(int entries);

private:
    bool openLocal()
    {
        if (QSqlDatabase::contains(m_connection))
            return QSqlDatabase::database(m_connection, false).isOpen();
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
        db.setDatabaseName(m_settings.localPath);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
        if (!db.open())
            return false;
        return SiteOutbox::create(db);
    }

    // The file is let go whenever the queue is empty, so that a file the
    // store started anew (the old one deleted) is the one read next.
    void closeLocal()
    {
        if (!QSqlDatabase::contains(m_connection))
            return;
        QSqlDatabase::database(m_connection, false).close();
        QSqlDatabase::removeDatabase(m_connection);
    }

    void pump()
    {
        if (m_sink->stop.load() || !m_retry || m_retry->isActive())
            return;
        for (int round = 0; round < kRoundsPerTurn; ++round) {
            if (m_sink->stop.load())
                return;
            if (!sendOne())
                return;
        }
        // More to send: go on after the thread's events.
        QMetaObject::invokeMethod(this, &SiteSender::pump, Qt::QueuedConnection);
    }

    // Sends the oldest batch; false when there is nothing more to do now.
    bool sendOne()
    {
        QVector<SiteOutbox::Entry> entries;
        QString error;
        if (!openLocal()
            || !SiteOutbox::take(QSqlDatabase::database(m_connection, false), m_settings.batchSize, entries, &error)) {
            localFailure(error.isEmpty() ? QSqlDatabase::database(m_connection, false).lastError().text() : error);
            return false;
        }
        m_localFailing = false;
        if (entries.isEmpty()) {
            closeLocal();
            return false;
        }
        if (!m_link.isOpen()
            && (!m_link.open(m_settings.uri, m_settings.connectTimeoutSeconds) || !m_link.ensureSchema())) {
            siteFailure();
            return false;
        }
        bool ok;
        if (entries.first().reset) {
            int marked = 0;
            ok = m_link.markReset(m_settings.station, &marked);
            if (ok)
                qDebug().noquote() << QStringLiteral("site database: %1 rows of station %2 marked as reset")
                                          .arg(marked)
                                          .arg(m_settings.station);
        } else {
            QVector<SiteMeasurement> rows;
            rows.reserve(entries.size());
            for (const SiteOutbox::Entry& entry : qAsConst(entries))
                rows.append(entry.row);
            int inserted = 0;
            ok = m_link.storeMeasurements(m_settings.station, rows, &inserted);
            // Sent before, and stored, but not taken off the outbox then.
            if (ok && inserted < rows.size())
                qDebug().noquote() << QStringLiteral("site database already had %1 of %2 rows")
                                          .arg(rows.size() - inserted)
                                          .arg(rows.size());
        }
        if (!ok) {
            siteFailure();
            return false;
        }
        if (m_sink->failing.exchange(false)) {
            qDebug() << "site database reached again";
            emit sigSiteBack();
        }
        m_delayMs = 0;
        // Confirmed: the entries go. Should the file refuse, they are sent
        // once more later, and the site keeps one row for each.
        if (!SiteOutbox::remove(QSqlDatabase::database(m_connection, false), entries.last().id, &error)) {
            localFailure(error);
            return false;
        }
        m_sink->confirmed += entries.size();
        emit sigSiteSent(int(entries.size()));
        return true;
    }

    void siteFailure()
    {
        const QString reason = m_link.lastError();
        m_link.close();
        if (!m_sink->failing.exchange(true)) {
            // Once per outage, however long it lasts.
            qDebug().noquote() << QStringLiteral("场地数据库不可用 site database unavailable: %1")
                                      .arg(QString(reason).replace(QLatin1Char('\n'), QLatin1Char(' ')));
            emit sigSiteOutage(reason);
            m_delayMs = m_settings.firstRetryMs;
        } else {
            m_delayMs = qMin(qMax(m_delayMs, 1) * 2, m_settings.maxRetryMs);
        }
        m_delayMs = qMin(m_delayMs, m_settings.maxRetryMs);
        m_sink->retryDelayMs = m_delayMs;
        m_retry->start(m_delayMs);
    }

    void localFailure(const QString& error)
    {
        if (!m_localFailing)
            qDebug().noquote() << QStringLiteral("site outbox not usable: %1").arg(error);
        m_localFailing = true;
        closeLocal();
        m_retry->start(kLocalRetryMs);
    }

    const SiteSink::Settings m_settings;
    const std::shared_ptr<SiteSink::Shared> m_sink;
    const QString m_connection;
    SiteLink m_link;
    QTimer* m_retry = nullptr;
    QTimer* m_poll = nullptr;
    int m_delayMs = 0;
    bool m_localFailing = false;
};

QString SiteSink::defaultStation()
{
    const QString host = QSysInfo::machineHostName();
    return host.isEmpty() ? QStringLiteral("station") : host;
}

SiteSink::SiteSink(const Settings& settings, QObject* parent)
    : QObject(parent)
    , m_shared(std::make_shared<Shared>())
    , m_sender(new SiteSender(settings, m_shared))
{
    m_thread.setObjectName(QStringLiteral("site sink"));
    m_sender->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_sender, &QObject::deleteLater);
    connect(m_sender, &SiteSender::sigSiteOutage, this, &SiteSink::sigSiteOutage);
    connect(m_sender, &SiteSender::sigSiteBack, this, &SiteSink::sigSiteBack);
    connect(m_sender, &SiteSender::sigSiteSent, this, &SiteSink::sigSiteSent);
    m_thread.start();
}

SiteSink::~SiteSink()
{
    m_shared->stop = true;
    m_thread.quit();
    m_thread.wait();
}

void SiteSink::start()
{
    QMetaObject::invokeMethod(m_sender, &SiteSender::onSigStart, Qt::QueuedConnection);
}

void SiteSink::wake()
{
    QMetaObject::invokeMethod(m_sender, &SiteSender::onSigWake, Qt::QueuedConnection);
}

#include "SiteSink.moc"
