#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "service/clock.h"

namespace tertulia {

// Logins refused without a check (during a wait, or with the checks busy) are logged in
// aggregate: one line per client address and minute of the service's clock, with their count,
// so that a flood neither fills the log nor goes unseen. A minute's lines are written at the
// first refusal after it, or by a look every second; its counts go with them. At most
// kMaxAddresses addresses are told apart in a minute, the others are counted together.
class LoginRefusals {
  public:
    static constexpr std::size_t kMaxAddresses = 1000;

    explicit LoginRefusals(Clock clock);
    // Writes the counts it holds.
    ~LoginRefusals();
    LoginRefusals(const LoginRefusals&) = delete;
    LoginRefusals& operator=(const LoginRefusals&) = delete;

    void Count(const std::string& address);

  private:
    struct Minute {
        std::map<std::string, unsigned> counts;
        unsigned others = 0;
    };
    static void Write(const Minute& minute);
    // The counts of a minute that has ended, taken out; with the mutex held.
    Minute TakeEnded();
    void Loop();

    Clock clock_;
    std::mutex mutex_;
    std::int64_t minute_ = 0;
    Minute current_;
    std::condition_variable stopRequested_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace tertulia
