#include <alarmpeer/AlarmPeer.h>

#include "PeerCodec.h"

#include <openssl/rand.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <future>
#include <map>
#include <mutex>
#include <thread>

namespace alarmpeer {

namespace {

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;
using Bytes = std::vector<std::uint8_t>;

constexpr Millis kIdlePoll { 200 };
constexpr Millis kCallWait { 3000 };
constexpr std::size_t kReadChunk = 4096;
constexpr std::size_t kInputLimit = std::size_t { 64 } * 1024;
constexpr std::size_t kFrameHistory = 4096;

bool setNonBlocking(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL, 0);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

bool isLoopback(const std::string& address, in_addr& out)
{
    return inet_pton(AF_INET, address.c_str(), &out) == 1 && (ntohl(out.s_addr) >> 24) == 127;
}

int listenOn(const in_addr& address, std::uint16_t port, std::uint16_t& bound)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in sa {};
    sa.sin_family = AF_INET;
    sa.sin_addr = address;
    sa.sin_port = htons(port);
    socklen_t size = sizeof sa;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd, 16) != 0 || !setNonBlocking(fd)
        || ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &size) != 0) {
        ::close(fd);
        return -1;
    }
    bound = ntohs(sa.sin_port);
    return fd;
}

Key randomKey()
{
    Key key {};
    if (RAND_bytes(key.data(), static_cast<int>(key.size())) != 1) {
        for (std::size_t i = 0; i < key.size(); ++i)
            key[i] = static_cast<std::uint8_t>(std::rand());
    }
    return key;
}

std::uint32_t stampNow()
{
    return static_cast<std::uint32_t>(std::time(nullptr));
}

struct Chunk {
    Bytes bytes;
    Clock::time_point notBefore;
};

struct Ticket {
    std::uint8_t password[16] = {};
    Key key {};
};

struct Connection {
    enum Kind { Undecided, Login, Session };

    int fd = -1;
    Kind kind = Undecided;
    SessionId id = 0;
    Bytes in;
    std::deque<Chunk> out;
    bool closeWhenFlushed = false;
    bool ignoreInput = false; // a stalled exchange: keep the connection, drop what comes
    bool closed = false;

    // Session connections only.
    bool authenticated = false;
    bool registered = false; // a registration was answered "ok"
    bool authStalled = false;
    bool encrypt = false;
    std::vector<Key> keys; // keys[0] from the ticket, then one per key change
    std::uint32_t sequence = 0;
    Clock::time_point nextKeyChange {};
};

} // namespace

struct AlarmPeer::Impl {
    explicit Impl(Options o)
        : options(std::move(o))
    {
    }

    Options options;

    // Settings and observations, shared with the owner's threads.
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    GrantDecider decider;
    EventHook hook;
    LoginMode loginMode = LoginMode::Normal;
    AuthMode authMode = AuthMode::Accept;
    bool splitFrames = false;
    int stallAuthLeft = 0;
    int failRegistrationsLeft = 0;
    std::vector<LoginRequest> logins;
    std::vector<ReceivedFrame> frames;
    std::map<SessionId, Key> currentKeys;
    std::map<SessionId, bool> openSessions; // id -> authenticated
    std::size_t authenticatedTotal = 0;
    int protocolErrors = 0;
    std::deque<std::function<void()>> tasks;

    // Loop thread only (or before start / after stop).
    int loginListener = -1;
    int sessionListener = -1;
    std::uint16_t loginPort = 0;
    std::uint16_t sessionPort = 0;
    int wakeRead = -1;
    int wakeWrite = -1;
    std::vector<std::unique_ptr<Connection>> connections;
    std::map<std::int32_t, Ticket> tickets;
    std::int32_t nextUserId = 0;
    SessionId nextSessionId = 1;

    std::thread thread;
    std::thread::id loopThread; // under mutex
    bool running = false;
    bool stopping = false; // under mutex

    // --- plumbing ---------------------------------------------------------

    // Called with the mutex held: stop() closes the pipe under it, so the
    // byte never goes to a descriptor that was closed (and maybe reused).
    void wake() const
    {
        const char b = 1;
        if (wakeWrite >= 0)
            (void)::write(wakeWrite, &b, 1);
    }

