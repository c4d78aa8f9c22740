#pragma once

#include <cstddef>

namespace tertulia {

// Where reply bytes come from: a connection, or memory in tests and fuzzing.
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    // Waits for bytes and stores up to `capacity` of them; returns 0 once the peer has closed.
    // A failure or an expired wait throws SocketError.
    virtual std::size_t Receive(char* buffer, std::size_t capacity) = 0;
};

}  // namespace tertulia
