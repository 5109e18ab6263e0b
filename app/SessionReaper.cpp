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
};

namespace {

// Idle sessions are looked for at least this often even without a wake-up.
constexpr std::chrono::milliseconds kIdlePoll(1000);

} // namespace

SessionReaper::SessionReaper()
    : m_shared(std::make_shared<Shared>())
{
    std::thread([shared = m_shared] {
        std::unique_lock<std::mutex> guard(shared->lock);
        for (;;) {
            if (shared->retired.empty()) {
                if (shared->stopping)
                    return;
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
    }).detach();
}

SessionReaper::~SessionReaper()
{
    {
        std::lock_guard<std::mutex> guard(m_shared->lock);
        m_shared->stopping = true;
    }
    m_shared->wake.notify_one();
}

void SessionReaper::retire(Device* session)
{
    if (!session)
        return;
    session->prepareForDestruction();
    {
        std::lock_guard<std::mutex> guard(m_shared->lock);
        m_shared->retired.push_back(session);
    }
    m_shared->wake.notify_one();
}

int SessionReaper::pending() const
{
    std::lock_guard<std::mutex> guard(m_shared->lock);
    return static_cast<int>(m_shared->retired.size());
}
