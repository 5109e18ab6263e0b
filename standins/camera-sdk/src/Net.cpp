#include "Net.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kvnet {

int64_t monotonicMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

CancelPipe::CancelPipe()
{
    if (::pipe2(m_fds, O_CLOEXEC | O_NONBLOCK) != 0)
        m_fds[0] = m_fds[1] = -1;
}

CancelPipe::~CancelPipe()
{
    for (int fd : m_fds)
        if (fd >= 0)
            ::close(fd);
}

void CancelPipe::cancel()
{
    if (m_fds[1] >= 0) {
        const char c = 'x';
        // A full pipe is already cancelled; nothing to do on failure.
        [[maybe_unused]] const ssize_t n = ::write(m_fds[1], &c, 1);
    }
}

bool CancelPipe::cancelled() const
{
    if (m_fds[0] < 0)
        return false;
    pollfd p { m_fds[0], POLLIN, 0 };
    return ::poll(&p, 1, 0) > 0;
}

Socket::~Socket()
{
    close();
}

Socket::Socket(Socket&& other) noexcept
    : m_fd(other.release())
{
}

Socket& Socket::operator=(Socket&& other) noexcept
{
    if (this != &other) {
        close();
        m_fd = other.release();
    }
    return *this;
}

int Socket::release()
{
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

void Socket::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

namespace {

// Waits for `events` on fd until the deadline; Cancelled when the pipe fires.
IoResult waitFor(int fd, short events, int64_t deadline, const CancelPipe* cancel)
{
    for (;;) {
        // Polls once even when the time is up, so a zero wait still looks.
        const int64_t left = std::max<int64_t>(0, deadline - monotonicMs());
        pollfd p[2] = { { fd, events, 0 }, { cancel ? cancel->readFd() : -1, POLLIN, 0 } };
        const int n = ::poll(p, cancel ? 2 : 1, static_cast<int>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return IoResult::Error;
        }
        if (n == 0)
            return IoResult::Timeout;
        // A cancel pipe that hangs up or went away also ends the wait.
        if (cancel && p[1].revents != 0)
            return IoResult::Cancelled;
        if (p[0].revents & POLLNVAL)
            return IoResult::Error;
        if (p[0].revents & (events | POLLHUP | POLLERR))
            return IoResult::Ok;
        if (left == 0)
            return IoResult::Timeout;
    }
}

} // namespace

bool parseIpv4(const std::string& text, uint32_t& networkOrder)
{
    in_addr a {};
    if (::inet_pton(AF_INET, text.c_str(), &a) != 1)
        return false;
    networkOrder = a.s_addr;
    return true;
}

bool isLoopback(const std::string& address)
{
    uint32_t a = 0;
    return parseIpv4(address, a) && (ntohl(a) >> 24) == 127;
}

IoResult Socket::connectTo(const std::string& address, uint16_t port, int timeoutMs, const CancelPipe* cancel)
{
    close();
    sockaddr_in sa {};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    if (!parseIpv4(address, sa.sin_addr.s_addr))
        return IoResult::Error;
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_fd < 0)
        return IoResult::Error;
    const int one = 1;
    ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    const int64_t deadline = monotonicMs() + timeoutMs;
    if (::connect(m_fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0)
        return IoResult::Ok;
    if (errno != EINPROGRESS) {
        close();
        return IoResult::Error;
    }
    const IoResult r = waitFor(m_fd, POLLOUT, deadline, cancel);
    if (r != IoResult::Ok) {
        close();
        return r;
    }
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) {
        close();
        return IoResult::Error;
    }
    return IoResult::Ok;
}

IoResult Socket::sendAll(const void* data, size_t size, int timeoutMs, const CancelPipe* cancel)
{
    if (m_fd < 0)
        return IoResult::Error;
    const int64_t deadline = monotonicMs() + timeoutMs;
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::send(m_fd, p, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            p += n;
            size -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const IoResult r = waitFor(m_fd, POLLOUT, deadline, cancel);
            if (r != IoResult::Ok)
                return r;
            continue;
        }
        return (n < 0 && (errno == EPIPE || errno == ECONNRESET)) ? IoResult::Closed : IoResult::Error;
    }
    return IoResult::Ok;
}

IoResult Socket::recvAll(void* data, size_t size, int timeoutMs, const CancelPipe* cancel)
{
    if (m_fd < 0)
        return IoResult::Error;
    const int64_t deadline = monotonicMs() + timeoutMs;
    auto* p = static_cast<uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::recv(m_fd, p, size, MSG_DONTWAIT);
        if (n > 0) {
            p += n;
            size -= static_cast<size_t>(n);
            continue;
        }
        if (n == 0)
            return IoResult::Closed;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            const IoResult r = waitFor(m_fd, POLLIN, deadline, cancel);
            if (r != IoResult::Ok)
                return r;
            continue;
        }
        return errno == ECONNRESET ? IoResult::Closed : IoResult::Error;
    }
    return IoResult::Ok;
}

IoResult Socket::waitReadable(int timeoutMs, const CancelPipe* cancel)
{
    if (m_fd < 0)
        return IoResult::Error;
    return waitFor(m_fd, POLLIN, monotonicMs() + timeoutMs, cancel);
}

} // namespace kvnet
