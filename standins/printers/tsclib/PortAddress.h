// What a printer port name means for a network printer, alike on every
// system: the host and port it names, and whether an address it resolves to
// stays on this machine.
#pragma once

#include <string>

struct sockaddr;

namespace printerstandin {

// "host:port" with a numeric port; IPv6 hosts in brackets.
bool splitHostPort(const std::string& name, std::string& host, std::string& service);

// Whether the address is a loopback one (127.0.0.0/8 or ::1).
bool loopback(const sockaddr* address);

} // namespace printerstandin
