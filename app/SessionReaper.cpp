#include "app/SessionReaper.h"

#include "device/Device.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

// State shared with the detached thread; whichever of the two ends last
// frees it.
struct SessionReaper::Shared {
    std::mutex lock;
    std::condition_variable wake;
    std::deque<Device*> retired;
    bool stopping = false;
    bool finished = false; // the thread has left its loop
};

namespace {

// Idle sessions are looked for at least this often even without a wake-up.
constexpr std::chrono::milliseconds kIdlePoll(1000);
// How long the end of the reaper waits for sessions still being destroyed:
// longer than a login or a stream stop takes to give up.
constexpr int kFinishWaitMs = 15000;

} // namespace

SessionReaper::SessionReaper()
    : m_shared(std::make_shared<Shared>())
{
    m_thread = std::thread([shared = m_shared] {
        std::unique_lock<std::mutex> guard(shared->lock);
        for (;;) {
            if (shared->retired.empty()) {
                if (shared->stopping) {
                    shared->finished = true;
                    shared->wake.notify_all();
                    return;
                }
                shared->wake.wait_for(guard, kIdlePoll);
                continue;
            }
            Device* session = shared->retired.front();
            shared->retired.pop_front();
            // Deleting joins the session's threads: do it without the lock so
            // that the GUI thread can go on retiring sessions meanwhile.
            guard.unlock();
            delete session;
            guard.lock();
        }
    });
}

SessionReaper::~SessionReaper()
{
    // A session that hangs in its destructor is left to the thread, which
    // keeps the shared state alive; the process may end under it.
    if (!finish(kFinishWaitMs))
        m_thread.detach();
}

bool SessionReaper::finish(int timeoutMs)
{
    if (!m_thread.joinable())
        return true;
    bool finished = false;
    {
        std::unique_lock<std::mutex> guard(m_shared->lock);
        m_shared->stopping = true;
        m_shared->wake.notify_all();
        finished = m_shared->wake.wait_for(
            guard, std::chrono::milliseconds(timeoutMs), [this] { return m_shared->finished; });
    }
    if (finished)
        m_thread.join();
    return finished;
}

void SessionReaper::retire(Device* session)
{
    if (!session)
        return;
    session->prepareForDestruction();
    {
        std::lock_guard<std::mutex> guard(m_shared->lock);
        if (!m_shared->stopping) {
            m_shared->retired.push_back(session);
            session = nullptr;
        }
    }
    // Once the reaper has ended, sessions go on the caller's thread.
    delete session;
    m_shared->wake.notify_one();
}

int SessionReaper::pending() const
{
    std::lock_guard<std::mutex> guard(m_shared->lock);
    return static_cast<int>(m_shared->retired.size());
}
