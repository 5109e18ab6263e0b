#pragma once
// Runs booked snapshot jobs one after another on a thread of its own, so that
// converting and encoding a large JPEG never holds up the preview thread.
// Jobs run in the order they were posted. post() may be called from any
// thread; the destructor runs the jobs still waiting, then stops the thread.

#include <QObject>
#include <QThread>

#include <deque>
#include <functional>
#include <mutex>

// The job queue; lives on the writer thread and is woken by queued calls.
class SnapshotJobs : public QObject {
    Q_OBJECT

public:
    void add(std::function<void()> job);
    // Runs jobs until none is waiting. Any thread; one caller at a time runs
    // a job, in posting order.
    Q_INVOKABLE void runJobs();

private:
    std::mutex m_mutex;
    std::deque<std::function<void()>> m_jobs;
    std::mutex m_runMutex; // keeps the jobs in order when the destructor helps out
};

class SnapshotWriter {
public:
    SnapshotWriter();
    ~SnapshotWriter();
    SnapshotWriter(const SnapshotWriter&) = delete;
    SnapshotWriter& operator=(const SnapshotWriter&) = delete;

    void post(std::function<void()> job);

private:
    QThread m_thread;
    SnapshotJobs* m_jobs; // lives on m_thread
};