    // Runs f on the loop thread and returns its result; `fallback` when the
    // peer is not running or the loop does not answer in time.
    template <typename R> R call(const std::function<R()>& f, R fallback)
    {
        auto promise = std::make_shared<std::promise<R>>();
        std::future<R> result = promise->get_future();
        {
            std::unique_lock<std::mutex> lock(mutex);
            if (std::this_thread::get_id() == loopThread) {
                lock.unlock();
                return f();
            }
            if (!running || stopping)
                return fallback;
            tasks.push_back([promise, f] { promise->set_value(f()); });
            wake();
        }
        if (result.wait_for(kCallWait) != std::future_status::ready)
            return fallback;
        return result.get();
    }

    void emit(PeerEvent::Kind kind, SessionId id, std::string detail = {})
    {
        EventHook h;
        {
            std::lock_guard<std::mutex> lock(mutex);
            h = hook;
        }
        if (h)
            h(PeerEvent { kind, id, std::move(detail) });
    }

    void countProtocolError(SessionId id, const char* what)
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            ++protocolErrors;
        }
        changed.notify_all();
        emit(PeerEvent::ProtocolError, id, what);
    }

    void queue(Connection& c, Bytes bytes, Millis delay = Millis(0))
    {
        Clock::time_point at = Clock::now() + delay;
        if (!c.out.empty())
            at = std::max(at, c.out.back().notBefore + delay);
        c.out.push_back(Chunk { std::move(bytes), at });
    }

    // --- loop -------------------------------------------------------------

    void run()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            loopThread = std::this_thread::get_id();
        }
        for (;;) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (stopping)
                    break;
            }
            pollOnce();
        }
        for (auto& c : connections)
            closeConnection(*c);
        connections.clear();
    }

    void pollOnce()
    {
        std::vector<pollfd> fds;
        fds.push_back({ wakeRead, POLLIN, 0 });
        if (loginListener >= 0)
            fds.push_back({ loginListener, POLLIN, 0 });
        if (sessionListener >= 0)
            fds.push_back({ sessionListener, POLLIN, 0 });
        const std::size_t firstConnection = fds.size();
        // Tasks may add connections or mark them closed, never remove them
        // (only reap() does), so these pointers stay valid for this pass.
        std::vector<Connection*> polled;
        const bool keyChanges = keyInterval().count() > 0;
        const Clock::time_point now = Clock::now();
        Clock::time_point until = now + kIdlePoll;
        for (auto& c : connections) {
            short events = POLLIN;
            if (!c->out.empty()) {
                if (c->out.front().notBefore <= now)
                    events |= POLLOUT;
                else
                    until = std::min(until, c->out.front().notBefore);
            }
            if (c->authenticated && keyChanges)
                until = std::min(until, c->nextKeyChange);
            fds.push_back({ c->fd, events, 0 });
            polled.push_back(c.get());
        }
        const auto wait = std::chrono::duration_cast<Millis>(until - now).count();
        const int n = ::poll(fds.data(), fds.size(), static_cast<int>(std::max<long long>(0, wait)) + 1);
        if (n < 0)
            return;

        if (fds[0].revents) {
            char drain[64];
            while (::read(wakeRead, drain, sizeof drain) > 0) { }
        }
        runTasks();
        for (std::size_t i = 1; i < firstConnection; ++i) {
            if (fds[i].revents & POLLIN)
                acceptFrom(fds[i].fd);
        }
        for (std::size_t i = 0; i < polled.size(); ++i) {
            Connection& c = *polled[i];
            const short revents = fds[firstConnection + i].revents;
            if (!c.closed && (revents & (POLLIN | POLLHUP | POLLERR)))
                readFrom(c);
        }
        for (auto& c : connections) {
            if (!c->closed)
                flush(*c);
        }
        keyChangesDue();
        reap();
    }

    void runTasks()
    {
        std::deque<std::function<void()>> due;
        {
            std::lock_guard<std::mutex> lock(mutex);
            due.swap(tasks);
        }
        for (auto& t : due)
            t();
    }

    void acceptFrom(int listener)
    {
        for (int i = 0; i < 16; ++i) {
            const int fd = ::accept(listener, nullptr, nullptr);
            if (fd < 0)
                return;
            auto c = std::make_unique<Connection>();
            c->fd = fd;
            setNonBlocking(fd);
            connections.push_back(std::move(c));
            if (listener == sessionListener)
                becomeSession(*connections.back());
            else
                connections.back()->kind = Connection::Login;
        }
    }

    void adoptNow(int fd, Bytes first)
    {
        auto c = std::make_unique<Connection>();
        c->fd = fd;
        setNonBlocking(fd);
        c->in = std::move(first);
        connections.push_back(std::move(c));
        process(*connections.back());
    }

    void becomeSession(Connection& c)
    {
        c.kind = Connection::Session;
        c.id = nextSessionId++;
        {
            std::lock_guard<std::mutex> lock(mutex);
            openSessions[c.id] = false;
        }
        changed.notify_all();
        emit(PeerEvent::SessionOpened, c.id);
    }

    void readFrom(Connection& c)
    {
        std::uint8_t buffer[kReadChunk];
        for (;;) {
            const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, 0);
            if (n > 0) {
                if (!c.ignoreInput && c.in.size() < kInputLimit)
                    c.in.insert(c.in.end(), buffer, buffer + n);
                continue;
            }
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
                c.closed = true;
            if (n < 0 && errno == EINTR)
                continue;
            break;
        }
        if (!c.ignoreInput)
            process(c);
    }

    void flush(Connection& c)
    {
        const Clock::time_point now = Clock::now();
        while (!c.out.empty() && c.out.front().notBefore <= now) {
            Chunk& chunk = c.out.front();
            const ssize_t n = ::send(c.fd, chunk.bytes.data(), chunk.bytes.size(), MSG_NOSIGNAL);
            if (n < 0) {
                if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                    c.closed = true;
                return;
            }
            chunk.bytes.erase(chunk.bytes.begin(), chunk.bytes.begin() + n);
            if (!chunk.bytes.empty())
                return;
            c.out.pop_front();
        }
        if (c.out.empty() && c.closeWhenFlushed)
            c.closed = true;
    }

    void closeConnection(Connection& c)
    {
        if (c.fd >= 0) {
            ::shutdown(c.fd, SHUT_RDWR);
            ::close(c.fd);
            c.fd = -1;
        }
    }

    void reap()
    {
        for (auto it = connections.begin(); it != connections.end();) {
            Connection& c = **it;
            if (!c.closed) {
                ++it;
                continue;
            }
            closeConnection(c);
            const SessionId id = c.kind == Connection::Session ? c.id : 0;
            it = connections.erase(it);
            if (id) {
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    openSessions.erase(id);
                }
                changed.notify_all();
                emit(PeerEvent::SessionClosed, id);
            }
        }
    }

    void process(Connection& c)
    {
        if (c.kind == Connection::Undecided) {
            if (c.in.size() < 4)
                return;
            if (codec::le32(c.in.data()) == 378)
                c.kind = Connection::Login;
            else
                becomeSession(c);
        }
        if (c.kind == Connection::Login)
            processLogin(c);
        else
            processSession(c);
    }

    // --- login exchange ---------------------------------------------------

    void processLogin(Connection& c)
    {
        if (c.in.size() < codec::kRecordSize || c.closeWhenFlushed)
            return;
        const LoginRequest request = codec::parseLoginRequest(c.in.data());
        c.in.clear();
        LoginMode mode;
        GrantDecider decide;
        {
            std::lock_guard<std::mutex> lock(mutex);
            logins.push_back(request);
            mode = loginMode;
            decide = decider;
        }
        changed.notify_all();
        emit(PeerEvent::LoginServed, 0);

        codec::LoginReplyFields reply;
        switch (mode) {
        case LoginMode::Normal:
        case LoginMode::SplitReply: {
            const LoginDecision decision = decide ? decide(request) : LoginDecision::granted();
            if (decision.grant)
                grantTicket(reply);
            else {
                reply.result = decision.result == 1001 ? 1002 : decision.result;
                reply.userIdOrReason = decision.reason;
            }
            break;
        }
        case LoginMode::Refuse:
            reply.kind = -100;
            break;
        case LoginMode::Deny1018:
            reply.result = 1002;
            reply.userIdOrReason = 1018;
            break;
        case LoginMode::DenyOther:
            reply.result = 1002;
            reply.userIdOrReason = 1;
            break;
        case LoginMode::BadKind:
            reply.kind = 999;
            break;
        case LoginMode::ShortReply:
            queue(c, Bytes(100, 0));
            c.closeWhenFlushed = true;
            return;
        case LoginMode::NoReply:
            c.ignoreInput = true;
            return;
        case LoginMode::Close:
            c.closed = true;
            return;
        }
        Bytes bytes = codec::loginReply(reply);
        if (mode == LoginMode::SplitReply) {
            Bytes tail(bytes.begin() + 100, bytes.end());
            bytes.resize(100);
            queue(c, std::move(bytes));
            queue(c, std::move(tail), options.splitGap);
        } else {
            queue(c, std::move(bytes));
        }
        c.closeWhenFlushed = true;
    }

    void grantTicket(codec::LoginReplyFields& reply)
    {
        Ticket ticket;
        std::memcpy(ticket.password, options.password.data(), std::min<std::size_t>(16, options.password.size()));
        ticket.key = randomKey();
        const std::int32_t userId = options.firstUserId + nextUserId++;
        tickets[userId] = ticket;
        reply.userIdOrReason = userId;
        std::memcpy(reply.password, ticket.password, 16);
        reply.key = ticket.key;
        reply.sessionPort = options.advertisedSessionPort ? options.advertisedSessionPort : sessionPort;
    }

    // --- session ----------------------------------------------------------

    void processSession(Connection& c)
    {
        while (!c.closed && c.in.size() >= codec::kHeaderBytes) {
            const std::size_t total = codec::le16(&c.in[7]);
            if (total < codec::kHeaderBytes + codec::kInfoBytes || total > codec::kMaxFrame) {
                countProtocolError(c.id, "bad frame length");
                c.closed = true;
                return;
            }
            if (c.in.size() < total)
                return;
            const Bytes wire(c.in.begin(), c.in.begin() + static_cast<long>(total));
            c.in.erase(c.in.begin(), c.in.begin() + static_cast<long>(total));
            ReceivedFrame frame = codec::decode(wire, c.keys);
            frame.session = c.id;
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (frames.size() >= kFrameHistory)
                    frames.erase(frames.begin(), frames.begin() + kFrameHistory / 2);
                frames.push_back(frame);
            }
            changed.notify_all();
            emit(PeerEvent::FrameReceived, c.id);
            if (!frame.digestOk) {
                countProtocolError(c.id, "frame digest mismatch");
                continue;
            }
            answer(c, frame);
        }
    }

    void answer(Connection& c, const ReceivedFrame& frame)
    {
        switch (frame.command) {
        case 1:
            answerAuth(c, frame);
            break;
        case 3: {
            bool reply = false;
            {
                std::lock_guard<std::mutex> lock(mutex);
                reply = options.answerHeartbeats;
            }
            if (reply)
                sendFrame(c, 3, 0, {});
            break;
        }
        case 10: {
            const std::string text(frame.data.begin(), frame.data.end());
            if (text.find("\"mv.register\"") == std::string::npos)
                break;
            bool reply = false;
            bool fail = false;
            std::string replyText;
            {
                std::lock_guard<std::mutex> lock(mutex);
                reply = options.answerRegistration;
                replyText = options.registrationAnswer;
                fail = reply && failRegistrationsLeft > 0;
                if (fail) {
                    --failRegistrationsLeft;
                    replyText = R"({"result":"ok","param":["fail"]})";
                }
            }
            if (!reply)
                break;
            sendFrame(c, 20, 1, Bytes(replyText.begin(), replyText.end()));
            // The answer the client reads as "ok": a first parameter "ok".
            c.registered = !fail && replyText.find(R"(["ok")") != std::string::npos;
            emit(PeerEvent::RegistrationAnswered, c.id, c.registered ? "ok" : fail ? "fail" : "other");
            break;
        }
        default:
            break;
        }
    }

    void answerAuth(Connection& c, const ReceivedFrame& frame)
    {
        AuthMode mode;
        {
            std::lock_guard<std::mutex> lock(mutex);
            mode = authMode;
        }
        if (mode == AuthMode::NoAnswer || c.authenticated || c.authStalled)
            return;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (stallAuthLeft > 0) {
                --stallAuthLeft;
                c.authStalled = true;
            }
        }
        if (c.authStalled) {
            emit(PeerEvent::AuthStalled, c.id);
            return;
        }
        bool valid = false;
        if (frame.data.size() >= 20) {
            const auto userId = static_cast<std::int32_t>(codec::le32(frame.data.data()));
            auto it = tickets.find(userId);
            if (it != tickets.end()) {
                std::uint8_t block[16];
                std::memcpy(block, &frame.data[4], 16);
                valid
                    = codec::ecb(it->second.key, block, 16, false) && std::memcmp(block, it->second.password, 16) == 0;
                if (valid)
                    c.keys.assign(1, it->second.key);
                tickets.erase(it); // a ticket opens one session
            }
        }
        const bool accept = valid && mode == AuthMode::Accept;
        if (accept && options.keyChangeBeforeAuth)
            sendKey(c, randomKey());
        Bytes result(4, 0);
        codec::putLe32(result.data(), accept ? 0u : 1u);
        sendFrame(c, 1, 0, result);
        if (!accept) {
            emit(PeerEvent::AuthRejected, c.id, valid ? "rejected on demand" : "unknown user or wrong password");
            return;
        }
        c.authenticated = true;
        c.encrypt = options.encryptOutgoing;
        c.nextKeyChange = Clock::now() + keyInterval();
        {
            std::lock_guard<std::mutex> lock(mutex);
            openSessions[c.id] = true;
            ++authenticatedTotal;
            currentKeys[c.id] = c.keys.back();
        }
        changed.notify_all();
        emit(PeerEvent::Authenticated, c.id);
    }

    Millis keyInterval() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return options.keyChangeInterval;
    }

    codec::OutFrame outFrame(Connection& c, std::uint8_t command, std::uint8_t kind, Bytes data)
    {
        codec::OutFrame f;
        f.command = command;
        f.dataKind = kind;
        f.data = std::move(data);
        f.encrypt = c.encrypt && !c.keys.empty();
        if (!c.keys.empty())
            f.key = c.keys.back();
        f.sequence = ++c.sequence;
        f.stamp = stampNow();
        return f;
    }

    bool sendWire(Connection& c, Bytes wire)
    {
        if (wire.empty())
            return false;
        bool split = false;
        {
            std::lock_guard<std::mutex> lock(mutex);
            split = splitFrames;
        }
        if (!split || wire.size() < 8) {
            queue(c, std::move(wire));
            return true;
        }
        // Three pieces: inside the header, inside the body, the rest.
        const std::size_t a = 7;
        const std::size_t b = codec::kHeaderBytes + (wire.size() - codec::kHeaderBytes) / 2;
        queue(c, Bytes(wire.begin(), wire.begin() + a));
        queue(c, Bytes(wire.begin() + a, wire.begin() + static_cast<long>(b)), options.splitGap);
        queue(c, Bytes(wire.begin() + static_cast<long>(b), wire.end()), options.splitGap);
        return true;
    }

    bool sendFrame(Connection& c, std::uint8_t command, std::uint8_t kind, Bytes data)
    {
        return sendWire(c, codec::encode(outFrame(c, command, kind, std::move(data))));
    }

    bool sendKey(Connection& c, const Key& key)
    {
        // The key change itself travels under the old key.
        if (!sendFrame(c, 2, 0, Bytes(key.begin(), key.end())))
            return false;
        c.keys.push_back(key);
        {
            std::lock_guard<std::mutex> lock(mutex);
            currentKeys[c.id] = key;
        }
        return true;
    }

    bool sendCorrupt(Connection& c, Corruption kind)
    {
        const std::string text = R"({"result":"ok","param":["ok"]})";
        codec::OutFrame f = outFrame(c, 20, 1, Bytes(text.begin(), text.end()));
        f.spoilDigest = kind == Corruption::WrongDigest;
        if (kind == Corruption::InfoPastBody)
            f.encrypt = false;
        Bytes wire = codec::encode(f);
        switch (kind) {
        case Corruption::WrongDigest:
            break;
        case Corruption::OversizedLength:
            codec::putLe16(&wire[7], 1100);
            break;
        case Corruption::UndersizedLength:
            codec::putLe16(&wire[7], 30);
            break;
        case Corruption::InfoPastBody:
            codec::putLe16(&wire[9], 10);
            break;
        case Corruption::Truncated:
            wire.resize(codec::kHeaderBytes + (wire.size() - codec::kHeaderBytes) / 2);
            break;
        }
        queue(c, std::move(wire));
        return true;
    }

    void keyChangesDue()
    {
        const Millis interval = keyInterval();
        if (interval.count() <= 0)
            return;
        const Clock::time_point now = Clock::now();
        for (auto& c : connections) {
            if (c->closed || !c->authenticated || c->nextKeyChange > now)
                continue;
            sendKey(*c, randomKey());
            c->nextKeyChange = now + interval;
            flush(*c);
        }
    }

    // Applies f to the addressed authenticated sessions; returns how many.
    int forSessions(SessionId id, const std::function<bool(Connection&)>& f)
    {
        int count = 0;
        for (auto& c : connections) {
            if (c->closed || c->kind != Connection::Session)
                continue;
            if (id == AllSessions || id == RegisteredSessions) {
                if (!c->authenticated || (id == RegisteredSessions && !c->registered))
                    continue;
            } else if (c->id != id) {
                continue;
            }
            if (f(*c)) {
                ++count;
                flush(*c);
            }
        }
        return count;
    }
};

