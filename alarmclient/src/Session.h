#pragma once
// Session: one authenticated, encrypted connection to the alarm service's
// session port. Opening it sends the Auth frame and waits a bounded time for
// the answer; from then on a receiver thread of its own reads frames, sends
// heartbeats, follows key changes and hands data to the owner. Frames are
// sent from any thread under the send lock. Destroying the session (or
// close()) stops and joins the receiver thread and closes the socket.

#include "LoginExchange.h"
#include "SocketIo.h"
#include "Wire.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

namespace fixlink {

// Raw status values the session reports.
enum SessionStatus {
    SessionAuthenticated = 1,
    SessionLost = 2,
};

// What the session calls, on its receiver thread.
class SessionOwner {
public:
    virtual void onSessionStatus(int rawStatus) = 0;
    virtual void onSessionData(const std::uint8_t* data, std::uint16_t length, std::uint8_t dataKind) = 0;

protected:
    ~SessionOwner() = default;
};

class Session {
public:
    enum State : std::int8_t {
        Closing = -1,
        Opening = 0,
        Authenticated = 1,
    };

    // Connects to ip:ticket.sessionPort, starts the receiver thread, sends
    // Auth and waits up to waitSeconds for its answer. Null when the
    // connection or the thread could not be made; otherwise the session,
    // marked closing when no answer came in time (authenticated() tells).
    static std::unique_ptr<Session> open(
        const char* ip, const Ticket& ticket, std::int64_t waitSeconds, SessionOwner* owner);

    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Builds and sends one frame; the bytes sent, or -1. A session that is
    // closing or whose connection was lost sends nothing (-1).
    int send(std::uint8_t command, std::uint8_t dataKind, const std::uint8_t* data, std::size_t length);
    void close();

    State state() const { return static_cast<State>(m_state.load()); }
    // Whether the server accepted the authentication (the owner was told
    // SessionAuthenticated), whatever happened to the session since.
    bool authenticated() const { return m_authenticated.load(); }
    // The session whose receiver thread calls this, or null on other threads.
    static Session* current();
    SessionOwner* owner() const { return m_owner; }
    // Lets the receiver thread end on its own; close() still has to follow.
    void markClosing();

private:
    explicit Session(SessionOwner* owner);

    int sendLocked(std::uint8_t command, std::uint8_t dataKind, const std::uint8_t* data, std::size_t length);
    void sendAuth(const Ticket& ticket);
    bool waitForAuthAnswer(std::int64_t waitSeconds);
    void receiverLoop();
    // False when the frame ends the session.
    bool dispatch(const Frame& frame);
    void waitUntilClosing();

    SessionOwner* m_owner;
    std::atomic<std::int8_t> m_state { Opening };
    std::atomic<std::uint8_t> m_encryption { 0 };
    SocketHandle m_socket = kInvalidSocket;
    WakeSignal m_wake;

    std::mutex m_sendLock; // guards the send buffer, the sequence and the key
    SessionKey m_key {};
    std::uint32_t m_sendSequence = 0;
    FrameBuffer m_sendBuffer {};

    std::uint32_t m_peerSequence = 0; // receiver thread only
    FrameBuffer m_receiveBuffer {}; // receiver thread only

    std::atomic<bool> m_authenticated { false };
    std::atomic<bool> m_lost { false }; // the receiver found the connection broken
    std::atomic<bool> m_running { false };
    std::thread m_receiver;
};

} // namespace fixlink
