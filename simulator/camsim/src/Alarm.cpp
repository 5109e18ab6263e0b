#include "Alarm.h"

#include "Log.h"

#include <chrono>
#include <map>
#include <unistd.h>

#ifdef CAMSIM_WITH_ALARMS
#include <alarmpeer/AlarmPeer.h>
#endif

namespace camsim {

#ifdef CAMSIM_WITH_ALARMS
struct AlarmService::Peer {
    std::unique_ptr<alarmpeer::AlarmPeer> peer;
    // When each open session connection opened, for the drop fault.
    std::mutex mutex;
    std::map<alarmpeer::SessionId, std::chrono::steady_clock::time_point> opened;
};
#else
struct AlarmService::Peer { };
#endif

AlarmService::AlarmService(Camera& camera)
    : m_camera(camera)
    , m_peer(new Peer)
{
}

AlarmService::~AlarmService()
{
    stop();
}

bool AlarmService::start()
{
#ifdef CAMSIM_WITH_ALARMS
    const Options& o = m_camera.options();
    alarmpeer::AlarmPeer::Options po;
    po.address = m_camera.address();
    po.listenForLogins = false;
    po.keyChangeInterval = std::chrono::seconds(o.keyChangeSeconds);
    po.answerHeartbeats = true;
    m_peer->peer = std::make_unique<alarmpeer::AlarmPeer>(po);
    Camera* cam = &m_camera;
    m_peer->peer->setGrantDecider([cam](const alarmpeer::LoginRequest& r) {
        const bool ok = r.requestValueA == cam->id() && cam->isCurrent(r.requestValueB);
        logLine(cam->address() + " alarm login for id " + std::to_string(r.requestValueA) + " value "
            + std::to_string(r.requestValueB) + (ok ? ": granted" : ": not granted"));
        return ok ? alarmpeer::LoginDecision::granted() : alarmpeer::LoginDecision::denied(1018);
    });
    Peer* peer = m_peer.get();
    m_peer->peer->setEventHook([cam, peer](const alarmpeer::PeerEvent& e) {
        {
            std::lock_guard<std::mutex> lock(peer->mutex);
            if (e.kind == alarmpeer::PeerEvent::SessionOpened)
                peer->opened[e.session] = std::chrono::steady_clock::now();
            else if (e.kind == alarmpeer::PeerEvent::SessionClosed)
                peer->opened.erase(e.session);
        }
        if (e.kind == alarmpeer::PeerEvent::Authenticated || e.kind == alarmpeer::PeerEvent::SessionClosed
            || e.kind == alarmpeer::PeerEvent::ProtocolError || e.kind == alarmpeer::PeerEvent::AuthStalled
            || e.kind == alarmpeer::PeerEvent::RegistrationAnswered) {
            static const char* names[]
                = { "login served", "session opened", "session authenticated", "session rejected", "frame",
                      "session closed", "protocol error", "session auth left unanswered", "registration answered" };
            logLine(cam->address() + " alarm " + names[e.kind] + " " + std::to_string(e.session)
                + (e.detail.empty() ? std::string() : ": " + e.detail));
        }
    });
    if (o.refuseAlarmLogins)
        m_peer->peer->setLoginMode(alarmpeer::LoginMode::Refuse);
    m_peer->peer->stallAuth(o.stallAlarmAuth);
    m_peer->peer->failRegistrations(o.failAlarmRegistration);
    if (!m_peer->peer->start())
        return false;
    logLine(m_camera.address() + " alarm sessions on port " + std::to_string(m_peer->peer->sessionPort()));
    m_thread = std::thread([this] { watchCrowd(); });
#endif
    return true;
}

void AlarmService::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
#ifdef CAMSIM_WITH_ALARMS
    if (m_peer->peer)
        m_peer->peer->stop();
#endif
}

void AlarmService::adopt(int fd, const uint8_t* first, size_t size)
{
#ifdef CAMSIM_WITH_ALARMS
    if (m_peer->peer) {
        m_peer->peer->adopt(fd, first, size);
        return;
    }
#else
    (void)first;
    (void)size;
#endif
    ::close(fd);
}

// One event per person, at the moment the camera measures them.
void AlarmService::watchCrowd()
{
#ifdef CAMSIM_WITH_ALARMS
    int64_t checkedMs = m_camera.sceneMs();
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_wake.wait_for(lock, std::chrono::milliseconds(100), [this] { return m_stopping; })) {
        const int64_t now = m_camera.sceneMs();
        Person p;
        if (m_camera.crowd().personAt(now, p) && p.measureMs > checkedMs && p.measureMs <= now) {
            const int high = m_camera.highThreshold();
            const int alarmType = p.temperature > high ? 1 : 0;
            const int64_t utc = (m_camera.localMs() - int64_t(m_camera.options().timezone) * 3600000) / 1000;
            // Wall-clock milliseconds of the send, for measuring how long the
            // viewer takes to show the person.
            const auto sentMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::system_clock::now().time_since_epoch())
                                    .count();
            // Only to sessions that asked for alarms and were told "ok".
            const int sessions
                = m_peer->peer->sendTempAlarm(alarmType, p.temperature, utc, alarmpeer::RegisteredSessions);
            logLine(m_camera.address() + " person " + std::to_string(p.index) + " " + std::to_string(p.temperature)
                + (alarmType ? " abnormal" : " normal") + ", sent to " + std::to_string(sessions) + " session(s) at "
                + std::to_string(static_cast<long long>(sentMs)) + " ms");
        }
        checkedMs = now;
        dropOldSessions();
    }
#endif
}

// The drop fault: session connections end after the same time as the others.
void AlarmService::dropOldSessions()
{
#ifdef CAMSIM_WITH_ALARMS
    const double limit = m_camera.options().dropAfterSeconds;
    if (limit <= 0)
        return;
    std::vector<alarmpeer::SessionId> due;
    {
        std::lock_guard<std::mutex> lock(m_peer->mutex);
        const auto now = std::chrono::steady_clock::now();
        for (const auto& [id, at] : m_peer->opened)
            if (id != alarmpeer::AllSessions && now - at >= std::chrono::duration<double>(limit))
                due.push_back(id);
        for (alarmpeer::SessionId id : due)
            m_peer->opened.erase(id);
    }
    for (alarmpeer::SessionId id : due) {
        m_peer->peer->closeSessions(id);
        logLine(m_camera.address() + " alarm session " + std::to_string(id) + " dropped");
    }
#endif
}

} // namespace camsim
