#include "Session.h"

#include "Cipher.h"
#include "Console.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <system_error>

namespace fixlink {

namespace {

using Clock = std::chrono::steady_clock;

// The session whose receiver thread this is, if any.
thread_local Session* t_current = nullptr;

constexpr Millis kConnectWait { 50 };
constexpr Millis kSendWait { 5000 };
constexpr Millis kReadWait { 2000 };
constexpr Millis kFrameWait { 2000 };
constexpr Millis kStatePoll { 20 };
constexpr std::int64_t kHeartbeatSeconds = 5;

std::uint32_t stampNow()
{
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(std::time(nullptr)));
}

std::int64_t steadySeconds()
{
    return std::chrono::duration_cast<std::chrono::seconds>(Clock::now().time_since_epoch()).count();
}

} // namespace

Session::Session(SessionOwner* owner)
    : m_owner(owner)
{
}

Session::~Session()
{
    close();
}

std::unique_ptr<Session> Session::open(
    const char* ip, const Ticket& ticket, std::int64_t waitSeconds, SessionOwner* owner)
{
    console("pcc_connect_to_serverss\n");
    std::unique_ptr<Session> session(new Session(owner));
    session->m_socket = connectTo(ip, ticket.sessionPort, kConnectWait);
    if (session->m_socket == kInvalidSocket) {
        console("socket create failed !\n");
        console("pcc_connect_to_server2\n");
        return nullptr;
    }
    {
        std::lock_guard<std::mutex> lock(session->m_sendLock);
        session->m_encryption = 0;
        session->m_key = ticket.key;
    }

    session->m_running = true;
    try {
        session->m_receiver = std::thread(&Session::receiverLoop, session.get());
    } catch (const std::system_error&) {
        session->m_running = false;
        std::fprintf(stderr, "sock receiver thread create failed\n");
        console("pcc_connect_to_server2\n");
        return nullptr;
    }

    // Without a wait the session is given up at once; closing it before
    // Auth leaves goes the same way every time, whenever the answer comes.
    if (waitSeconds <= 0)
        session->m_state = Closing;
    session->sendAuth(ticket);
    if (session->waitForAuthAnswer(waitSeconds))
        return session;
    console("pcc_connect_to_server1\n");
    return session;
}

void Session::sendAuth(const Ticket& ticket)
{
    std::uint8_t auth[20] = {}; // never stack leftovers, even if the cipher fails
    writeU32(auth, static_cast<std::uint32_t>(ticket.userId));
    std::lock_guard<std::mutex> lock(m_sendLock);
    aesBlock(m_key.data(), ticket.password.data(), auth + 4, true);
    // Sent while encryption is still off, so its body travels plain.
    sendLocked(CommandAuth, DataBinary, auth, sizeof auth);
}

bool Session::waitForAuthAnswer(std::int64_t waitSeconds)
{
    if (waitSeconds > 0) {
        const Clock::time_point deadline = Clock::now() + std::chrono::seconds(waitSeconds);
        while (Clock::now() < deadline) {
            const std::int8_t state = m_state.load();
            if (state == Authenticated) {
                console("pcc_connect_to_server status 1:%d\n", state);
                return true;
            }
            if (state < 0) {
                console("pcc_connect_to_server status 2:%d\n", state);
                break;
            }
            std::this_thread::sleep_for(kStatePoll);
        }
    }
    // Only a session still waiting is given up: an answer that arrived at
    // the last moment has already been reported as Connected and stands.
    std::int8_t expected = Opening;
    if (!m_state.compare_exchange_strong(expected, Closing) && expected == Authenticated)
        return true;
    return false;
}

int Session::send(std::uint8_t command, std::uint8_t dataKind, const std::uint8_t* data, std::size_t length)
{
    // The socket of a session given up or lost stays open until close(), and
    // a send on it may still "succeed": the frame would go nowhere.
    if (m_state.load() < 0 || m_lost.load())
        return -1;
    std::lock_guard<std::mutex> lock(m_sendLock);
    return sendLocked(command, dataKind, data, length);
}

