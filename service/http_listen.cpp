#include "service/http_listen.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <unistd.h>

#include <memory>
#include <stdexcept>

namespace tertulia {

ListenSocket Listen(const std::string& host, int port) {
    const std::string failure = "no se puede escuchar en " + host + ":" + std::to_string(port);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found) {
        throw std::runtime_error(failure);
    }
    std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> addresses(found, freeaddrinfo);
    const int fd = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) throw std::runtime_error(failure);
    // Plain address reuse, never port sharing: a second service on a busy port must fail.
    const int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_storage bound{};
    socklen_t size = sizeof bound;
    if (::bind(fd, found->ai_addr, found->ai_addrlen) != 0 || ::listen(fd, SOMAXCONN) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &size) != 0) {
        ::close(fd);
        throw std::runtime_error(failure);
    }
    ListenSocket listening;
    listening.fd = fd;
    listening.ipv6 = found->ai_family == AF_INET6;
    listening.port =
        ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                          : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    return listening;
}

rlim_t RaiseDescriptorLimit() {
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) != 0) return 0;
    if (files.rlim_cur < files.rlim_max) {
        rlimit raised = files;
        // An unlimited hard limit still ends at the kernel's default ceiling per process.
        raised.rlim_cur = files.rlim_max == RLIM_INFINITY ? rlim_t{1} << 20 : files.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0) files = raised;
    }
    return files.rlim_cur;
}

std::string AddressText(const sockaddr* address) {
    char text[INET6_ADDRSTRLEN] = "";
    if (address && address->sa_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text,
                  sizeof text);
    } else if (address && address->sa_family == AF_INET6) {
        const in6_addr& bytes = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
        if (IN6_IS_ADDR_V4MAPPED(&bytes)) {
            inet_ntop(AF_INET, &bytes.s6_addr[12], text, sizeof text);
        } else {
            inet_ntop(AF_INET6, &bytes, text, sizeof text);
        }
    }
    return text;
}

}  // namespace tertulia
