// The main window's link to the camera's alarm service: one thread per
// camera session keeps a client of the service connected and registered for
// temperature alarms, reconnecting after failures, and ends with the
// session. The client's callbacks turn each alarm into handleTempAlarm().
#include "app/Thermography.h"

#include <Fixlink/PCCFixlink.h>

#include <QByteArray>
#include <QDebug>

#include <QMetaObject>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>

using kvtool::PCCFixlink;

// The request the link thread connects with; filled under the device lock.
struct FixlinkRequest {
    PCCFixlink::ReqInfo info;
};

namespace {

constexpr int kConnectTimeoutS = 5;
constexpr int kRegisteredPollMs = 1000;
constexpr int kAfterLoginFailureMs = 1000;
constexpr int kBetweenAttemptsMs = 500;
// How long a sent registration may wait for its answer, in steps of
// kRegisterPollMs; without one the client is replaced like after a "fail".
constexpr int kRegisterWaitMs = 5000;
constexpr int kRegisterPollMs = 50;
// A service that does not support temperature alarms is asked again no
// sooner than this.
constexpr int kNotSupportedRetryMs = 30000;

// Registration answers (the client's RegisterResult codes).
constexpr int kRegisteredOk = 1;
constexpr int kRegisterNotSupported = 0;
constexpr int kNoRegisterAnswer = -1000;
// Every this many failed service logins the camera is logged in again: the
// request carries the camera's login value, which may have gone stale.
constexpr int kReloginEvery = 10;

// The callbacks reach the window through the user pointer: the record of
// the link thread that created the client, which outlives every client.
// The last two fields describe the current client; the link thread resets
// them before it creates the next one, when no callback can run.
struct LinkContext {
    Thermography* window;
    std::atomic<int>* state;
    mutable std::atomic<int> registration { kNoRegisterAnswer };
    mutable std::atomic<bool> lost { false };
};

void onFixlinkData(const void* user, const void* data, PCCFixlink::DataType type)
{
    const auto* context = static_cast<const LinkContext*>(user);
    qDebug() << "工装返回"
             << "type" << int(type);
    if (!context || !data)
        return;
    if (type == PCCFixlink::TempAlarm) {
        const auto* record = static_cast<const PCCFixlink::TempAlarmRecord*>(data);
        Thermography::TempAlarm alarm;
        alarm.hasType = record->alarmType.state == 1;
        alarm.viAlarmType = record->alarmType.value;
        alarm.hasTemp = record->temp.state == 1;
        alarm.viTemp = record->temp.value;
        alarm.hasTimestamp = record->ts.state == 1;
        alarm.timestamp = record->ts.value;
        context->window->handleTempAlarm(alarm);
    } else if (type == PCCFixlink::RegisterResult) {
        const std::int32_t code = *static_cast<const std::int32_t*>(data);
        qDebug() << "注册结果" << code;
        // Only "ok" makes alarms flow; the link thread reads the rest. Set
        // here, in the order the client reports, so that a loss reported
        // after it is never overwritten.
        context->registration.store(code);
        if (code == kRegisteredOk)
            context->state->store(1);
    }
}

void onFixlinkStatus(const void* user, PCCFixlink::ConnectStatus status)
{
    const auto* context = static_cast<const LinkContext*>(user);
    switch (status) {
    case PCCFixlink::Connected:
        qDebug() << "Connection---------------connected";
        break;
    case PCCFixlink::Disconnected:
        qDebug() << "Connection---------------disconnect";
        if (context) {
            context->lost.store(true);
            context->state->store(2);
        }
        break;
    case PCCFixlink::Unknown:
        qDebug() << "Connection---------------unknown status";
        break;
    }
}

void onFixlinkLog(const void* user, const char* text)
{
    Q_UNUSED(user)
    if (text)
        qDebug().noquote() << QString::fromUtf8(text);
}

// Disconnecting waits for the client's receiver thread, so no callback of
// the client runs once it is gone.
void dropClient(std::unique_ptr<PCCFixlink>& client)
{
    if (!client)
        return;
    client->Disconnect();
    client.reset();
}

} // namespace

int Thermography::fillReqInfo(FixlinkRequest& req)
{
    Device* device = m_deviceMsg.device;
    if (!device)
        return -1;
    std::memset(&req.info, 0, sizeof req.info);
    const DeviceRecord* record = device->deviceRecord();
    const QByteArray ip = record->address.toLocal8Bit().left(int(sizeof req.info.ip) - 1);
    std::memcpy(req.info.ip, ip.constData(), size_t(ip.size()));
    req.info.port = static_cast<quint16>(record->port & 0xffff);
    req.info.requestValueA = record->id;
    req.info.requestValueB = device->loginInfoValue();
    req.info.requestFlag = 0;
    return 0;
}

void Thermography::startFixlinkSession()
{
    // One link thread serves a whole camera session: a stream restart of the
    // same session starts none.
    const int generation = m_deviceMsg.devicecount.load();
    if (m_linkGeneration.exchange(generation) == generation)
        return;
    std::lock_guard<std::mutex> locker(m_linkThreadsLock);
    if (m_closing)
        return;
    // Threads of ended sessions are done or about to be: join the done ones.
    for (auto it = m_linkThreads.begin(); it != m_linkThreads.end();) {
        if (it->done->load()) {
            it->thread.join();
            it = m_linkThreads.erase(it);
        } else {
            ++it;
        }
    }
    auto done = std::make_shared<std::atomic<bool>>(false);
    m_linkThreads.push_back({ std::thread([this, done] {
                                 runFixlinkSession();
                                 done->store(true);
                             }),
        done });
}

