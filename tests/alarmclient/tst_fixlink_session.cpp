// Sessions of the Fixlink client against the alarm-service peer on
// 127.0.0.1: login exchange results, authentication, frames on the wire,
// key changes, heartbeats, events, and the ways a session ends.

#include "PeerFixture.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>

using kvtool::PCCFixlink;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::uint8_t kAuth = 1;
constexpr std::uint8_t kKeyChange = 2;
constexpr std::uint8_t kHeartbeat = 3;
constexpr std::uint8_t kRequest = 10;

const char* const kRegistrationText = "{\n"
                                      "   \"method\" : \"mv.register\",\n"
                                      "   \"msg_id\" : 0,\n"
                                      "   \"param\" : [ \"e.temp_alarm\" ]\n"
                                      "}\n";

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::uint16_t closedPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa {};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof sa;
    ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &size);
    ::close(fd);
    return ntohs(sa.sin_port);
}

std::string text(const std::vector<std::uint8_t>& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

} // namespace

TEST_F(PeerTest, ConnectsAuthenticatesAndSpeaksTheFrameLayout)
{
    ASSERT_EQ(connect(), PCCFixlink::Ok);
    ASSERT_TRUE(waitForStatusCount(1));
    EXPECT_EQ(recorder.snapshot().statuses, std::vector<PCCFixlink::ConnectStatus> { PCCFixlink::Connected });

    const auto logins = peer->logins();
    ASSERT_EQ(logins.size(), 1u);
    EXPECT_EQ(logins[0].kind, 378);
    EXPECT_EQ(logins[0].requestValueA, 4242);
    EXPECT_EQ(logins[0].requestFlag, 3);
    EXPECT_EQ(logins[0].requestValueB, -7);

    ASSERT_EQ(client->GetAlarmParams(), PCCFixlink::Ok);
    ASSERT_TRUE(recorder.waitFor([](const ClientRecord& r) { return !r.registerCodes.empty(); }, patientMs(5s)));
    EXPECT_EQ(recorder.snapshot().registerCodes, std::vector<std::int32_t> { 1 });

    const auto frames = peer->received();
    ASSERT_GE(frames.size(), 3u);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_TRUE(frames[i].digestOk) << "frame " << i;
        EXPECT_EQ(frames[i].sequence, i + 1) << "sequence counts frames from 1";
        EXPECT_EQ(frames[i].totalLength, frames[i].wire.size());
        EXPECT_EQ(frames[i].infoLength, 21);
        EXPECT_EQ(frames[i].infoDataLength, frames[i].data.size());
    }

    const auto auth = framesWithCommand(kAuth);
    ASSERT_EQ(auth.size(), 1u);
    EXPECT_EQ(auth[0].totalLength, 61);
    EXPECT_FALSE(auth[0].encrypted);
    ASSERT_EQ(auth[0].data.size(), 20u);

    const auto heartbeat = framesWithCommand(kHeartbeat);
    ASSERT_FALSE(heartbeat.empty());
    EXPECT_EQ(heartbeat[0].totalLength, 41) << "the first heartbeat goes out before encryption";
    EXPECT_FALSE(heartbeat[0].encrypted);

    const auto requests = framesWithCommand(kRequest);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_TRUE(requests[0].encrypted);
    EXPECT_EQ(requests[0].keyGeneration, 0);
    EXPECT_EQ(requests[0].dataKind, 1);
    EXPECT_EQ(text(requests[0].data), kRegistrationText);
    EXPECT_EQ(requests[0].plainLength, 21 + std::strlen(kRegistrationText));
    EXPECT_EQ(requests[0].totalLength, 20 + (requests[0].plainLength + 15) / 16 * 16);
    EXPECT_EQ(peer->protocolErrors(), 0);
}

