#include "PortAddress.h"

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace printerstandin {

bool splitHostPort(const std::string& name, std::string& host, std::string& service)
{
    const auto colon = name.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 >= name.size()) {
        return false;
    }
    service = name.substr(colon + 1);
    if (service.size() > 5 || service.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    host = name.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    return true;
}

bool loopback(const sockaddr* address)
{
    if (address->sa_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
        return (ntohl(v4->sin_addr.s_addr) >> 24) == 127U;
    }
    if (address->sa_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
        return IN6_IS_ADDR_LOOPBACK(&v6->sin6_addr) != 0;
    }
    return false;
}

} // namespace printerstandin
