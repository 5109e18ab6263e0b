// SessionReaper destroys ended camera sessions off the GUI thread, one at a
// time and oldest first, so that joining a session's worker threads never
// blocks the window. The GUI thread hands sessions over with retire(); a
// thread of the reaper's own deletes them.
#pragma once

#include <memory>
#include <thread>

class Device;

class SessionReaper {
public:
    SessionReaper();
    // Finishes what the thread holds, waiting a bounded time (see finish);
    // a thread still busy then is let go.
    ~SessionReaper();

    SessionReaper(const SessionReaper&) = delete;
    SessionReaper& operator=(const SessionReaper&) = delete;

    // Takes ownership of an ended session; null is ignored. Call on the
    // session's own (GUI) thread: the session is cut off from its workers
    // here, so no report of it reaches anyone once it is handed over.
    void retire(Device* session);
    // Sessions still waiting to be destroyed.
    int pending() const;
    // Lets the thread destroy what it holds and waits up to timeoutMs for it
    // to end; true when it has (call again to wait longer). Sessions retired
    // afterwards are destroyed at once, on the caller's thread.
    bool finish(int timeoutMs);

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
    std::thread m_thread;
};
