#pragma once
// Runs booked snapshot jobs one after another on a thread of its own, so that
// converting and encoding a large JPEG never holds up the preview thread.
// Jobs run in the order they were posted. post() may be called from any thread
// but the writer's own; the destructor runs the jobs already posted, then
// stops the thread.

#include <QObject>
#include <QThread>

#include <functional>

class SnapshotWriter {
public:
    SnapshotWriter();
    ~SnapshotWriter();
    SnapshotWriter(const SnapshotWriter&) = delete;
    SnapshotWriter& operator=(const SnapshotWriter&) = delete;

    void post(std::function<void()> job);

private:
    QThread m_thread;
    QObject* m_context; // lives on m_thread; jobs run as its queued calls
};
