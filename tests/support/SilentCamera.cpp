#include "SilentCamera.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

SilentCamera::SilentCamera(const char* address)
{
    m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
    int on = 1;
    ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_port = htons(8800);
    ::inet_pton(AF_INET, address, &a.sin_addr);
    m_ok = ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(m_fd, 4) == 0;
}

SilentCamera::~SilentCamera()
{
    ::close(m_fd);
}

bool SilentCamera::ok() const
{
    return m_ok;
}
