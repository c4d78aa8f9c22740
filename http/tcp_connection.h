#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "http/byte_source.h"
#include "http/transport.h"

namespace tertulia {

// A non-blocking TCP/IPv4 socket whose connection to `host` and `port` has begun, and may have
// ended already; the host is found as TcpConnection finds it. The caller owns the descriptor.
// Failures throw SocketError.
int BeginConnect(const std::string& host, const std::string& port);
// What became of the connection begun on `fd` once it is writable: 0 when it was made, else
// the errno of its failure.
int ConnectResult(int fd);

// One TCP/IPv4 connection with bounded waits. Failures throw SocketError.
class TcpConnection : public Transport, public ByteSource {
  public:
    // "localhost" in any case is 127.0.0.1, a dotted IPv4 address is used as it is, any other
    // name is resolved to its first IPv4 address.
    TcpConnection(const std::string& host, const std::string& port,
                  std::chrono::milliseconds connectTimeout, std::chrono::milliseconds ioTimeout);
    ~TcpConnection() override;
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    // Hands all of `bytes` to the connection in one write.
    void Send(std::string_view bytes) override;
    std::size_t Receive(char* buffer, std::size_t capacity) override;
    // As Receive; a wait also ends, timed out, at `deadline`.
    std::size_t ReceiveBefore(char* buffer, std::size_t capacity,
                              std::chrono::steady_clock::time_point deadline) override;
    std::optional<std::size_t> ReceiveAvailable(char* buffer, std::size_t capacity) override;
    // Readable with nothing to read.
    bool PeerHasClosed() override;

    void SetIoTimeout(std::chrono::milliseconds timeout) override { ioTimeout_ = timeout; }
    std::chrono::milliseconds IoTimeout() const { return ioTimeout_; }

    // Also for a secure transport that does its own reads and writes on the socket.
    int Descriptor() const override { return fd_; }
    // Waits for `events` for at most `timeout`, and not past `latest`; an expired wait throws
    // SocketError 10060.
    void WaitFor(short events, std::chrono::milliseconds timeout,
                 std::chrono::steady_clock::time_point latest =
                     std::chrono::steady_clock::time_point::max()) const;
    // Readable now, without waiting.
    bool Readable() const;

  private:
    int fd_ = -1;
    std::chrono::milliseconds ioTimeout_;
};

}  // namespace tertulia