AlarmPeer::AlarmPeer()
    : AlarmPeer(Options())
{
}

AlarmPeer::AlarmPeer(Options options)
    : d(std::make_unique<Impl>(std::move(options)))
{
}

AlarmPeer::~AlarmPeer()
{
    stop();
}

bool AlarmPeer::start()
{
    if (d->running)
        return true;
    in_addr address {};
    if (!isLoopback(d->options.address, address))
        return false;
    if (d->options.listenForLogins) {
        d->loginListener = listenOn(address, d->options.loginPort, d->loginPort);
        if (d->loginListener < 0)
            return false;
    }
    d->sessionListener = listenOn(address, d->options.sessionPort, d->sessionPort);
    int pipeFds[2];
    if (d->sessionListener < 0 || ::pipe(pipeFds) != 0) {
        stop();
        return false;
    }
    d->wakeRead = pipeFds[0];
    d->wakeWrite = pipeFds[1];
    setNonBlocking(d->wakeRead);
    setNonBlocking(d->wakeWrite);
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->stopping = false;
        d->running = true;
    }
    try {
        d->thread = std::thread([this] { d->run(); });
    } catch (const std::system_error&) {
        stop();
        return false;
    }
    return true;
}

void AlarmPeer::stop()
{
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->stopping = true;
        d->wake();
    }
    if (d->thread.joinable())
        d->thread.join();
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->running = false;
        // Tasks that never ran: their callers have given up waiting.
        d->tasks.clear();
        for (int* fd : { &d->loginListener, &d->sessionListener, &d->wakeRead, &d->wakeWrite }) {
            if (*fd >= 0)
                ::close(*fd);
            *fd = -1;
        }
    }
}

