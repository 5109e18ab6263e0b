// Sessions of the Fixlink client against alarm peers that run as programs
// of their own (alarmpeer-server), so that a client built for another
// system is tried on the real wire. The peers are named by
//   FIXLINK_PEER          grants logins, sends an alarm a second, changes keys
//   FIXLINK_PEER_DENY     denies logins with reason 1018
//   FIXLINK_PEER_REFUSE   refuses logins (reply kind -100)
//   FIXLINK_PEER_REJECT   grants logins, rejects the authentication
// each as "address:port"; a test whose peer is not named is skipped.

#include "TestPatience.h"

#include <Fixlink/PCCFixlink.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

using kvtool::PCCFixlink;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// A wait stretched by the build's patience factor.
std::chrono::milliseconds patientMs(std::chrono::milliseconds bound)
{
    return std::chrono::milliseconds(patient(static_cast<int>(bound.count())));
}

struct Peer {
    std::string ip;
    std::uint16_t port = 0;
};

bool peerFrom(const char* variable, Peer& peer)
{
    const char* text = std::getenv(variable);
    if (!text || !*text)
        return false;
    const std::string value = text;
    const auto colon = value.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon >= 16)
        return false;
    peer.ip = value.substr(0, colon);
    const long port = std::strtol(value.c_str() + colon + 1, nullptr, 10);
    if (port <= 0 || port > 65535)
        return false;
    peer.port = static_cast<std::uint16_t>(port);
    return true;
}

#define REQUIRE_PEER(variable, peer)                                                                                   \
    Peer peer;                                                                                                         \
    if (!peerFrom(variable, peer))                                                                                     \
    GTEST_SKIP() << variable " names no running alarm peer"

// What one client reported, filled on its receiver thread.
class Record {
public:
    void status(PCCFixlink::ConnectStatus s)
    {
        change([&] { m_statuses.push_back(s); });
    }
    void data(const void* p, PCCFixlink::DataType type)
    {
        change([&] {
            if (type == PCCFixlink::RegisterResult)
                m_registerCodes.push_back(*static_cast<const std::int32_t*>(p));
            else if (type == PCCFixlink::TempAlarm)
                m_alarms.push_back(*static_cast<const PCCFixlink::TempAlarmRecord*>(p));
        });
    }
    void log(const char* text)
    {
        change([&] { m_logs.emplace_back(text); });
    }

    template <typename Done> bool waitFor(Done done, std::chrono::milliseconds timeout)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return done(*this); });
    }

    std::vector<PCCFixlink::ConnectStatus> statuses() const { return locked(m_statuses); }
    std::vector<std::int32_t> registerCodes() const { return locked(m_registerCodes); }
    std::vector<PCCFixlink::TempAlarmRecord> alarms() const { return locked(m_alarms); }
    std::vector<std::string> logs() const { return locked(m_logs); }

    // Unlocked views for waitFor's predicate, which runs under the lock.
    std::size_t statusCount() const { return m_statuses.size(); }
    std::size_t registerCount() const { return m_registerCodes.size(); }
    std::size_t alarmCount() const { return m_alarms.size(); }

private:
    template <typename Action> void change(Action action)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            action();
        }
        m_changed.notify_all();
    }
    template <typename T> T locked(const T& value) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return value;
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<PCCFixlink::ConnectStatus> m_statuses;
    std::vector<std::int32_t> m_registerCodes;
    std::vector<PCCFixlink::TempAlarmRecord> m_alarms;
    std::vector<std::string> m_logs;
};

Record* recordOf(const void* user)
{
    return static_cast<Record*>(const_cast<void*>(user));
}

void onData(const void* user, const void* data, PCCFixlink::DataType type)
{
    recordOf(user)->data(data, type);
}

void onStatus(const void* user, PCCFixlink::ConnectStatus status)
{
    recordOf(user)->status(status);
}

void onLog(const void* user, const char* text)
{
    recordOf(user)->log(text);
}

PCCFixlink::ReqInfo requestFor(const Peer& peer)
{
    PCCFixlink::ReqInfo info;
    std::memset(&info, 0, sizeof info);
    std::memcpy(info.ip, peer.ip.data(), peer.ip.size());
    info.port = peer.port;
    info.requestValueA = 4242;
    info.requestValueB = -7;
    info.requestFlag = 3;
    return info;
}

struct Client {
    Record record;
    PCCFixlink fixlink { &record, onData, onStatus, onLog };
    ~Client() { fixlink.Disconnect(); }
};

} // namespace

