#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace tertulia {

// The bytes that all streams together hold for clients that have not taken them yet.
class StreamBudget {
  public:
    explicit StreamBudget(std::size_t cap) : cap_(cap) {}
    StreamBudget(const StreamBudget&) = delete;
    StreamBudget& operator=(const StreamBudget&) = delete;

    // Counts `bytes` in, unless that would pass the cap.
    bool Reserve(std::size_t bytes);
    void Release(std::size_t bytes);
    std::size_t Used() const { return used_; }
    // Bytes released in all; the server gives memory back to the system after large releases.
    std::size_t Released() const { return released_; }

  private:
    const std::size_t cap_;
    std::atomic<std::size_t> used_ = 0;
    std::atomic<std::size_t> released_ = 0;
};

// The body of a reply that goes on for as long as the client holds it (Server-Sent Events).
// Any thread appends to it; the server sends what is pending whenever the connection takes
// bytes, and leaves the connection asleep, with no thread of its own, while nothing is.
// A client that does not take its bytes costs little: past kMaxPending pending, past the
// budget shared by all streams, or after kStallLimit with bytes pending and none taken, the
// stream is cut at once, its memory released and its connection closed; the client resumes
// where it was (an event stream's Last-Event-ID).
class ReplyStream {
  public:
    static constexpr std::size_t kMaxPending = 256 << 10;
    static constexpr std::chrono::seconds kStallLimit{60};
    using Clock = std::chrono::steady_clock;

    // `budget`, when given, outlives the stream.
    explicit ReplyStream(StreamBudget* budget = nullptr) : budget_(budget) {}
    ~ReplyStream();
    ReplyStream(const ReplyStream&) = delete;
    ReplyStream& operator=(const ReplyStream&) = delete;

    // Appends bytes for the client; false once the stream has ended or its client has gone.
    bool Append(std::string bytes);
    // Ends the reply once what is pending has been sent.
    void End();
    // Ends it at once: what is pending is dropped and the connection closed.
    void Cut();
    // Cuts a stream that has had bytes pending and sent none of them for kStallLimit.
    bool CutIfStalled(Clock::time_point now);
    // True once the stream ended or its client went away.
    bool Ended() const;
    // Bytes sent to the client so far.
    std::size_t Sent() const;
    // Bytes appended and not yet taken by the connection.
    std::size_t Pending() const;
    // Called, from the server's thread and under no lock, whenever the connection has taken
    // all that was pending.
    void OnDrained(std::function<void()> drained);

    // For the server. What `Take` returns once the stream is over, and once it was cut.
    static constexpr std::ptrdiff_t kOver = -1;
    static constexpr std::ptrdiff_t kCut = -2;
    // Copies pending bytes into `buffer`; with none pending, calls `sleep` under the stream's
    // lock and returns 0 (the next bytes wake it); kOver once the stream has ended and all is
    // sent.
    std::ptrdiff_t Take(char* buffer, std::size_t size, const std::function<void()>& sleep);
    // Called, under the stream's lock, when bytes arrive while the connection sleeps.
    void OnWake(std::function<void()> wake);
    // Called, under the stream's lock, to close the connection when the stream is cut.
    void OnCut(std::function<void()> cut);
    // The connection is gone: nothing more is taken, woken or cut.
    void Gone();

  private:
    void WakeLocked();
    // Frees the pieces, capacity and all, and gives their bytes back to the budget.
    void ReleaseLocked();
    void CutLocked();

    StreamBudget* const budget_;
    mutable std::mutex mutex_;
    // As appended, each freed once taken whole; those before first_ are taken. A vector, as an
    // empty one holds no memory: most streams are idle, and a deque keeps a block even then.
    std::vector<std::string> pieces_;
    std::size_t first_ = 0;
    std::size_t held_ = 0;   // bytes of the pieces from first_
    std::size_t taken_ = 0;  // of the first piece, already copied out
    std::size_t sent_ = 0;
    Clock::time_point progress_;  // when bytes were last taken, or became pending
    bool ended_ = false;
    bool cut_ = false;
    bool gone_ = false;
    bool asleep_ = false;
    std::function<void()> wake_;
    std::function<void()> cutConnection_;
    std::function<void()> drained_;
};

}  // namespace tertulia
