#pragma once

#include <functional>

#include "base/timer.h"
#include "session/console_view.h"

namespace tertulia {

// The console's automatic login after it lost the service: the timer of the attempts, their
// schedule (5 s after the failure, then twice as long after each failed attempt, up to once a
// minute), and the status line that says when the next one comes. The attempt itself is the
// console's, run when the timer fires.
class Reconnection {
  public:
    static constexpr int FirstDelay = 5000;
    static constexpr int LongestDelay = 60000;

    Reconnection(Timer& timer, ConsoleView& view, std::function<void()> attempt);
    ~Reconnection();
    Reconnection(const Reconnection&) = delete;
    Reconnection& operator=(const Reconnection&) = delete;

    // The switch of the settings file; off, nothing is ever scheduled.
    void SetAllowed(bool allowed) { allowed_ = allowed; }
    // The next attempt, when allowed and both login fields are typed.
    void Schedule();
    // No more attempts until the next Schedule, which starts the schedule anew.
    void Stop();
    bool Running() const { return timer_.Enabled(); }

  private:
    Timer& timer_;
    ConsoleView& view_;
    int nextDelay_ = FirstDelay;  // milliseconds
    bool allowed_ = true;
};

}  // namespace tertulia
