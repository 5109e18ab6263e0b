#pragma once
// SocketIo: the few socket operations the alarm client needs, on
// non-blocking IPv4 stream sockets, each with a time limit. POSIX here;
// the Windows branch maps the same calls onto Winsock.

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace fixlink {

#if defined(_WIN32)
using SocketHandle = std::uintptr_t;
constexpr SocketHandle kInvalidSocket = ~static_cast<SocketHandle>(0);
#else
using SocketHandle = int;
constexpr SocketHandle kInvalidSocket = -1;
#endif

using Millis = std::chrono::milliseconds;

// Connects to a dotted IPv4 address; the socket stays non-blocking. Returns
// kInvalidSocket when the address is not valid or the connection is not
// made within `wait`.
SocketHandle connectTo(const char* ip, std::uint16_t port, Millis wait);

// Shuts the socket down both ways, closes it and marks it invalid.
void closeSocket(SocketHandle& socket);

// 1 when ready, 0 on time-out, -1 on error. `wake` (may be invalid) also
// ends the wait for readability when it becomes readable (result 2).
int waitReadable(SocketHandle socket, Millis wait, SocketHandle wake = kInvalidSocket);
int waitWritable(SocketHandle socket, Millis wait);

// Reads exactly `length` bytes, waiting for pieces up to `wait` in all.
// False on time-out, error or the peer closing.
bool receiveExact(SocketHandle socket, std::uint8_t* data, std::size_t length, Millis wait);

// Sends all bytes, waiting for room up to `wait` in all. Returns the count
// sent (length) or -1.
long sendAll(SocketHandle socket, const std::uint8_t* data, std::size_t length, Millis wait);

int lastSocketError();

// A pair of connected sockets that lets one thread cut short another
// thread's wait for readability.
class WakeSignal {
public:
    WakeSignal();
    ~WakeSignal();
    WakeSignal(const WakeSignal&) = delete;
    WakeSignal& operator=(const WakeSignal&) = delete;

    SocketHandle waitHandle() const { return m_read; }
    void raise();

private:
    SocketHandle m_read = kInvalidSocket;
    SocketHandle m_write = kInvalidSocket;
};

} // namespace fixlink
