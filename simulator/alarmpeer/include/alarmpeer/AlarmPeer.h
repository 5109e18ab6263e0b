#pragma once
// AlarmPeer: the server side of the camera's alarm service, for tests, for
// fixlink-cli checks and for the camera simulator.
//
// It serves the login exchange (a 256-byte request of kind 378 answered by a
// 256-byte reply of kind 478, or -100 when refusing) and then the encrypted
// framed session that the ticket points at: the Auth answer, key changes,
// heartbeat and registration answers, temperature-alarm events and arbitrary
// data blocks. It can misbehave on demand (see LoginMode, AuthMode and the
// one-shot send calls).
//
// Threads: one internal thread runs every socket (a poll loop); the public
// calls are thread-safe and may come from any thread. Callbacks (the grant
// decider, the event hook) run on that internal thread and must not call
// back into the peer's blocking calls (stop, the destructor). The destructor
// stops the thread and closes every connection; every internal wait is
// bounded.
//
// Usage, standalone:
//     alarmpeer::AlarmPeer peer;              // 127.0.0.1, OS-chosen ports
//     if (!peer.start()) { ... }
//     connect a client to 127.0.0.1:peer.loginPort();
//     peer.waitForAuthenticated(1, std::chrono::seconds(5));
//     peer.sendTempAlarm(0, 365, std::time(nullptr));
//
// Usage, behind a camera that already accepted the connection and read the
// first four bytes (378, little-endian) to route it:
//     AlarmPeer::Options o;
//     o.address = "127.0.0.2";               // the camera's own address
//     o.listenForLogins = false;             // logins come through adopt()
//     AlarmPeer peer(o);
//     peer.setGrantDecider([](const LoginRequest& r) { ... });
//     peer.start();
//     peer.adopt(fd, firstBytes, 4);         // the peer owns fd from now on
// The session connection of such a login goes to peer.sessionPort() on
// o.address, which the peer listens on itself (or, with
// Options::advertisedSessionPort, to a port the owner routes to adopt()).

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace alarmpeer {

using Key = std::array<std::uint8_t, 16>;
using SessionId = std::uint32_t;
constexpr SessionId AllSessions = 0;
// Every authenticated session whose registration was answered "ok".
constexpr SessionId RegisteredSessions = 0xffffffffu;

// The fields of a received login request; raw holds all 256 bytes.
struct LoginRequest {
    std::int32_t kind = 0;
    std::int32_t requestValueA = 0;
    std::uint8_t requestFlag = 0;
    std::int32_t requestValueB = 0;
    std::array<std::uint8_t, 256> raw {};
};

// What the owner decides about one login. A granted login is answered with
// result 1001 and a fresh ticket; a denied one with `result` and `reason`
// (reason 1018 is the one the client tells apart).
struct LoginDecision {
    bool grant = true;
    std::int32_t result = 1001;
    std::int32_t reason = 0;

    static LoginDecision granted() { return {}; }
    static LoginDecision denied(std::int32_t reason, std::int32_t result = 1002) { return { false, result, reason }; }
};

using GrantDecider = std::function<LoginDecision(const LoginRequest&)>;

// How the login service answers (applies to logins read after it is set).
enum class LoginMode {
    Normal, // ask the grant decider (grant all when none is set)
    Refuse, // reply kind -100
    Deny1018, // kind 478, result 1002, reason 1018
    DenyOther, // kind 478, result 1002, reason 1
    BadKind, // reply kind 999
    ShortReply, // send only 100 bytes of the reply, then close
    SplitReply, // send the reply in two pieces, splitGap apart
    NoReply, // read the request, never answer (closed when the client goes)
    Close, // close the connection without a reply
};

// How the session service answers the client's Auth frame.
enum class AuthMode {
    Accept, // result 0, encryption on
    Reject, // result 1
    NoAnswer, // never answer
};

// One frame the peer received on a session, as decoded by the peer.
struct ReceivedFrame {
    SessionId session = 0;
    std::uint8_t command = 0;
    std::uint8_t extraSections = 0;
    std::uint32_t sequence = 0;
    std::uint16_t totalLength = 0;
    std::uint16_t plainLength = 0;
    std::uint16_t infoLength = 0;
    bool encrypted = false;
    std::uint32_t stamp = 0;
    std::uint8_t dataKind = 0;
    std::uint32_t infoDataLength = 0; // the info section's own length field
    bool digestOk = false;
    // Which key decrypted the body: 0 = the ticket's key, n = the key of the
    // n-th key change; -1 when the body was plain.
    int keyGeneration = -1;
    std::vector<std::uint8_t> data; // plain data (after the info section)
    std::vector<std::uint8_t> wire; // the frame exactly as it arrived
    std::chrono::steady_clock::time_point at;
};

// Notifications for the owner, delivered on the peer's thread.
struct PeerEvent {
    enum Kind {
        LoginServed,
        SessionOpened,
        Authenticated,
        AuthRejected,
        FrameReceived,
        SessionClosed,
        ProtocolError,
        AuthStalled, // an Auth left unanswered by stallAuth()
        RegistrationAnswered, // detail: "ok", "fail" or "other"
    };
    Kind kind = LoginServed;
    SessionId session = 0;
    std::string detail;
};
using EventHook = std::function<void(const PeerEvent&)>;

// Ways to send one deliberately broken frame.
enum class Corruption {
    WrongDigest, // digest does not match the data
    OversizedLength, // header announces 1100 bytes (more than a frame may hold)
    UndersizedLength, // header announces 30 bytes (less than header + info)
    InfoPastBody, // plain body length below the info section's 21 bytes
    Truncated, // header and half the body, then silence
};

class AlarmPeer {
public:
    struct Options {
        std::string address = "127.0.0.1"; // loopback address to listen on (127.0.0.0/8 only)
        std::uint16_t loginPort = 0; // 0: chosen by the OS
        bool listenForLogins = true; // false: logins only through adopt()
        std::uint16_t sessionPort = 0; // 0: chosen by the OS
        std::uint16_t advertisedSessionPort = 0; // port put in tickets; 0: sessionPort()
        std::int32_t firstUserId = 100; // user id of the first ticket, then counted up
        std::string password = "pcc-alarm"; // password block text (at most 16 bytes)
        bool encryptOutgoing = true; // encrypt frames to authenticated sessions
        bool answerHeartbeats = false; // answer each heartbeat with an empty command 3 frame
        bool answerRegistration = true; // answer "mv.register" requests
        std::string registrationAnswer = R"({"result":"ok","param":["ok"]})";
        std::chrono::milliseconds keyChangeInterval { 0 }; // 0: only on demand
        bool keyChangeBeforeAuth = false; // send a key change just before accepting Auth
        std::chrono::milliseconds splitGap { 150 }; // pause between pieces of split frames
    };

    AlarmPeer();
    explicit AlarmPeer(Options options);
    ~AlarmPeer();
    AlarmPeer(const AlarmPeer&) = delete;
    AlarmPeer& operator=(const AlarmPeer&) = delete;

    // Binds the listeners and starts the thread. False when a listener could
    // not be bound (the peer then stays stopped).
    bool start();
    // Closes every connection and joins the thread; idempotent.
    void stop();

    std::uint16_t loginPort() const; // 0 when not listening for logins
    std::uint16_t sessionPort() const;
    const Options& options() const;

    // Hands over a connection accepted elsewhere, with the bytes already read
    // from it (the first bytes of the login request, or of a session frame).
    // The peer owns fd from then on, even when it returns false (stopped).
    bool adopt(int fd, const std::uint8_t* alreadyRead, std::size_t length);

    void setGrantDecider(GrantDecider decider);
    void setEventHook(EventHook hook);
    void setLoginMode(LoginMode mode);
    void setAuthMode(AuthMode mode);
    void setSplitFrames(bool on); // send every later frame in three pieces
    void setRegistrationAnswer(bool answer, const std::string& text);
    void setKeyChangeInterval(std::chrono::milliseconds interval);
    void setAnswerHeartbeats(bool on);
    // Faults counted down per session: the Auth of the next `sessions`
    // sessions is never answered (their login was granted as usual), and
    // the next `count` registrations are answered "fail".
    void stallAuth(int sessions);
    void failRegistrations(int count);

    // Session actions. `session` = AllSessions addresses every authenticated
    // session, RegisteredSessions those of them whose registration was
    // answered "ok", a given id addresses that session even before its Auth; the
    // result is the number of sessions the frame was queued on.
    int sendTempAlarm(int alarmType, int temperatureTenths, std::int64_t utcSeconds, SessionId session = AllSessions);
    int sendJson(const std::string& text, SessionId session = AllSessions);
    int sendData(std::uint8_t command, std::uint8_t dataKind, const std::vector<std::uint8_t>& data,
        SessionId session = AllSessions);
    // Sends a KeyChange with `key` (a random key when none is given) and
    // switches to it; frames that still arrive under the old key are accepted.
    int sendKeyChange(SessionId session = AllSessions);
    int sendKeyChange(const Key& key, SessionId session = AllSessions);
    int sendCorruptFrame(Corruption kind, SessionId session = AllSessions);
    // Closes the session connections (the login listener stays open).
    void closeSessions(SessionId session = AllSessions);

    // Observation.
    std::vector<LoginRequest> logins() const;
    std::vector<SessionId> sessions(bool authenticatedOnly = true) const;
    std::vector<ReceivedFrame> received(SessionId session = AllSessions) const;
    Key currentKey(SessionId session) const;
    int protocolErrors() const;
    // Wait until at least `count` sessions have been authenticated since
    // start (or, for the frame variant, until the predicate holds for the
    // frames received so far). False when the time ran out.
    bool waitForAuthenticated(std::size_t count, std::chrono::milliseconds timeout) const;
    bool waitForFrames(
        const std::function<bool(const std::vector<ReceivedFrame>&)>& done, std::chrono::milliseconds timeout) const;
    bool waitForSessionCount(std::size_t count, std::chrono::milliseconds timeout) const; // open connections

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace alarmpeer
