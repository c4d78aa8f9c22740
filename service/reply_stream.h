#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace tertulia {

// The body of a reply that goes on for as long as the client holds it (Server-Sent Events).
// Any thread appends to it; the server sends what is pending whenever the connection takes
// bytes, and leaves the connection asleep, with no thread of its own, while nothing is.
class ReplyStream {
  public:
    // What a client that does not read may leave pending before its stream is ended.
    static constexpr std::size_t kMaxPending = 1 << 20;

    // Appends bytes for the client; false once the stream has ended or its client has gone.
    bool Append(std::string_view bytes);
    // Ends the reply once what is pending has been sent.
    void End();
    // True once the stream ended or its client went away.
    bool Ended() const;
    // Bytes sent to the client so far.
    std::size_t Sent() const;

    // For the server. What `Take` returns once the stream is over.
    static constexpr std::ptrdiff_t kOver = -1;
    // Copies pending bytes into `buffer`; with none pending, calls `sleep` (which suspends the
    // connection) and returns 0; kOver once the stream has ended and all is sent.
    std::ptrdiff_t Take(char* buffer, std::size_t size, const std::function<void()>& sleep);
    // Called, under the stream's lock, when bytes arrive while the connection sleeps.
    void OnWake(std::function<void()> wake);
    // The connection is gone: nothing more is taken or woken.
    void Gone();

  private:
    void WakeLocked();

    mutable std::mutex mutex_;
    std::string pending_;
    std::size_t taken_ = 0;  // of pending_, already copied out
    std::size_t sent_ = 0;
    bool ended_ = false;
    bool gone_ = false;
    bool asleep_ = false;
    std::function<void()> wake_;
};

}  // namespace tertulia
