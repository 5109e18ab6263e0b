// SessionReaper destroys ended camera sessions off the GUI thread, one at a
// time and oldest first, so that joining a session's worker threads never
// blocks the window. The GUI thread hands sessions over with retire(); a
// detached thread of the reaper's own deletes them.
#pragma once

#include <memory>

class Device;

class SessionReaper {
public:
    SessionReaper();
    // Lets the thread finish what it holds and end; it never blocks.
    ~SessionReaper();

    SessionReaper(const SessionReaper&) = delete;
    SessionReaper& operator=(const SessionReaper&) = delete;

    // Takes ownership of an ended session; null is ignored. Call on the
    // session's own (GUI) thread: the session is cut off from its workers
    // here, so no report of it reaches anyone once it is handed over.
    void retire(Device* session);
    // Sessions still waiting to be destroyed.
    int pending() const;

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
};
