#pragma once

#include <algorithm>

namespace tertulia {

// When the console tries the login again by itself after it lost the service: 5 s after the
// failure, then twice as long after each failed attempt, up to once a minute.
class ReconnectSchedule {
  public:
    static constexpr int FirstDelay = 5000;
    static constexpr int LongestDelay = 60000;

    // The wait before the next attempt, in milliseconds; each call doubles the one after it.
    int Next() {
        const int delay = next_;
        next_ = std::min(next_ * 2, LongestDelay);
        return delay;
    }
    // The next attempt comes after FirstDelay again.
    void Reset() { next_ = FirstDelay; }

  private:
    int next_ = FirstDelay;
};

}  // namespace tertulia