TEST(RemotePeer, ConnectsRegistersAndReceivesAlarmsAcrossKeyChanges)
{
    REQUIRE_PEER("FIXLINK_PEER", peer);
    // Two clients at once: each has its own session, thread and keys.
    Client first;
    Client second;
    EXPECT_EQ(first.fixlink.GetAlarmParams(), PCCFixlink::NotConnected);
    ASSERT_EQ(first.fixlink.Connect(requestFor(peer), patient(10000) / 1000), PCCFixlink::Ok);
    ASSERT_EQ(second.fixlink.Connect(requestFor(peer), patient(10000) / 1000), PCCFixlink::Ok);
    EXPECT_EQ(first.fixlink.Connect(requestFor(peer), patient(10000) / 1000), PCCFixlink::AlreadyConnected);

    for (Client* client : { &first, &second }) {
        ASSERT_TRUE(client->record.waitFor([](const Record& r) { return r.statusCount() >= 1; }, patientMs(10s)));
        EXPECT_EQ(client->record.statuses(), std::vector<PCCFixlink::ConnectStatus> { PCCFixlink::Connected });
        ASSERT_EQ(client->fixlink.GetAlarmParams(), PCCFixlink::Ok);
    }
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    for (Client* client : { &first, &second }) {
        ASSERT_TRUE(client->record.waitFor([](const Record& r) { return r.registerCount() >= 1; }, patientMs(10s)));
        EXPECT_EQ(client->record.registerCodes(), std::vector<std::int32_t> { 1 });
        // An alarm a second and a new key every 1.5 s: four alarms have
        // crossed at least two key changes.
        ASSERT_TRUE(client->record.waitFor([](const Record& r) { return r.alarmCount() >= 4; }, patientMs(20s)));
        for (const auto& alarm : client->record.alarms()) {
            EXPECT_EQ(alarm.alarmType.state, 1);
            EXPECT_EQ(alarm.temp.state, 1);
            EXPECT_EQ(alarm.ts.state, 1);
            EXPECT_GE(alarm.temp.value, 360);
            EXPECT_LE(alarm.temp.value, 380);
            EXPECT_EQ(alarm.alarmType.value != 0, alarm.temp.value >= 373) << alarm.temp.value;
            EXPECT_LT(std::abs(alarm.ts.value - now), patient(120000) / 1000);
        }
        EXPECT_EQ(client->record.statuses().size(), 1U) << "no loss while the peer runs";
    }

    // The registration request and the data received reach the log as text.
    const auto logs = first.record.logs();
    bool request = false;
    bool received = false;
    for (const auto& line : logs) {
        request = request || line.find("\"mv.register\"") != std::string::npos;
        received = received || line.find("event_occured") != std::string::npos;
    }
    EXPECT_TRUE(request);
    EXPECT_TRUE(received);

    // Disconnect wakes the receiver thread rather than waiting out its read.
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(first.fixlink.Disconnect(), PCCFixlink::Ok);
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), patient(1500) / 1000.0);
    EXPECT_EQ(first.fixlink.GetAlarmParams(), PCCFixlink::NotConnected);
    EXPECT_EQ(first.record.statuses().size(), 1U) << "Disconnect reports nothing";

    // The other session goes on.
    const std::size_t seen = second.record.alarms().size();
    EXPECT_TRUE(second.record.waitFor([seen](const Record& r) { return r.alarmCount() > seen; }, patientMs(5s)));
}

TEST(RemotePeer, LoginResultsReachTheCaller)
{
    struct Case {
        const char* variable;
        PCCFixlink::ResultCode expected;
    };
    const Case cases[] = {
        { "FIXLINK_PEER_DENY", PCCFixlink::LoginDenied },
        { "FIXLINK_PEER_REFUSE", PCCFixlink::LoginRefused },
    };
    int tried = 0;
    for (const auto& c : cases) {
        Peer peer;
        if (!peerFrom(c.variable, peer))
            continue;
        ++tried;
        Client client;
        EXPECT_EQ(client.fixlink.Connect(requestFor(peer), 5), c.expected) << c.variable;
        EXPECT_EQ(client.fixlink.GetAlarmParams(), PCCFixlink::NotConnected) << c.variable;
        EXPECT_TRUE(client.record.statuses().empty()) << c.variable;
    }
    if (tried == 0)
        GTEST_SKIP() << "no denying or refusing alarm peer named";
}

TEST(RemotePeer, NoServiceOnThePortIsALoginFailure)
{
    REQUIRE_PEER("FIXLINK_PEER", peer);
    // Port 9 (discard) is not served on the peer's own address.
    peer.port = 9;
    Client client;
    EXPECT_EQ(client.fixlink.Connect(requestFor(peer), 5), PCCFixlink::LoginFailed);
    EXPECT_EQ(client.fixlink.GetAlarmParams(), PCCFixlink::NotConnected);
    EXPECT_EQ(client.fixlink.Disconnect(), PCCFixlink::Ok);
}

TEST(RemotePeer, RejectedAuthenticationReportsDisconnectedOnce)
{
    REQUIRE_PEER("FIXLINK_PEER_REJECT", peer);
    Client client;
    EXPECT_EQ(client.fixlink.Connect(requestFor(peer), patient(10000) / 1000), PCCFixlink::SessionFailed);
    // Connect closed the refused session, receiver thread and all: nothing
    // can be reported after it returned.
    EXPECT_EQ(client.record.statuses(), std::vector<PCCFixlink::ConnectStatus> { PCCFixlink::Disconnected });
    EXPECT_EQ(client.fixlink.GetAlarmParams(), PCCFixlink::NotConnected);
    EXPECT_EQ(client.fixlink.Connect(requestFor(peer), 1), PCCFixlink::SessionFailed) << "nothing left attached";
}
