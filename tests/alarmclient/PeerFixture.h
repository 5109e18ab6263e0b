#pragma once
// A Fixlink client wired to recording callbacks, and an alarm-service peer
// on 127.0.0.1, for the session tests. The recorder is filled on the
// client's receiver thread and read on the test's thread.

#include "TestPatience.h"

#include <Fixlink/PCCFixlink.h>
#include <alarmpeer/AlarmPeer.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// A wait or an upper time bound, stretched by the build's patience factor.
inline std::chrono::milliseconds patientMs(std::chrono::milliseconds bound)
{
    return std::chrono::milliseconds(patient(static_cast<int>(bound.count())));
}
inline double patientSeconds(double seconds)
{
    return patient(static_cast<int>(seconds * 1000)) / 1000.0;
}

struct ClientRecord {
    std::vector<kvtool::PCCFixlink::ConnectStatus> statuses;
    std::vector<std::int32_t> registerCodes;
    std::vector<kvtool::PCCFixlink::TempAlarmRecord> alarms;
    std::vector<std::string> logs;
};

class Recorder {
public:
    void addStatus(kvtool::PCCFixlink::ConnectStatus status);
    void addData(const void* data, kvtool::PCCFixlink::DataType type);
    void addLog(const char* text);

    ClientRecord snapshot() const;
    bool waitFor(const std::function<bool(const ClientRecord&)>& done, std::chrono::milliseconds timeout) const;

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    ClientRecord m_record;
};

class PeerTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Restarts the peer with other options (before any client connects).
    void restartPeer(const alarmpeer::AlarmPeer::Options& options);
    kvtool::PCCFixlink::ReqInfo request() const;
    // `timeout`: the seconds Connect waits for the Auth answer.
    kvtool::PCCFixlink::ResultCode connect(int timeout = patient(5000) / 1000);
    bool waitForStatusCount(
        std::size_t count, std::chrono::milliseconds timeout = patientMs(std::chrono::seconds(5))) const;
    // The frames the peer got with the given command, in arrival order.
    std::vector<alarmpeer::ReceivedFrame> framesWithCommand(std::uint8_t command) const;
    bool waitForFrameCount(std::uint8_t command, std::size_t count,
        std::chrono::milliseconds timeout = patientMs(std::chrono::seconds(5))) const;

    std::unique_ptr<alarmpeer::AlarmPeer> peer;
    Recorder recorder;
    std::unique_ptr<kvtool::PCCFixlink> client;
};
