#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

namespace tertulia {

// A password check costs a PBKDF2 hash: tens of milliseconds of a core. At most kRunning run at
// once and at most kWaiting more wait for their turn, in the order they came, so that a flood of
// logins leaves the other requests their share of the processors; an attempt beyond them is
// refused at once.
class PasswordChecks {
  public:
    static constexpr unsigned kRunning = 2;
    static constexpr unsigned kWaiting = 8;

    // Runs `check` in its turn; false, at once and without running it, when kWaiting others
    // wait already.
    bool Run(const std::function<void()>& check);

  private:
    void Leave();

    std::mutex mutex_;
    std::condition_variable changed_;
    unsigned running_ = 0;
    // Turns handed out and turns begun: those between wait.
    std::uint64_t issued_ = 0;
    std::uint64_t begun_ = 0;
};

}  // namespace tertulia
