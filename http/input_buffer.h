#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "http/byte_source.h"

namespace tertulia {

// The input buffer of a connection: bytes received and not yet consumed, read as lines or
// taken as blocks. It never asks the source for more than it needs next, so it holds at most
// a line or a block beyond what had already arrived.
class InputBuffer {
  public:
    static constexpr std::size_t kMaxLineLength = 16384;
    static constexpr std::size_t kReceiveBlock = 32768;

    explicit InputBuffer(ByteSource& source) : source_(source) {}

    // The next line without its LF and one CR before it; nothing when the peer closes first
    // (the unfinished line is dropped).
    // More than kMaxLineLength bytes before the LF throws "Max line length exceeded.".
    std::optional<std::string> ReadLine();

    // Receives until `count` bytes are buffered or the peer has closed.
    void Fill(std::size_t count);
    std::size_t Buffered() const { return end_ - start_; }
    // The first `count` buffered bytes, consumed by the call.
    std::string_view Take(std::size_t count);

    bool PeerClosed() const { return peerClosed_; }

  private:
    // Receives once, up to `count` bytes; false once the peer has closed.
    bool ReceiveSome(std::size_t count);

    ByteSource& source_;
    std::vector<char> buffer_;
    std::size_t start_ = 0;
    std::size_t end_ = 0;
    std::size_t scanned_ = 0;  // buffered bytes already searched for a LF
    bool peerClosed_ = false;
};

}  // namespace tertulia