TEST_F(PeerTest, EventsArriveInOrder)
{
    ASSERT_EQ(connect(), PCCFixlink::Ok);
    ASSERT_EQ(client->GetAlarmParams(), PCCFixlink::Ok);
    ASSERT_TRUE(peer->waitForAuthenticated(1, patientMs(5s)));
    const int count = 40;
    for (int i = 0; i < count; ++i)
        ASSERT_EQ(peer->sendTempAlarm(i % 3, 350 + i, 1765000000 + i), 1);
    ASSERT_TRUE(recorder.waitFor([&](const ClientRecord& r) { return r.alarms.size() >= count; }, patientMs(10s)));
    const auto alarms = recorder.snapshot().alarms;
    ASSERT_EQ(alarms.size(), static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        EXPECT_EQ(alarms[i].alarmType.state, 1);
        EXPECT_EQ(alarms[i].alarmType.value, i % 3);
        EXPECT_EQ(alarms[i].temp.value, 350 + i);
        EXPECT_EQ(alarms[i].ts.value, 1765000000 + i);
    }
}

TEST_F(PeerTest, LoginExchangeResults)
{
    struct Case {
        alarmpeer::LoginMode mode;
        PCCFixlink::ResultCode expected;
        const char* what;
    };
    const Case cases[] = {
        { alarmpeer::LoginMode::Refuse, PCCFixlink::LoginRefused, "reply kind -100" },
        { alarmpeer::LoginMode::Deny1018, PCCFixlink::LoginDenied, "not granted, reason 1018" },
        { alarmpeer::LoginMode::DenyOther, PCCFixlink::LoginFailed, "not granted, other reason" },
        { alarmpeer::LoginMode::BadKind, PCCFixlink::BadLoginReply, "unknown reply kind" },
        { alarmpeer::LoginMode::ShortReply, PCCFixlink::LoginFailed, "reply cut short" },
        { alarmpeer::LoginMode::Close, PCCFixlink::LoginFailed, "closed without reply" },
        { alarmpeer::LoginMode::SplitReply, PCCFixlink::Ok, "reply in two pieces" },
    };
    for (const Case& c : cases) {
        peer->setLoginMode(c.mode);
        EXPECT_EQ(connect(), c.expected) << c.what;
        EXPECT_EQ(client->Disconnect(), PCCFixlink::Ok);
    }

    peer->setLoginMode(alarmpeer::LoginMode::Normal);
    peer->setGrantDecider([](const alarmpeer::LoginRequest& r) {
        return r.requestValueB == 99 ? alarmpeer::LoginDecision::granted() : alarmpeer::LoginDecision::denied(1018);
    });
    EXPECT_EQ(connect(), PCCFixlink::LoginDenied) << "owner refuses the login value";
    PCCFixlink::ReqInfo info = request();
    info.requestValueB = 99;
    EXPECT_EQ(client->Connect(info, patient(5000) / 1000), PCCFixlink::Ok) << "owner grants the login value";
    client->Disconnect();

    info.port = closedPort();
    EXPECT_EQ(client->Connect(info, 5), PCCFixlink::LoginFailed) << "nothing listening";
    std::strcpy(info.ip, "300.1.2.3");
    EXPECT_EQ(client->Connect(info, 5), PCCFixlink::LoginFailed) << "not an address";
    std::memset(info.ip, '7', sizeof info.ip);
    EXPECT_EQ(client->Connect(info, 5), PCCFixlink::LoginFailed) << "address without its NUL";
}

TEST_F(PeerTest, LoginWithoutReplyFailsAfterItsWait)
{
    peer->setLoginMode(alarmpeer::LoginMode::NoReply);
    const auto start = Clock::now();
    EXPECT_EQ(connect(), PCCFixlink::LoginFailed);
    EXPECT_GT(secondsSince(start), 4.5);
    EXPECT_LT(secondsSince(start), patientSeconds(8.0));
}

