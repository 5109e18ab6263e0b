#include "TsplPort.h"
#include "PortAddress.h"

// The Windows port is in TsplPortWin.cpp.
#if !defined(_WIN32)

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace printerstandin {

namespace {

constexpr int connectTimeoutMs = 3000;
constexpr int sendTimeoutMs = 3000;
constexpr int queueTimeoutMs = 10000;
constexpr std::size_t maxJobBytes = std::size_t { 16 } * 1024 * 1024;

bool plainQueueName(const std::string& name)
{
    if (name.empty() || name.size() > 127) {
        return false;
    }
    for (const char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'
            || c == '-' || c == '.';
        if (!ok) {
            return false;
        }
    }
    return true;
}

bool programOnPath(const char* program)
{
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/bin:/bin";
    std::size_t at = 0;
    while (at <= folders.size()) {
        const std::size_t end = folders.find(':', at);
        const std::string folder = folders.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (!folder.empty() && ::access((folder + "/" + program).c_str(), X_OK) == 0) {
            return true;
        }
        if (end == std::string::npos) {
            break;
        }
        at = end + 1;
    }
    return false;
}

// A write to a FIFO whose reader has gone fails with EPIPE rather than
// raising SIGPIPE in the printing program: the signal is held back on this
// thread while writing, and an instance the write raised is taken off again.
ssize_t writeWithoutSigpipe(int fd, const char* data, std::size_t size)
{
    sigset_t pipeOnly;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    sigset_t pending;
    sigemptyset(&pending);
    const bool alreadyPending = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous);
    const ssize_t n = ::write(fd, data, size);
    const int error = errno;
    if (n < 0 && error == EPIPE && !alreadyPending) {
        const timespec none { 0, 0 };
        sigtimedwait(&pipeOnly, nullptr, &none);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = error;
    return n;
}

} // namespace

TsplPort::~TsplPort()
{
    close();
}

bool TsplPort::open(const std::string& name)
{
    close();
    std::string host;
    std::string service;
    if (name.find('/') != std::string::npos) {
        // Opened without blocking: a FIFO that nobody reads fails at once
        // instead of holding openport forever. Writes block as usual.
        m_fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0644);
        if (m_fd < 0) {
            return false;
        }
        ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) & ~O_NONBLOCK);
        m_kind = Kind::File;
        return true;
    }
    if (splitHostPort(name, host, service)) {
        return openSocket(host, service);
    }
    if (plainQueueName(name) && programOnPath("lp")) {
        m_queue = name;
        m_job.clear();
        m_kind = Kind::Queue;
        return true;
    }
    return false;
}

bool TsplPort::openSocket(const std::string& host, const std::string& service)
{
    // Numeric addresses only: looking a name up could already ask a name
    // server off this machine.
    addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | AI_NUMERICHOST;
    const std::string address = host == "localhost" ? "127.0.0.1" : host;
    addrinfo* found = nullptr;
    if (getaddrinfo(address.c_str(), service.c_str(), &hints, &found) != 0) {
        return false;
    }
    for (const addrinfo* a = found; a && m_fd < 0; a = a->ai_next) {
        // Printers are reached on this machine only.
        if (!loopback(a->ai_addr)) {
            continue;
        }
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
        if (fd < 0) {
            continue;
        }
        int rc = ::connect(fd, a->ai_addr, a->ai_addrlen);
        if (rc != 0 && errno == EINPROGRESS) {
            pollfd p { fd, POLLOUT, 0 };
            int error = 0;
            socklen_t length = sizeof error;
            rc = (::poll(&p, 1, connectTimeoutMs) == 1 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0
                     && error == 0)
                ? 0
                : -1;
        }
        if (rc == 0) {
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            timeval limit { sendTimeoutMs / 1000, 0 };
            ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
            m_fd = fd;
        } else {
            ::close(fd);
        }
    }
    freeaddrinfo(found);
    if (m_fd < 0) {
        return false;
    }
    m_kind = Kind::Socket;
    return true;
}

bool TsplPort::send(const std::string& bytes)
{
    if (m_kind == Kind::Queue) {
        if (m_job.size() + bytes.size() > maxJobBytes) {
            return false;
        }
        m_job += bytes;
        return true;
    }
    if (m_fd < 0) {
        return false;
    }
    std::size_t done = 0;
    for (int attempts = 0; done < bytes.size() && attempts < 1000; ++attempts) {
        const ssize_t n = m_kind == Kind::Socket ? ::send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL)
                                                 : writeWithoutSigpipe(m_fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return done == bytes.size();
}

bool TsplPort::submitToQueue()
{
    // A socket pair rather than a pipe: the job is sent with MSG_NOSIGNAL,
    // so an lp that ends without reading it fails the job instead of
    // raising SIGPIPE in the printing program.
    int jobFds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, jobFds) != 0) {
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, jobFds[0], STDIN_FILENO);
    std::vector<char> queue(m_queue.begin(), m_queue.end());
    queue.push_back('\0');
    char lp[] = "lp";
    char destination[] = "-d";
    char option[] = "-o";
    char raw[] = "raw";
    char* argv[] = { lp, destination, queue.data(), option, raw, nullptr };
    pid_t child = -1;
    const int spawned = posix_spawnp(&child, "lp", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(jobFds[0]);
    if (spawned != 0) {
        ::close(jobFds[1]);
        return false;
    }
    std::size_t done = 0;
    while (done < m_job.size()) {
        const ssize_t n = ::send(jobFds[1], m_job.data() + done, m_job.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    ::close(jobFds[1]);
    int status = 0;
    for (int waited = 0; waited < queueTimeoutMs; waited += 50) {
        const pid_t ended = ::waitpid(child, &status, WNOHANG);
        if (ended == child) {
            return done == m_job.size() && WIFEXITED(status) && WEXITSTATUS(status) == 0;
        }
        ::usleep(50 * 1000);
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
    return false;
}

bool TsplPort::close()
{
    bool ok = true;
    if (m_kind == Kind::Queue) {
        ok = submitToQueue();
    }
    if (m_fd >= 0) {
        ok = ::close(m_fd) == 0 && ok;
    }
    m_fd = -1;
    m_kind = Kind::Closed;
    m_queue.clear();
    m_job.clear();
    return ok;
}

} // namespace printerstandin

#endif
