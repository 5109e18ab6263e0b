// Blocking TCP and UDP helpers with time limits, for the SDK and the
// simulator. Every wait is bounded and can be cut short through a cancel
// pipe. A Socket belongs to one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kvnet {

// Wakes threads blocked in the calls below from another thread.
class CancelPipe {
public:
    CancelPipe();
    ~CancelPipe();
    CancelPipe(const CancelPipe&) = delete;
    CancelPipe& operator=(const CancelPipe&) = delete;

    void cancel();
    bool cancelled() const;
    int readFd() const { return m_fds[0]; }

private:
    int m_fds[2] = { -1, -1 };
};

enum class IoResult { Ok, Timeout, Closed, Error, Cancelled };

class Socket {
public:
    Socket() = default;
    explicit Socket(int fd)
        : m_fd(fd)
    {
    }
    ~Socket();
    Socket(Socket&& other) noexcept;
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    int fd() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release();
    void close();

    // Connects to address:port (dotted IPv4) within timeoutMs.
    IoResult connectTo(const std::string& address, uint16_t port, int timeoutMs, const CancelPipe* cancel = nullptr);
    // Sends everything within timeoutMs.
    IoResult sendAll(const void* data, size_t size, int timeoutMs, const CancelPipe* cancel = nullptr);
    // Reads exactly size bytes within timeoutMs.
    IoResult recvAll(void* data, size_t size, int timeoutMs, const CancelPipe* cancel = nullptr);
    // Waits until bytes can be read; Ok when they can.
    IoResult waitReadable(int timeoutMs, const CancelPipe* cancel = nullptr);

private:
    int m_fd = -1;
};

// Parses dotted IPv4 text; false when it is not one.
bool parseIpv4(const std::string& text, uint32_t& networkOrder);
bool isLoopback(const std::string& address);

int64_t monotonicMs();

} // namespace kvnet
