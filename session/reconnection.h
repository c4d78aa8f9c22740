#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include "base/timer.h"
#include "http/connect_probe.h"
#include "session/console_view.h"

namespace tertulia {

// The console's automatic login after it lost the service. While the service is away it is
// probed cheaply, by a TCP connection that carries nothing, every 5 s and, after 10 minutes
// away, every minute; the login is tried only once a probe connects. The status line says when
// the next probe comes. The login itself is the console's, run when a probe connected; a login
// that fails puts the probes back (Schedule), one that succeeds or is refused ends them (Stop).
class Reconnection {
  public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    struct Parts {
        TimerFactory& timers;
        ConsoleView& view;
        Clock now;
        std::function<std::unique_ptr<ConnectProbe>()> startProbe;  // at the service
        std::function<void()> login;
    };

    static constexpr int ProbeInterval = 5000;  // milliseconds
    static constexpr int LongProbeInterval = 60000;
    static constexpr std::chrono::minutes LongAbsence{10};
    // A connection being made is looked at this often, and counts as refused after ProbeLimit.
    static constexpr int LookInterval = 100;
    static constexpr int ProbeLimit = 3000;

    explicit Reconnection(Parts parts);
    Reconnection(const Reconnection&) = delete;
    Reconnection& operator=(const Reconnection&) = delete;

    // The switch of the settings file; off, nothing is ever scheduled.
    void SetAllowed(bool allowed) { allowed_ = allowed; }
    // The service is away (since now, unless it was already): the next probe, when allowed.
    void Schedule();
    // No more probes until the next Schedule, which starts a new absence.
    void Stop();

  private:
    void Probe();
    void Look();

    Parts parts_;
    const std::unique_ptr<Timer> timer_;  // the next probe, and the look at a connection being made
    bool allowed_ = true;
    std::optional<std::chrono::steady_clock::time_point> awaySince_;
    std::unique_ptr<ConnectProbe> probe_;
    std::chrono::steady_clock::time_point probeBegan_;
};

}  // namespace tertulia
