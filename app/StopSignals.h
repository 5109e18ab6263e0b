// Turns SIGTERM, SIGINT and SIGHUP (a desktop ending its session, a service
// manager stopping the station, Ctrl+C in a terminal) into a Qt signal on
// the thread that made the object, so that the program can end as through
// its close button, with the waiting alarm pictures served first. One
// object per process; while it lives, those signals no longer end the
// process by themselves.
#pragma once

#include <QObject>

class QSocketNotifier;

class StopSignals : public QObject {
    Q_OBJECT

public:
    explicit StopSignals(QObject* parent = nullptr);
    ~StopSignals() override;
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

signals:
    // Once, for the first of the signals; later ones are ignored.
    void sigStopRequested(int signalNumber);

private slots:
    void onSigActivated();

private:
    QSocketNotifier* m_notifier = nullptr;
    bool m_requested = false;
};