TEST_F(PeerTest, AuthRefusedReportsDisconnectedOnce)
{
    peer->setAuthMode(alarmpeer::AuthMode::Reject);
    const auto start = Clock::now();
    EXPECT_EQ(connect(), PCCFixlink::SessionFailed) << "refused while Connect waited";
    EXPECT_LT(secondsSince(start), patientSeconds(1.5)) << "the refusal ends the wait";
    // Connect has closed the session: its receiver thread is gone, so no
    // report can follow.
    EXPECT_EQ(recorder.snapshot().statuses, std::vector<PCCFixlink::ConnectStatus> { PCCFixlink::Disconnected });
    EXPECT_EQ(client->GetAlarmParams(), PCCFixlink::NotConnected);
    EXPECT_EQ(connect(), PCCFixlink::SessionFailed) << "nothing left attached";
    EXPECT_EQ(client->Disconnect(), PCCFixlink::Ok);
}

TEST_F(PeerTest, UnansweredAuthIsNotConnected)
{
    peer->setAuthMode(alarmpeer::AuthMode::NoAnswer);
    auto start = Clock::now();
    EXPECT_EQ(connect(1), PCCFixlink::SessionFailed);
    EXPECT_GT(secondsSince(start), 0.9);
    EXPECT_LT(secondsSince(start), patientSeconds(3.0));
    EXPECT_EQ(client->GetAlarmParams(), PCCFixlink::NotConnected) << "no registration on a dead session";
    EXPECT_TRUE(recorder.snapshot().statuses.empty()) << "a session given up reports nothing";
    EXPECT_TRUE(peer->waitForSessionCount(0, patientMs(3s))) << "its connection is closed";

    // The service answers again: the next attempt connects and registers.
    peer->setAuthMode(alarmpeer::AuthMode::Accept);
    ASSERT_EQ(connect(), PCCFixlink::Ok);
    ASSERT_EQ(client->GetAlarmParams(), PCCFixlink::Ok);
    ASSERT_TRUE(recorder.waitFor([](const ClientRecord& r) { return !r.registerCodes.empty(); }, patientMs(5s)));
    client->Disconnect();

    start = Clock::now();
    EXPECT_EQ(connect(0), PCCFixlink::SessionFailed) << "wait time 0";
    EXPECT_LT(secondsSince(start), patientSeconds(1.0));
    EXPECT_TRUE(waitForFrameCount(kAuth, 2)) << "Auth is still sent";
    EXPECT_EQ(recorder.snapshot().statuses, std::vector<PCCFixlink::ConnectStatus> { PCCFixlink::Connected });
}

TEST_F(PeerTest, KeyChangeAfterAuthentication)
{
    ASSERT_EQ(connect(), PCCFixlink::Ok);
    ASSERT_TRUE(peer->waitForAuthenticated(1, patientMs(5s)));
    const auto session = peer->sessions().at(0);
    alarmpeer::Key key;
    for (std::size_t i = 0; i < key.size(); ++i)
        key[i] = static_cast<std::uint8_t>(0xc0 | i);
    ASSERT_EQ(peer->sendKeyChange(key, session), 1);
    ASSERT_TRUE(waitForFrameCount(kKeyChange, 1));
    const auto echo = framesWithCommand(kKeyChange).at(0);
    EXPECT_TRUE(echo.digestOk);
    EXPECT_TRUE(echo.encrypted);
    EXPECT_EQ(echo.keyGeneration, 1) << "the echo travels under the new key";
    EXPECT_EQ(echo.data, std::vector<std::uint8_t>(key.begin(), key.end()));

    // Both sides now use the new key.
    ASSERT_EQ(client->GetAlarmParams(), PCCFixlink::Ok);
    ASSERT_TRUE(recorder.waitFor([](const ClientRecord& r) { return !r.registerCodes.empty(); }, patientMs(5s)));
    EXPECT_EQ(framesWithCommand(kRequest).at(0).keyGeneration, 1);

    // And again, several times in a row.
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(peer->sendKeyChange(session), 1);
    ASSERT_TRUE(waitForFrameCount(kKeyChange, 6));
    EXPECT_EQ(framesWithCommand(kKeyChange).back().keyGeneration, 6);
    ASSERT_EQ(peer->sendTempAlarm(1, 390, 5), 1);
    EXPECT_TRUE(recorder.waitFor([](const ClientRecord& r) { return !r.alarms.empty(); }, patientMs(5s)));
}

