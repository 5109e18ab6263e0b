#pragma once
// Runs the camera simulator for a test: started with the given options,
// waited for until it is ready, stopped when the object goes.

#include <QProcess>
#include <QStringList>

class Camsim {
public:
    // The simulator the build made, or an empty string.
    static QString program();

    explicit Camsim(const QStringList& arguments);
    ~Camsim();
    Camsim(const Camsim&) = delete;
    Camsim& operator=(const Camsim&) = delete;

    // Waits (bounded) until the simulator says it is ready.
    bool waitReady(int timeoutMs = 15000);
    QString errors() const { return m_log; }

private:
    QProcess m_process;
    QString m_log;
};
