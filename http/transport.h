#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tertulia {

class TcpConnection;

// What carries a request and its reply: a plain TCP connection, or a secure one over it.
// Failures throw: SocketError for the socket's own failures and expired waits, a
// std::runtime_error with a message for the others.
class Transport {
  public:
    virtual ~Transport() = default;

    // Hands all of `bytes` to the peer; each wait for room is bounded by the I/O time-out.
    virtual void Send(std::string_view bytes) = 0;
    // Waits for bytes and stores up to `capacity` of them; returns 0 once the peer has closed.
    // A wait ends, timed out, after the I/O time-out and at `deadline`.
    virtual std::size_t ReceiveBefore(char* buffer, std::size_t capacity,
                                      std::chrono::steady_clock::time_point deadline) = 0;
    // Takes up to `capacity` bytes that are there now, never waiting: nothing when none are,
    // 0 once the peer has closed. Bytes that a secure transport has already decrypted count as
    // there, also when the socket itself has nothing to read.
    virtual std::optional<std::size_t> ReceiveAvailable(char* buffer, std::size_t capacity) = 0;
    // Looks without waiting whether the peer has closed.
    virtual bool PeerHasClosed() = 0;
    virtual void SetIoTimeout(std::chrono::milliseconds timeout) = 0;
    // The socket underneath, for waiting on it in an event loop.
    virtual int Descriptor() const = 0;
};

// Makes the secure transport for an "https" address over a new TCP connection to `host`,
// ready to carry a request: the peer verified for `host`, the handshake done by `deadline`.
// A client without one refuses "https" addresses.
using SecureTransportFactory = std::function<std::unique_ptr<Transport>(
    std::unique_ptr<TcpConnection> connection, const std::string& host,
    std::chrono::steady_clock::time_point deadline)>;

}  // namespace tertulia
