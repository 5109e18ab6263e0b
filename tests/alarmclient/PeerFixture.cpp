#include "PeerFixture.h"

#include <cstring>

using kvtool::PCCFixlink;

namespace {

Recorder* recorderOf(const void* user)
{
    return static_cast<Recorder*>(const_cast<void*>(user));
}

void onData(const void* user, const void* data, PCCFixlink::DataType type)
{
    recorderOf(user)->addData(data, type);
}

void onStatus(const void* user, PCCFixlink::ConnectStatus status)
{
    recorderOf(user)->addStatus(status);
}

void onLog(const void* user, const char* text)
{
    recorderOf(user)->addLog(text);
}

} // namespace

void Recorder::addStatus(PCCFixlink::ConnectStatus status)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_record.statuses.push_back(status);
    }
    m_changed.notify_all();
}

void Recorder::addData(const void* data, PCCFixlink::DataType type)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (type == PCCFixlink::RegisterResult)
            m_record.registerCodes.push_back(*static_cast<const std::int32_t*>(data));
        else if (type == PCCFixlink::TempAlarm)
            m_record.alarms.push_back(*static_cast<const PCCFixlink::TempAlarmRecord*>(data));
    }
    m_changed.notify_all();
}

void Recorder::addLog(const char* text)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_record.logs.emplace_back(text);
    }
    m_changed.notify_all();
}

ClientRecord Recorder::snapshot() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_record;
}

bool Recorder::waitFor(const std::function<bool(const ClientRecord&)>& done, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return done(m_record); });
}

void PeerTest::SetUp()
{
    restartPeer(alarmpeer::AlarmPeer::Options());
    client = std::make_unique<PCCFixlink>(&recorder, onData, onStatus, onLog);
}

void PeerTest::TearDown()
{
    if (client)
        client->Disconnect();
    client.reset();
    peer.reset();
}

void PeerTest::restartPeer(const alarmpeer::AlarmPeer::Options& options)
{
    peer.reset();
    peer = std::make_unique<alarmpeer::AlarmPeer>(options);
    ASSERT_TRUE(peer->start());
}

PCCFixlink::ReqInfo PeerTest::request() const
{
    PCCFixlink::ReqInfo info;
    std::memset(&info, 0, sizeof info);
    std::strcpy(info.ip, "127.0.0.1");
    info.port = peer->loginPort();
    info.requestValueA = 4242;
    info.requestValueB = -7;
    info.requestFlag = 3;
    return info;
}

PCCFixlink::ResultCode PeerTest::connect(int timeout)
{
    return client->Connect(request(), timeout);
}

bool PeerTest::waitForStatusCount(std::size_t count, std::chrono::milliseconds timeout) const
{
    return recorder.waitFor([count](const ClientRecord& r) { return r.statuses.size() >= count; }, timeout);
}

std::vector<alarmpeer::ReceivedFrame> PeerTest::framesWithCommand(std::uint8_t command) const
{
    std::vector<alarmpeer::ReceivedFrame> out;
    for (const auto& f : peer->received()) {
        if (f.command == command)
            out.push_back(f);
    }
    return out;
}

bool PeerTest::waitForFrameCount(std::uint8_t command, std::size_t count, std::chrono::milliseconds timeout) const
{
    return peer->waitForFrames(
        [command, count](const std::vector<alarmpeer::ReceivedFrame>& frames) {
            std::size_t n = 0;
            for (const auto& f : frames)
                n += f.command == command;
            return n >= count;
        },
        timeout);
}