TEST_F(PeerTest, KeyChangeBeforeAuthentication)
{
    alarmpeer::AlarmPeer::Options options;
    options.keyChangeBeforeAuth = true;
    restartPeer(options);
    ASSERT_EQ(connect(), PCCFixlink::Ok);
    ASSERT_TRUE(waitForStatusCount(1));
    ASSERT_TRUE(waitForFrameCount(kKeyChange, 1));
    const auto echo = framesWithCommand(kKeyChange).at(0);
    EXPECT_FALSE(echo.encrypted) << "encryption is not on yet";
    const auto key = peer->currentKey(peer->sessions().at(0));
    EXPECT_EQ(echo.data, std::vector<std::uint8_t>(key.begin(), key.end()));

    ASSERT_EQ(client->GetAlarmParams(), PCCFixlink::Ok);
    ASSERT_TRUE(recorder.waitFor([](const ClientRecord& r) { return !r.registerCodes.empty(); }, patientMs(5s)));
    EXPECT_EQ(framesWithCommand(kRequest).at(0).keyGeneration, 1);
}

TEST_F(PeerTest, HeartbeatsEverySixToEightSeconds)
{
    ASSERT_EQ(connect(), PCCFixlink::Ok);
    ASSERT_TRUE(waitForFrameCount(kHeartbeat, 2, patientMs(12s)));
    const auto beats = framesWithCommand(kHeartbeat);
    const double gap = std::chrono::duration<double>(beats[1].at - beats[0].at).count();
    EXPECT_GT(gap, 5.0);
    EXPECT_LT(gap, patientSeconds(9.0));
    EXPECT_TRUE(beats[1].encrypted);
    EXPECT_EQ(beats[1].totalLength, 52);
    EXPECT_EQ(beats[1].plainLength, 21);
    EXPECT_TRUE(beats[1].digestOk);
}

TEST_F(PeerTest, ServerClosingEndsTheSessionOnce)
{
    ASSERT_EQ(connect(), PCCFixlink::Ok);
    ASSERT_TRUE(waitForStatusCount(1));
    peer->closeSessions();
    ASSERT_TRUE(waitForStatusCount(2));

    EXPECT_EQ(connect(), PCCFixlink::AlreadyConnected) << "a lost session stays attached";
    EXPECT_EQ(client->GetAlarmParams(), PCCFixlink::SendFailed) << "nothing is sent on a lost session";
    const auto start = Clock::now();
    EXPECT_EQ(client->Disconnect(), PCCFixlink::Ok);
    EXPECT_LT(secondsSince(start), patientSeconds(1.2));
    EXPECT_EQ(client->GetAlarmParams(), PCCFixlink::NotConnected);
    // Disconnect joined the receiver thread: these are all the reports.
    EXPECT_EQ(recorder.snapshot().statuses,
        (std::vector<PCCFixlink::ConnectStatus> { PCCFixlink::Connected, PCCFixlink::Disconnected }));
    EXPECT_EQ(framesWithCommand(kRequest).size(), 0u);

    EXPECT_EQ(connect(), PCCFixlink::Ok) << "a new session after Disconnect";
}

TEST_F(PeerTest, DisconnectDuringSessionIsPromptAndSilent)
{
    ASSERT_EQ(connect(), PCCFixlink::Ok);
    ASSERT_TRUE(waitForStatusCount(1));
    const auto start = Clock::now();
    EXPECT_EQ(client->Disconnect(), PCCFixlink::Ok);
    EXPECT_LT(secondsSince(start), patientSeconds(2.5));
    EXPECT_TRUE(peer->waitForSessionCount(0, patientMs(3s))) << "the connection is closed";
    EXPECT_EQ(recorder.snapshot().statuses.size(), 1u) << "Disconnect reports no status";
}

