#pragma once
// Support for the end-to-end tests: the camera simulator and the real
// ardenix program as child processes (each test on a loopback address of its
// own), and readers for what the program stored (picture rows, counts, JPEG
// files) and what the simulator says it sent. Test thread only.

#include "Camsim.h"

#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace e2e {

// One person line of camsim's log.
struct SentPerson {
    int index = 0;
    int temperature = 0; // tenths of a degree Celsius
    bool abnormal = false;
    int sessions = 0; // alarm sessions the event went to
    qint64 sentMs = 0; // wall clock, ms since 1970
};

// Reports a sanitizer wrote into the log of a child process (camsim or
// ardenix) so far, collected when the process object goes; taking them
// clears the list. A test's cleanup() fails on any.
QStringList takeSanitizerReports();

QList<SentPerson> parseSent(const QString& camsimLog);
// Only the persons that reached at least one alarm session.
QList<SentPerson> delivered(const QList<SentPerson>& persons);

// The camera simulator as these tests run it: a flat scene keeps the
// encoder cheap on a shared machine; no search answers, the program is told
// the device number. Restartable with the same or other options (start()),
// its log kept across restarts, also in a file.
class CamsimProcess : public Camsim {
public:
    CamsimProcess(const QString& logPath, const QString& address, int id, const QStringList& extra);

    void setExtra(const QStringList& extra);
    QString log() { return QString::fromStdString(Camsim::log()); }
    QList<SentPerson> sent() { return parseSent(log()); }

private:
    QString m_address;
    int m_id;
};

// The ardenix program connecting to one camera on its own, in a work folder
// of its own: Config.ini, the statistics file, the snapshot folder, the
// data folder (log file) all inside it. Its standard error (time-stamped
// lines) goes to a file.
class ArdenixProcess {
public:
    ArdenixProcess(const QString& workDir, const QString& cameraAddress, int id);
    ~ArdenixProcess();
    ArdenixProcess(const ArdenixProcess&) = delete;
    ArdenixProcess& operator=(const ArdenixProcess&) = delete;

    QProcessEnvironment& environment() { return m_environment; }
    QString workDir() const { return m_workDir; }
    QString dbPath() const;
    QString shotDir() const; // the folder that holds Screenshot/
    QString logPath() const { return m_logPath; }

    bool start(int lifetimeSeconds = 900);
    // SIGTERM, as a desktop ending the session would.
    void stop();
    // SIGKILL of the program itself.
    void kill9();
    bool running() const;
    // The program's own process id (not the time limit's around it).
    qint64 pid() const;
    int exitCode() const;
    QProcess::ExitStatus exitStatus() const;

    QString log() const;
    int countLog(const QString& needle) const;
    // Waits (bounded) until needle occurs count times; the event loop runs.
    bool waitForLog(const QString& needle, int count, int timeoutMs) const;
    // Time stamp (ms since 1970) of each log line that contains needle.
    QList<qint64> logTimes(const QString& needle) const;

private:
    QProcess m_process;
    QProcessEnvironment m_environment;
    QString m_workDir;
    QString m_logPath;
    QStringList m_arguments;
    int m_runs = 0;
};

// What the statistics file holds.
struct StoredState {
    bool opened = false;
    bool integrityOk = false;
    int countedNormal = 0; // sum over the days
    int countedAbnormal = 0;
    int rowsNormal = 0; // picture rows by state
    int rowsAbnormal = 0;
    int rowsOther = 0;
    QStringList paths; // every picture row's file
    QString error;
    int counted() const { return countedNormal + countedAbnormal; }
    int rows() const { return rowsNormal + rowsAbnormal + rowsOther; }
};
StoredState readStore(const QString& dbPath);

// Alarm pictures under <shotDir>/Screenshot/<date>/, absolute paths.
QStringList alarmPictures(const QString& shotDir);

// Compares what camsim delivered with what was stored: one JPEG, one row
// and one count per delivered person, the same normal/abnormal split, no
// JPEG without a row. Empty when all agree; else what differs.
QString compareDelivered(const QList<SentPerson>& persons, const StoredState& store, const QStringList& pictures);

// A one-line summary for the test log.
QString summary(const QList<SentPerson>& persons, const StoredState& store, const QStringList& pictures);

// Runs the event loop for ms.
void pause(int ms);
// E2E_<name> from the environment, or fallback.
int envInt(const char* name, int fallback);

} // namespace e2e