std::uint16_t AlarmPeer::loginPort() const
{
    return d->loginPort;
}

std::uint16_t AlarmPeer::sessionPort() const
{
    return d->sessionPort;
}

const AlarmPeer::Options& AlarmPeer::options() const
{
    return d->options;
}

bool AlarmPeer::adopt(int fd, const std::uint8_t* alreadyRead, std::size_t length)
{
    Bytes first;
    if (alreadyRead && length)
        first.assign(alreadyRead, alreadyRead + length);
    // Whoever takes the descriptor out first owns it: the loop, or this
    // caller once it has stopped waiting for the loop.
    auto owned = std::make_shared<std::atomic<int>>(fd);
    d->call<bool>(
        [this, owned, first] {
            const int handed = owned->exchange(-1);
            if (handed < 0)
                return false;
            d->adoptNow(handed, first);
            return true;
        },
        false);
    const int left = owned->exchange(-1);
    if (left >= 0)
        ::close(left);
    return left < 0;
}

void AlarmPeer::setGrantDecider(GrantDecider decider)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->decider = std::move(decider);
}

void AlarmPeer::setEventHook(EventHook hook)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->hook = std::move(hook);
}

void AlarmPeer::setLoginMode(LoginMode mode)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->loginMode = mode;
}

void AlarmPeer::setAuthMode(AuthMode mode)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->authMode = mode;
}

