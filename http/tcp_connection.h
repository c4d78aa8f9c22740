#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "http/byte_source.h"

namespace tertulia {

// One TCP/IPv4 connection with bounded waits. Failures throw SocketError.
class TcpConnection : public ByteSource {
  public:
    // "localhost" in any case is 127.0.0.1, a dotted IPv4 address is used as it is, any other
    // name is resolved to its first IPv4 address.
    TcpConnection(const std::string& host, const std::string& port,
                  std::chrono::milliseconds connectTimeout, std::chrono::milliseconds ioTimeout);
    ~TcpConnection() override;
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    // Hands all of `bytes` to the connection in one write.
    void Send(std::string_view bytes);
    std::size_t Receive(char* buffer, std::size_t capacity) override;
    // As Receive; a wait also ends, timed out, at `deadline`.
    std::size_t ReceiveBefore(char* buffer, std::size_t capacity,
                              std::chrono::steady_clock::time_point deadline);
    // Looks without waiting whether the peer has closed: readable with nothing to read.
    bool PeerHasClosed() const;

    void SetIoTimeout(std::chrono::milliseconds timeout) { ioTimeout_ = timeout; }

  private:
    // Waits for `events` for at most `timeout`, and not past `latest`.
    void WaitFor(short events, std::chrono::milliseconds timeout,
                 std::chrono::steady_clock::time_point latest =
                     std::chrono::steady_clock::time_point::max()) const;

    int fd_ = -1;
    std::chrono::milliseconds ioTimeout_;
};

}  // namespace tertulia