TEST_F(PeerTest, SplitFramesAreAccepted)
{
    peer->setSplitFrames(true);
    peer->setLoginMode(alarmpeer::LoginMode::SplitReply);
    ASSERT_EQ(connect(), PCCFixlink::Ok);
    ASSERT_TRUE(waitForStatusCount(1));
    EXPECT_EQ(recorder.snapshot().statuses.at(0), PCCFixlink::Connected);
    ASSERT_EQ(client->GetAlarmParams(), PCCFixlink::Ok);
    ASSERT_EQ(peer->sendTempAlarm(0, 366, 77), 1);
    ASSERT_TRUE(recorder.waitFor(
        [](const ClientRecord& r) { return !r.alarms.empty() && !r.registerCodes.empty(); }, patientMs(5s)));
    const auto record = recorder.snapshot();
    EXPECT_EQ(record.registerCodes, std::vector<std::int32_t> { 1 });
    EXPECT_EQ(record.alarms.at(0).temp.value, 366);
    EXPECT_EQ(record.statuses.size(), 1u);
}

TEST_F(PeerTest, CorruptFramesEndTheSession)
{
    const alarmpeer::Corruption kinds[] = {
        alarmpeer::Corruption::WrongDigest,
        alarmpeer::Corruption::OversizedLength,
        alarmpeer::Corruption::UndersizedLength,
        alarmpeer::Corruption::InfoPastBody,
        alarmpeer::Corruption::Truncated,
    };
    int kind = 0;
    for (const auto corruption : kinds) {
        SCOPED_TRACE(kind++);
        ASSERT_EQ(connect(), PCCFixlink::Ok);
        ASSERT_TRUE(peer->waitForAuthenticated(static_cast<std::size_t>(kind), patientMs(5s)));
        const std::size_t before = recorder.snapshot().statuses.size();
        ASSERT_EQ(peer->sendCorruptFrame(corruption, peer->sessions().back()), 1);
        ASSERT_TRUE(waitForStatusCount(before + 1, patientMs(5s)));
        const auto record = recorder.snapshot();
        EXPECT_EQ(record.statuses.back(), PCCFixlink::Disconnected);
        EXPECT_TRUE(record.registerCodes.empty()) << "nothing of a corrupt frame is delivered";
        client->Disconnect();
    }
}

TEST_F(PeerTest, LongestBlocksTravelPlain)
{
    ASSERT_EQ(connect(), PCCFixlink::Ok);
    ASSERT_TRUE(peer->waitForAuthenticated(1, patientMs(5s)));
    std::string answer = R"({"result":"ok","param":["not support"]})";
    answer.resize(983, ' '); // plain body 1004: too long to pad, so sent plain
    ASSERT_EQ(peer->sendJson(answer), 1);
    answer.resize(984, ' ');
    EXPECT_EQ(peer->sendJson(answer), 0) << "no longer fits a frame";
    ASSERT_TRUE(recorder.waitFor([](const ClientRecord& r) { return !r.registerCodes.empty(); }, patientMs(5s)));
    EXPECT_EQ(recorder.snapshot().registerCodes, std::vector<std::int32_t> { 0 });
    EXPECT_EQ(recorder.snapshot().statuses.size(), 1u);
}

TEST_F(PeerTest, OperationsWithoutSession)
{
    EXPECT_EQ(client->GetAlarmParams(), PCCFixlink::NotConnected);
    EXPECT_EQ(client->Disconnect(), PCCFixlink::Ok);
    const auto logs = recorder.snapshot().logs;
    ASSERT_EQ(logs.size(), 2u) << "Disconnect without a session only marks its steps";
    EXPECT_EQ(logs[0].rfind("line:", 0), 0u);
}