void AlarmPeer::setSplitFrames(bool on)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->splitFrames = on;
}

void AlarmPeer::setRegistrationAnswer(bool answer, const std::string& text)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->options.answerRegistration = answer;
    d->options.registrationAnswer = text;
}

void AlarmPeer::setKeyChangeInterval(std::chrono::milliseconds interval)
{
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->options.keyChangeInterval = interval;
        d->wake();
    }
}

void AlarmPeer::setAnswerHeartbeats(bool on)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->options.answerHeartbeats = on;
}

void AlarmPeer::stallAuth(int sessions)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->stallAuthLeft = std::max(0, sessions);
}

void AlarmPeer::failRegistrations(int count)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->failRegistrationsLeft = std::max(0, count);
}

int AlarmPeer::sendTempAlarm(int alarmType, int temperatureTenths, std::int64_t utcSeconds, SessionId session)
{
    char text[256];
    std::snprintf(text, sizeof text,
        R"({"method":"event_occured","param":{"key":"e.temp_alarm","params":{"alarm_type":%d,"temp":%d,"ts":%lld}}})",
        alarmType, temperatureTenths, static_cast<long long>(utcSeconds));
    return sendJson(text, session);
}

int AlarmPeer::sendJson(const std::string& text, SessionId session)
{
    return sendData(20, 1, Bytes(text.begin(), text.end()), session);
}

