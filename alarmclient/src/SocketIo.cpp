#include "SocketIo.h"

#include <cerrno>

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace fixlink {

namespace {

using Clock = std::chrono::steady_clock;

#if defined(_WIN32)
// Winsock wants one start-up per process before the first socket.
bool startSockets()
{
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}
using PollFd = WSAPOLLFD;
int pollSockets(PollFd* fds, unsigned long n, int ms)
{
    return WSAPoll(fds, n, ms);
}
bool wouldBlock()
{
    return WSAGetLastError() == WSAEWOULDBLOCK;
}
bool interrupted()
{
    return false;
}
void closeHandle(SocketHandle s)
{
    closesocket(s);
}
bool setNonBlocking(SocketHandle s)
{
    u_long on = 1;
    return ioctlsocket(s, FIONBIO, &on) == 0;
}
constexpr int kSendFlags = 0;
#else
bool startSockets()
{
    return true;
}
using PollFd = pollfd;
int pollSockets(PollFd* fds, nfds_t n, int ms)
{
    return ::poll(fds, n, ms);
}
bool wouldBlock()
{
    return errno == EAGAIN || errno == EWOULDBLOCK;
}
bool interrupted()
{
    return errno == EINTR;
}
void closeHandle(SocketHandle s)
{
    ::close(s);
}
bool setNonBlocking(SocketHandle s)
{
    const int flags = ::fcntl(s, F_GETFL, 0);
    return flags >= 0 && ::fcntl(s, F_SETFL, flags | O_NONBLOCK) == 0;
}
// A peer that has gone must give an error, not a SIGPIPE that ends the
// caller's process.
constexpr int kSendFlags = MSG_NOSIGNAL;
#endif

int remainingMs(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<Millis>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

int waitFor(SocketHandle socket, short events, Millis wait, SocketHandle wake)
{
    if (socket == kInvalidSocket)
        return -1;
    const Clock::time_point deadline = Clock::now() + wait;
    PollFd fds[2] = {};
    fds[0].fd = socket;
    fds[0].events = events;
    fds[1].fd = wake;
    fds[1].events = POLLIN;
    const int count = wake == kInvalidSocket ? 1 : 2;
    for (;;) {
        const int n = pollSockets(fds, count, remainingMs(deadline));
        if (n < 0 && interrupted())
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            return 0;
        if (count == 2 && fds[1].revents != 0)
            return 2;
        return 1;
    }
}

} // namespace

int lastSocketError()
{
#if defined(_WIN32)
    return WSAGetLastError();
#else
    return errno;
#endif
}

SocketHandle connectTo(const char* ip, std::uint16_t port, Millis wait)
{
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (!startSockets() || !ip || inet_pton(AF_INET, ip, &address.sin_addr) != 1)
        return kInvalidSocket;

    SocketHandle s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s == kInvalidSocket)
        return kInvalidSocket;
    if (!setNonBlocking(s)) {
        closeHandle(s);
        return kInvalidSocket;
    }
    // Non-blocking: the outcome is read back from SO_ERROR once writable.
    (void)::connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    int error = 0;
    socklen_t size = sizeof error;
    if (waitFor(s, POLLOUT, wait, kInvalidSocket) != 1
        || ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0 || error != 0) {
        closeHandle(s);
        return kInvalidSocket;
    }
    return s;
}

void closeSocket(SocketHandle& socket)
{
    if (socket == kInvalidSocket)
        return;
#if defined(_WIN32)
    ::shutdown(socket, SD_BOTH);
#else
    ::shutdown(socket, SHUT_RDWR);
#endif
    closeHandle(socket);
    socket = kInvalidSocket;
}

int waitReadable(SocketHandle socket, Millis wait, SocketHandle wake)
{
    return waitFor(socket, POLLIN, wait, wake);
}

int waitWritable(SocketHandle socket, Millis wait)
{
    return waitFor(socket, POLLOUT, wait, kInvalidSocket);
}

bool receiveExact(SocketHandle socket, std::uint8_t* data, std::size_t length, Millis wait)
{
    const Clock::time_point deadline = Clock::now() + wait;
    std::size_t done = 0;
    while (done < length) {
        const auto n = ::recv(socket, reinterpret_cast<char*>(data + done), static_cast<int>(length - done), 0);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n == 0 || (!wouldBlock() && !interrupted()))
            return false;
        if (Clock::now() >= deadline || waitFor(socket, POLLIN, Millis(remainingMs(deadline)), kInvalidSocket) != 1)
            return false;
    }
    return true;
}

long sendAll(SocketHandle socket, const std::uint8_t* data, std::size_t length, Millis wait)
{
    const Clock::time_point deadline = Clock::now() + wait;
    std::size_t done = 0;
    while (done < length) {
        const auto n
            = ::send(socket, reinterpret_cast<const char*>(data + done), static_cast<int>(length - done), kSendFlags);
        if (n >= 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (!wouldBlock() && !interrupted())
            return -1;
        if (Clock::now() >= deadline || waitFor(socket, POLLOUT, Millis(remainingMs(deadline)), kInvalidSocket) != 1)
            return -1;
    }
    return static_cast<long>(length);
}

#if defined(_WIN32)
// Winsock has no socket pairs: two ends of a loopback connection serve
// instead. Without them a wait simply runs to its time limit.
WakeSignal::WakeSignal()
{
    if (!startSockets())
        return;
    SocketHandle listener = ::socket(AF_INET, SOCK_STREAM, 0);
    if (listener == kInvalidSocket)
        return;
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof address;
    SocketHandle writer = kInvalidSocket;
    if (::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 && ::listen(listener, 1) == 0
        && ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
        writer = ::socket(AF_INET, SOCK_STREAM, 0);
        if (writer != kInvalidSocket
            && ::connect(writer, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
            m_read = ::accept(listener, nullptr, nullptr);
        }
        // Only our own writer may be the other end, not a stranger that
        // connected to the listener first.
        sockaddr_in mine {};
        sockaddr_in theirs {};
        int mineSize = sizeof mine;
        int theirsSize = sizeof theirs;
        if (m_read != kInvalidSocket
            && (::getsockname(writer, reinterpret_cast<sockaddr*>(&mine), &mineSize) != 0
                || ::getpeername(m_read, reinterpret_cast<sockaddr*>(&theirs), &theirsSize) != 0
                || mine.sin_port != theirs.sin_port || mine.sin_addr.s_addr != theirs.sin_addr.s_addr)) {
            closeHandle(m_read);
            m_read = kInvalidSocket;
        }
    }
    closeHandle(listener);
    if (m_read == kInvalidSocket) {
        if (writer != kInvalidSocket)
            closeHandle(writer);
        return;
    }
    m_write = writer;
    setNonBlocking(m_write);
}
#else
WakeSignal::WakeSignal()
{
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) == 0) {
        m_read = fds[0];
        m_write = fds[1];
        setNonBlocking(m_write);
    }
}
#endif

WakeSignal::~WakeSignal()
{
    if (m_read != kInvalidSocket)
        closeHandle(m_read);
    if (m_write != kInvalidSocket)
        closeHandle(m_write);
}

void WakeSignal::raise()
{
    if (m_write == kInvalidSocket)
        return;
    const char byte = 1;
    // One byte is enough to end every later wait; a full pipe means it is
    // already raised.
    (void)::send(m_write, &byte, 1, kSendFlags);
}

} // namespace fixlink
