#pragma once

#include <functional>
#include <memory>

namespace tertulia {

// A repeating timer that calls its handler on the user-interface thread; enabling it begins a
// full new interval, also when it was running. The console's news poll, every conversation
// window's poll and the tray icon's cycling each own one.
class Timer {
  public:
    virtual ~Timer() = default;
    virtual void SetHandler(std::function<void()> handler) = 0;
    virtual void SetInterval(int milliseconds) = 0;
    virtual void SetEnabled(bool enabled) = 0;
    virtual bool Enabled() const = 0;
};

// Makes the timers of the units that keep one for themselves, as conversation windows get
// theirs from their factory; each new timer is disabled and has no handler.
class TimerFactory {
  public:
    virtual ~TimerFactory() = default;
    virtual std::unique_ptr<Timer> Create() = 0;
};

}  // namespace tertulia