int AlarmPeer::sendData(
    std::uint8_t command, std::uint8_t dataKind, const std::vector<std::uint8_t>& data, SessionId session)
{
    return d->call<int>(
        [this, command, dataKind, data, session] {
            return d->forSessions(session, [&](Connection& c) { return d->sendFrame(c, command, dataKind, data); });
        },
        0);
}

int AlarmPeer::sendKeyChange(SessionId session)
{
    return d->call<int>(
        [this, session] { return d->forSessions(session, [&](Connection& c) { return d->sendKey(c, randomKey()); }); },
        0);
}

int AlarmPeer::sendKeyChange(const Key& key, SessionId session)
{
    return d->call<int>(
        [this, key, session] { return d->forSessions(session, [&](Connection& c) { return d->sendKey(c, key); }); }, 0);
}

int AlarmPeer::sendCorruptFrame(Corruption kind, SessionId session)
{
    return d->call<int>(
        [this, kind, session] {
            return d->forSessions(session, [&](Connection& c) { return d->sendCorrupt(c, kind); });
        },
        0);
}

void AlarmPeer::closeSessions(SessionId session)
{
    d->call<int>(
        [this, session] {
            int n = 0;
            for (auto& c : d->connections) {
                if (c->kind == Connection::Session && (session == AllSessions || c->id == session)) {
                    c->closed = true;
                    ++n;
                }
            }
            return n;
        },
        0);
}

