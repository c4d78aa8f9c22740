#pragma once

#include <chrono>
#include <cstddef>

#include "http/byte_source.h"
#include "http/transport.h"

namespace tertulia {

// The least pace at which a reply must arrive, besides the bounded wait of each read. Without
// it a server that sends a byte now and then could hold a request, and with it the user
// interface, for as long as it liked.
struct PaceLimits {
    // The status line and every header line arrive within this time of the request being sent.
    std::chrono::milliseconds headWithin{30000};
    // A body brings at least `bodyBytes` bytes in every `bodyWindow`, or ends.
    std::chrono::milliseconds bodyWindow{30000};
    std::size_t bodyBytes = 1024;
};

// Where one reply stands against its pace: the time by which the next bytes are due.
class ReplyPace {
  public:
    using Clock = std::chrono::steady_clock;

    void SetLimits(const PaceLimits& limits) { limits_ = limits; }
    const PaceLimits& Limits() const { return limits_; }
    // The request has been sent: the head is due.
    void StartHead();
    // The head has been read: everything after it counts as body, the `buffered` bytes that
    // came with the head included.
    void StartBody(std::size_t buffered);
    void Received(std::size_t count);
    Clock::time_point Deadline() const { return deadline_; }

  private:
    PaceLimits limits_;
    bool inBody_ = false;
    std::size_t bodyBytesInWindow_ = 0;
    Clock::time_point deadline_ = Clock::time_point::max();
};

// Bytes from a transport whose every wait also ends, timed out, at the pace's deadline.
class PacedSource : public ByteSource {
  public:
    PacedSource(Transport& connection, ReplyPace& pace) : connection_(connection), pace_(pace) {}

    std::size_t Receive(char* buffer, std::size_t capacity) override;

  private:
    Transport& connection_;
    ReplyPace& pace_;
};

}  // namespace tertulia
