#pragma once
// A Fixlink client wired to recording callbacks, and an alarm-service peer
// on 127.0.0.1, for the session tests. The recorder is filled on the
// client's receiver thread and read on the test's thread.

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
    kvtool::PCCFixlink::ResultCode connect(int timeout = 5);
    bool waitForStatusCount(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
    // The frames the peer got with the given command, in arrival order.
    std::vector<alarmpeer::ReceivedFrame> framesWithCommand(std::uint8_t command) const;
    bool waitForFrameCount(
        std::uint8_t command, std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;

    std::unique_ptr<alarmpeer::AlarmPeer> peer;
    Recorder recorder;
    std::unique_ptr<kvtool::PCCFixlink> client;
};