std::vector<LoginRequest> AlarmPeer::logins() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->logins;
}

std::vector<SessionId> AlarmPeer::sessions(bool authenticatedOnly) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    std::vector<SessionId> ids;
    for (const auto& [id, authenticated] : d->openSessions) {
        if (authenticated || !authenticatedOnly)
            ids.push_back(id);
    }
    return ids;
}

std::vector<ReceivedFrame> AlarmPeer::received(SessionId session) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    if (session == AllSessions)
        return d->frames;
    std::vector<ReceivedFrame> out;
    for (const auto& f : d->frames) {
        if (f.session == session)
            out.push_back(f);
    }
    return out;
}

Key AlarmPeer::currentKey(SessionId session) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    auto it = d->currentKeys.find(session);
    return it == d->currentKeys.end() ? Key {} : it->second;
}

int AlarmPeer::protocolErrors() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->protocolErrors;
}

bool AlarmPeer::waitForAuthenticated(std::size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(d->mutex);
    return d->changed.wait_for(lock, timeout, [&] { return d->authenticatedTotal >= count; });
}

bool AlarmPeer::waitForFrames(
    const std::function<bool(const std::vector<ReceivedFrame>&)>& done, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(d->mutex);
    return d->changed.wait_for(lock, timeout, [&] { return done(d->frames); });
}

bool AlarmPeer::waitForSessionCount(std::size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(d->mutex);
    return d->changed.wait_for(lock, timeout, [&] { return d->openSessions.size() == count; });
}

} // namespace alarmpeer
