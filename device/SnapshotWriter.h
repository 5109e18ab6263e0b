#pragma once
// Runs booked snapshot jobs one after another on a thread of its own, so that
// converting and encoding a large JPEG never holds up the preview thread.
// Jobs run in the order they were posted. post() may be called from any
// thread; the destructor runs the jobs still waiting, then stops the thread.
//
// A job is called exactly once: with true to do its work, or with false when
// the writer's time ran out before it started (finishWithin()), and then it
// only answers that it failed.

#include <QObject>
#include <QThread>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

using SnapshotJob = std::function<void(bool write)>;

// The job queue; lives on the writer thread and is woken by queued calls.
class SnapshotJobs : public QObject {
    Q_OBJECT

public:
    using Clock = std::chrono::steady_clock;

    void add(SnapshotJob job);
    // Runs jobs until none is waiting. Any thread; one caller at a time runs
    // a job, in posting order.
    Q_INVOKABLE void runJobs();
    // Jobs not started by `deadline` are answered as failed. The first
    // deadline set stays.
    void setDeadline(Clock::time_point deadline);
    // Blocks until no job waits or runs, or until the deadline; then answers
    // the jobs still waiting on this thread. False when a job was still
    // running or waiting at the deadline.
    bool waitIdle();

private:
    bool writeAllowed();

    std::mutex m_mutex;
    std::condition_variable m_idle;
    std::deque<SnapshotJob> m_jobs;
    bool m_busy = false; // a job is running
    bool m_hasDeadline = false;
    Clock::time_point m_deadline;
    std::mutex m_runMutex; // keeps the jobs in order when the destructor helps out
};

class SnapshotWriter {
public:
    SnapshotWriter();
    ~SnapshotWriter();
    SnapshotWriter(const SnapshotWriter&) = delete;
    SnapshotWriter& operator=(const SnapshotWriter&) = delete;

    void post(SnapshotJob job);
    // From now on the writer has `ms` to finish its queue: jobs it has not
    // started by then are answered as failed (also those posted later).
    void finishWithin(int ms);
    // Blocks until every job posted so far is answered, at most until the
    // time given to finishWithin() (forever without one); a write still
    // running then is not waited for. True when all jobs ran in time.
    bool waitIdle();

private:
    QThread m_thread;
    SnapshotJobs* m_jobs; // lives on m_thread
};
