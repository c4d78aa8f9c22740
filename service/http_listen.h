#pragma once

#include <sys/resource.h>
#include <sys/socket.h>

#include <string>

namespace tertulia {

// A listening TCP socket on `host`:`port` (port 0 picks a free one), non-blocking; throws when
// it cannot be had.
struct ListenSocket {
    int fd = -1;
    int port = 0;
    bool ipv6 = false;
};
ListenSocket Listen(const std::string& host, int port);

// Raises the soft descriptor limit to the hard one; the descriptors the process may hold.
rlim_t RaiseDescriptorLimit();

// A client's address as text ("192.0.2.1", "2001:db8::1"; an IPv4 client on a dual-stack
// socket by its IPv4 address); empty for other families.
std::string AddressText(const sockaddr* address);

}  // namespace tertulia
