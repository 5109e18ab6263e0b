#pragma once
// Runs the camera simulator for a test: started with the given options,
// waited for until it is ready, stopped when the object goes.

#include <QProcess>
#include <QStringList>

class Camsim {
public:
    // The simulator the build made, or an empty string.
    static QString program();

    // Ends by itself after lifetimeSeconds, should its test die.
    explicit Camsim(const QStringList& arguments, int lifetimeSeconds = 120);
    ~Camsim();
    Camsim(const Camsim&) = delete;
    Camsim& operator=(const Camsim&) = delete;

    // Waits (bounded) until the simulator says it is ready.
    bool waitReady(int timeoutMs = 15000);
    // Everything the simulator logged so far (collected while the test's
    // event loop runs, so its pipe never fills up).
    QString errors();
    void stop();

private:
    QProcess m_process;
    QString m_log;
};

// A camera that takes connections on the camera port and never answers: a
// login to it runs until the login time-out.
class SilentCamera {
public:
    explicit SilentCamera(const char* address);
    ~SilentCamera();
    SilentCamera(const SilentCamera&) = delete;
    SilentCamera& operator=(const SilentCamera&) = delete;
    bool ok() const;

private:
    int m_fd = -1;
    bool m_ok = false;
};
