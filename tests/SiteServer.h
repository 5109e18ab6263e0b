#pragma once
// A private PostgreSQL server for a test (scripts/site-server.sh): started
// on a loopback address and port of the test's own, removed with the object.
// Roles: "station" (owns the database "site"), "reader" (may read it).

#include "TestPatience.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QString>

class SiteServer {
public:
    SiteServer(const QString& address, int port)
        : m_address(address)
        , m_port(port)
    {
        // Removed by the script once this process has gone, should it crash.
        m_ok = run({ QStringLiteral("start"), address, QString::number(port),
                       QString::number(QCoreApplication::applicationPid()) },
            &m_folder);
    }
    ~SiteServer()
    {
        if (!m_folder.isEmpty())
            run({ QStringLiteral("remove"), m_folder }, nullptr);
    }
    SiteServer(const SiteServer&) = delete;
    SiteServer& operator=(const SiteServer&) = delete;

    // Whether this machine has a server to start (Debian's postgresql).
    static bool available() { return QFileInfo::exists(QStringLiteral("/usr/lib/postgresql/15/bin/initdb")); }

    bool ok() const { return m_ok; }
    QString error() const { return m_error; }
    QString address() const { return m_address; }
    int port() const { return m_port; }
    QString uri(
        const QString& user = QStringLiteral("station"), const QString& password = QStringLiteral("station")) const
    {
        return QStringLiteral("postgresql://%1:%2@%3:%4/site").arg(user, password, m_address).arg(m_port);
    }
    // Stops the server (fast: sessions end at once); restart() brings it back
    // with its data.
    bool stop() { return run({ QStringLiteral("stop"), m_folder }, nullptr); }
    bool restart() { return run({ QStringLiteral("restart"), m_folder }, nullptr); }

private:
    bool run(const QStringList& arguments, QString* output)
    {
        QProcess process;
        process.start(QString::fromLocal8Bit(qgetenv("ARDENIX_SOURCE_DIR")) + QStringLiteral("/scripts/site-server.sh"),
            arguments);
        // initdb takes a few seconds on a busy machine.
        const bool done = process.waitForFinished(patient(120000));
        if (output)
            *output = QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
        m_error = QString::fromLocal8Bit(process.readAllStandardError());
        return done && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }

    QString m_address;
    int m_port;
    QString m_folder;
    QString m_error;
    bool m_ok = false;
};