void Thermography::wakeFixlinkSessions()
{
    std::lock_guard<std::mutex> locker(m_linkWakeLock);
    m_linkWake.notify_all();
}

void Thermography::stopFixlinkSessions()
{
    std::vector<LinkThread> threads;
    {
        std::lock_guard<std::mutex> locker(m_linkThreadsLock);
        m_closing = true;
        threads.swap(m_linkThreads);
    }
    // A changed generation ends every pass.
    ++m_deviceMsg.devicecount;
    wakeFixlinkSessions();
    for (LinkThread& link : threads)
        link.thread.join();
}

void Thermography::runFixlinkSession()
{
    qDebug() << "frockconnect连接 ";
    std::lock_guard<std::mutex> serving(m_fixlinkLock);
    auto sessionExists = [this] {
        std::lock_guard<std::mutex> locker(m_deviceLock);
        return m_deviceMsg.device != nullptr;
    };
    if (m_closing || !sessionExists())
        return;

    FixlinkRequest req;
    int generation = 0;
    {
        std::lock_guard<std::mutex> locker(m_deviceLock);
        if (fillReqInfo(req) != 0)
            return;
        generation = m_deviceMsg.devicecount.load();
    }
    qDebug() << "m_deviceMsg.devicecount前 " << generation;

    LinkContext context { this, &m_fixlinkState };
    std::unique_ptr<PCCFixlink> client;
    int retries = 0;
    bool notSupportedShown = false;
    // Pauses end early when the session does.
    auto sleepMs = [this, generation](int ms) {
        std::unique_lock<std::mutex> locker(m_linkWakeLock);
        m_linkWake.wait_for(locker, std::chrono::milliseconds(ms),
            [this, generation] { return m_deviceMsg.devicecount.load() != generation; });
    };
    // The answer to the registration just sent: its code, or none when the
    // wait ran out, the link was lost or the session ended first.
    auto awaitRegistration = [this, &context, generation] {
        for (int waited = 0; waited < kRegisterWaitMs; waited += kRegisterPollMs) {
            const int answer = context.registration.load();
            if (answer != kNoRegisterAnswer)
                return answer;
            if (context.lost.load() || m_deviceMsg.devicecount.load() != generation)
                break;
            std::unique_lock<std::mutex> locker(m_linkWakeLock);
            m_linkWake.wait_for(locker, std::chrono::milliseconds(kRegisterPollMs),
                [this, generation] { return m_deviceMsg.devicecount.load() != generation; });
        }
        return context.registration.load();
    };

    // Ends with the session: a new one or none changes the generation or
    // empties the session.
    while (m_deviceMsg.devicecount.load() == generation) {
        if (m_fixlinkState.load() == 1) {
            retries = 0;
            sleepMs(kRegisteredPollMs);
        } else {
            if (client) {
                dropClient(client);
                qDebug() << "isdisconnect1";
            }
            // No client exists now, so no callback can run.
            context.registration = kNoRegisterAnswer;
            context.lost = false;
            client = std::make_unique<PCCFixlink>(&context, onFixlinkData, onFixlinkStatus, onFixlinkLog);
            const PCCFixlink::ResultCode rc = client->Connect(req.info, kConnectTimeoutS);
            qDebug() << "code 值" << int(rc);
            if (rc == PCCFixlink::Ok) {
                // Registered only when the service answers "ok"; the state
                // is set by the callback, never here, so a loss reported in
                // the meantime stands. Anything else replaces the client.
                const int answer = client->GetAlarmParams() == PCCFixlink::Ok ? awaitRegistration() : kNoRegisterAnswer;
                if (answer == kRegisteredOk && !context.lost.load()) {
                    qDebug() << "获取预警成功";
                    sleepMs(kRegisteredPollMs);
                } else if (answer == kRegisterNotSupported) {
                    qDebug() << "报警服务不支持温度报警, 30 s 后再试";
                    if (!notSupportedShown) {
                        notSupportedShown = true;
                        QMetaObject::invokeMethod(
                            this, [this] { showTip(tr("报警服务不支持温度报警"), TipMs, false); },
                            Qt::QueuedConnection);
                    }
                    dropClient(client);
                    sleepMs(kNotSupportedRetryMs);
                } else {
                    qDebug() << "注册失败" << answer;
                }
            } else if (rc == PCCFixlink::LoginFailed || rc == PCCFixlink::LoginRefused
                || rc == PCCFixlink::LoginDenied) {
                // The service refuses a request whose login value the camera
                // no longer knows (after a camera restart or re-login): a
                // refusal is retried like a failure, with the request filled
                // anew and the camera logged in again now and then, or the
                // link would stay down for good. A restarted camera denies
                // the old login value in the same way.
                if (rc != PCCFixlink::LoginFailed)
                    dropClient(client);
                ++retries;
                if (retries % kReloginEvery == 0) {
                    // The device lock keeps the session from being retired
                    // while it is asked to log in again.
                    std::lock_guard<std::mutex> locker(m_deviceLock);
                    if (m_deviceMsg.device && m_deviceMsg.devicecount.load() == generation)
                        m_deviceMsg.device->login(false, true, Device::kRefreshRestartsPreview);
                }
                sleepMs(kAfterLoginFailureMs);
                std::lock_guard<std::mutex> locker(m_deviceLock);
                if (m_deviceMsg.devicecount.load() == generation)
                    fillReqInfo(req);
            } else {
                dropClient(client);
            }
            sleepMs(kBetweenAttemptsMs);
        }
        if (!sessionExists())
            break;
    }
    if (client) {
        qDebug() << "isdisconnect";
        dropClient(client);
        m_fixlinkState = 2;
    }
    qDebug() << "m_deviceMsg.devicecount " << m_deviceMsg.devicecount.load();
}