int Session::sendLocked(std::uint8_t command, std::uint8_t dataKind, const std::uint8_t* data, std::size_t length)
{
    if (waitWritable(m_socket, kSendWait) != 1)
        return -1;
    const int total = buildFrame(
        m_sendBuffer, command, dataKind, data, length, m_encryption.load(), m_key, m_sendSequence + 1, stampNow());
    if (total < 0)
        return -1;
    ++m_sendSequence;
    const long sent = sendAll(m_socket, m_sendBuffer.data(), static_cast<std::size_t>(total), kSendWait);
    return sent < 0 ? -1 : static_cast<int>(sent);
}

Session* Session::current()
{
    return t_current;
}

void Session::receiverLoop()
{
    t_current = this;
    bool heartbeatSent = false;
    std::int64_t lastHeartbeat = 0;
    const ReadExact readExact
        = [this](std::uint8_t* p, std::size_t n) { return receiveExact(m_socket, p, n, kFrameWait); };

    for (;;) {
        const std::int8_t state = m_state.load();
        console("sock_handle -----%d\n", state);
        if (state < 0) {
            console("disconnect from server2 !\n");
            m_running = false;
            return;
        }

        const std::int64_t now = steadySeconds();
        if (!heartbeatSent || now - lastHeartbeat > kHeartbeatSeconds) {
            send(CommandHeartbeat, DataBinary, nullptr, 0);
            heartbeatSent = true;
            lastHeartbeat = now;
        }

        const int ready = waitReadable(m_socket, kReadWait, m_wake.waitHandle());
        if (ready == 0 || ready == 2)
            continue;
        if (ready < 0)
            break;

        Frame frame;
        if (readFrame(readExact, m_receiveBuffer, m_key, frame) < 0)
            break;
        m_peerSequence = frame.header.sequence;
        if (!dispatch(frame))
            break;
    }

    console("disconnect from server !\n");
    m_lost = true;
    m_owner->onSessionStatus(SessionLost);
    waitUntilClosing();
    console("disconnect from server2 !\n");
    m_running = false;
}

bool Session::dispatch(const Frame& frame)
{
    // frame.data points into the cleared 1024-byte receive buffer, so the
    // fixed-size fields below stay inside it even for short data.
    switch (frame.header.command) {
    case CommandAuth: {
        const auto result = static_cast<std::int32_t>(readU32(frame.data));
        console("pcc auth result: %d\n", result);
        if (result != 0) {
            m_state = Closing;
            return false;
        }
        bool accepted = false;
        {
            std::lock_guard<std::mutex> lock(m_sendLock);
            std::int8_t expected = Opening;
            accepted = m_state.compare_exchange_strong(expected, Authenticated) || expected == Authenticated;
            if (accepted) {
                m_encryption = 1;
                m_authenticated = true;
            }
        }
        if (accepted)
            m_owner->onSessionStatus(SessionAuthenticated);
        return true;
    }
    case CommandKeyChange: {
        std::lock_guard<std::mutex> lock(m_sendLock);
        std::copy(frame.data, frame.data + m_key.size(), m_key.begin());
        const SessionKey echo = m_key;
        sendLocked(CommandKeyChange, DataBinary, echo.data(), echo.size());
        return true;
    }
    default:
        console("RecvDataResolveCB-type:%d\n", frame.dataKind);
        m_owner->onSessionData(frame.data, static_cast<std::uint16_t>(frame.length), frame.dataKind);
        return true;
    }
}

void Session::waitUntilClosing()
{
    // The session stays open until Disconnect marks it closing.
    while (m_state.load() >= 0)
        std::this_thread::sleep_for(Millis(50));
}

void Session::markClosing()
{
    m_state = Closing;
    m_wake.raise();
}

void Session::close()
{
    console("delete-1\n");
    m_state = Closing;
    console("delete0\n");
    m_wake.raise();
    if (m_receiver.joinable())
        m_receiver.join();
    console("delete1\n");
    closeSocket(m_socket);
    console("delete2\n");
}

} // namespace fixlink