TEST_F(PeerTest, LogSwitchOffDoesNotSilenceTheLog)
{
    EXPECT_EQ(client->WriteLogFile(false), 0);
    ASSERT_EQ(connect(), PCCFixlink::Ok);
    ASSERT_EQ(client->GetAlarmParams(), PCCFixlink::Ok);
    ASSERT_TRUE(recorder.waitFor([](const ClientRecord& r) { return !r.registerCodes.empty(); }, patientMs(5s)));
    const auto logs = recorder.snapshot().logs;
    bool exchange = false;
    bool request = false;
    for (const auto& line : logs) {
        exchange |= line.find("###### iRet 0") != std::string::npos;
        request |= line == kRegistrationText;
    }
    EXPECT_TRUE(exchange);
    EXPECT_TRUE(request);
}

TEST_F(PeerTest, NullLogCallbackChangesNothingElse)
{
    client = std::make_unique<PCCFixlink>(&recorder, nullptr, nullptr, nullptr);
    ASSERT_EQ(connect(), PCCFixlink::Ok);
    EXPECT_EQ(client->GetAlarmParams(), PCCFixlink::Ok);
    ASSERT_TRUE(peer->waitForAuthenticated(1, patientMs(5s)));
    EXPECT_EQ(peer->sendTempAlarm(0, 360, 1), 1);
    EXPECT_EQ(client->Disconnect(), PCCFixlink::Ok);
}

TEST_F(PeerTest, AdoptedConnectionsServeTheLogin)
{
    // As behind a camera: the owner accepts, reads the first four bytes to
    // route the connection, and hands it over.
    alarmpeer::AlarmPeer::Options options;
    options.listenForLogins = false;
    restartPeer(options);
    EXPECT_EQ(peer->loginPort(), 0);

    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in sa {};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof sa;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&sa), &size), 0);

    std::thread router([&] {
        timeval wait { 5, 0 };
        ::setsockopt(listener, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        const int fd = ::accept(listener, nullptr, nullptr);
        if (fd < 0)
            return;
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        std::uint8_t first[4] = {};
        if (::recv(fd, first, sizeof first, MSG_WAITALL) != 4) {
            ::close(fd);
            return;
        }
        peer->adopt(fd, first, sizeof first);
    });

    PCCFixlink::ReqInfo info = request();
    info.port = ntohs(sa.sin_port);
    EXPECT_EQ(client->Connect(info, patient(5000) / 1000), PCCFixlink::Ok);
    router.join();
    ::close(listener);
    ASSERT_TRUE(waitForStatusCount(1));
    EXPECT_EQ(recorder.snapshot().statuses.at(0), PCCFixlink::Connected);
    ASSERT_EQ(peer->logins().size(), 1u);
    EXPECT_EQ(peer->logins()[0].requestValueB, -7);
}

namespace {

struct SelfDisconnect {
    PCCFixlink* client = nullptr;
    std::atomic<int> result { 1 };
};

void disconnectFromCallback(const void* user, PCCFixlink::ConnectStatus status)
{
    auto* self = static_cast<SelfDisconnect*>(const_cast<void*>(user));
    if (status == PCCFixlink::Connected)
        self->result = self->client->Disconnect();
}

} // namespace

TEST_F(PeerTest, DisconnectFromInsideACallbackDoesNotHang)
{
    SelfDisconnect self;
    client = std::make_unique<PCCFixlink>(&self, nullptr, disconnectFromCallback, nullptr);
    self.client = client.get();
    ASSERT_EQ(connect(), PCCFixlink::Ok);
    for (int i = 0; i < patient(5000) / 20 && self.result != PCCFixlink::Ok; ++i)
        std::this_thread::sleep_for(20ms);
    EXPECT_EQ(self.result, PCCFixlink::Ok);
    EXPECT_EQ(connect(), PCCFixlink::AlreadyConnected) << "freed only by a Disconnect from outside";
    EXPECT_EQ(client->GetAlarmParams(), PCCFixlink::SendFailed) << "the session is closing";
    const auto start = Clock::now();
    EXPECT_EQ(client->Disconnect(), PCCFixlink::Ok);
    EXPECT_LT(secondsSince(start), patientSeconds(1.0));
    EXPECT_EQ(connect(), PCCFixlink::Ok);
}
