#include "http/tcp_connection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <stdexcept>

#include "http/ascii_text.h"
#include "http/http_errors.h"

namespace tertulia {

namespace {

[[noreturn]] void ThrowErrno(int error) {
    throw SocketError(SocketErrorNumberOfErrno(error));
}

in_port_t ParsePort(const std::string& port) {
    const auto value = ParseDecimalInt32(port);
    if (!value || *value < 1 || *value > 65535 || port.front() == '+' || port.front() == '-')
        throw std::runtime_error("Invalid port \"" + port + "\".");
    return htons(static_cast<std::uint16_t>(*value));
}

// The address of a host that IsDottedIPv4 accepts, each number read in decimal (the resolver
// would read a leading zero as octal).
in_addr DottedAddress(const std::string& host) {
    std::uint32_t address = 0;
    std::uint32_t number = 0;
    for (const char c : host) {
        if (c == '.') {
            address = address << 8 | number;
            number = 0;
        } else {
            number = number * 10 + static_cast<std::uint32_t>(c - '0');
        }
    }
    in_addr result{};
    result.s_addr = htonl(address << 8 | number);
    return result;
}

in_addr ResolveIPv4(const std::string& host) {
    in_addr address{};
    if (EqualsIgnoringCase(host, "localhost")) {
        address.s_addr = htonl(INADDR_LOOPBACK);
        return address;
    }
    if (IsDottedIPv4(host)) return DottedAddress(host);

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int result = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (result != 0) throw SocketError(SocketErrorNumberOfResolver(result));
    std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owner(found, ::freeaddrinfo);
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET)
            return reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr;
    }
    throw SocketError(kSocketHostNotFound);
}

int RemainingMilliseconds(std::chrono::steady_clock::time_point deadline) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(std::min<long long>(left.count(), 1 << 30));
}

}  // namespace

int BeginConnect(const std::string& host, const std::string& port) {
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = ParsePort(port);
    peer.sin_addr = ResolveIPv4(host);

    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) ThrowErrno(errno);
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0 &&
        errno != EINPROGRESS) {
        const int error = errno;
        ::close(fd);
        ThrowErrno(error);
    }
    return fd;
}

int ConnectResult(int fd) {
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
    return error;
}

TcpConnection::TcpConnection(const std::string& host, const std::string& port,
                             std::chrono::milliseconds connectTimeout,
                             std::chrono::milliseconds ioTimeout)
    : fd_(BeginConnect(host, port)), ioTimeout_(ioTimeout) {
    try {
        WaitFor(POLLOUT, connectTimeout);
        if (const int error = ConnectResult(fd_)) ThrowErrno(error);
    } catch (...) {
        ::close(fd_);
        throw;
    }
}

TcpConnection::~TcpConnection() {
    ::close(fd_);
}

void TcpConnection::WaitFor(short events, std::chrono::milliseconds timeout,
                            std::chrono::steady_clock::time_point latest) const {
    const auto deadline = std::min(std::chrono::steady_clock::now() + timeout, latest);
    for (;;) {
        pollfd entry{fd_, events, 0};
        const int ready = ::poll(&entry, 1, RemainingMilliseconds(deadline));
        if (ready > 0) return;  // errors and hang-ups show in the call that follows
        if (ready == 0) throw SocketError(kSocketTimedOut);
        if (errno != EINTR) ThrowErrno(errno);
    }
}

void TcpConnection::Send(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent >= 0) {
            bytes.remove_prefix(static_cast<std::size_t>(sent));
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            WaitFor(POLLOUT, ioTimeout_);
        } else if (errno != EINTR) {
            ThrowErrno(errno);
        }
    }
}

std::size_t TcpConnection::Receive(char* buffer, std::size_t capacity) {
    return ReceiveBefore(buffer, capacity, std::chrono::steady_clock::time_point::max());
}

std::size_t TcpConnection::ReceiveBefore(char* buffer, std::size_t capacity,
                                         std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        const ssize_t received = ::recv(fd_, buffer, capacity, 0);
        if (received >= 0) return static_cast<std::size_t>(received);
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            WaitFor(POLLIN, ioTimeout_, deadline);
        } else if (errno != EINTR) {
            ThrowErrno(errno);
        }
    }
}

std::optional<std::size_t> TcpConnection::ReceiveAvailable(char* buffer, std::size_t capacity) {
    for (;;) {
        const ssize_t received = ::recv(fd_, buffer, capacity, MSG_DONTWAIT);
        if (received >= 0) return static_cast<std::size_t>(received);
        if (errno == EAGAIN || errno == EWOULDBLOCK) return std::nullopt;
        if (errno != EINTR) ThrowErrno(errno);
    }
}

bool TcpConnection::Readable() const {
    pollfd entry{fd_, POLLIN, 0};
    return ::poll(&entry, 1, 0) > 0;
}

bool TcpConnection::PeerHasClosed() {
    if (!Readable()) return false;
    char byte;
    const ssize_t peeked = ::recv(fd_, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return peeked == 0 || (peeked < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

}  // namespace tertulia
