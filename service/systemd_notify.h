#pragma once

#include <chrono>
#include <optional>
#include <string_view>

namespace tertulia {

// What the service tells systemd when it runs as a unit of Type=notify. Without NOTIFY_SOCKET in
// the environment each call does nothing.

// Ready: it listens and its database has answered. `status` is shown by systemctl status.
void NotifyReady(std::string_view status);
// It has begun to shut down.
void NotifyStopping();
// Still alive, for the unit's watchdog.
void NotifyWatchdog();
// How often the watchdog must hear from this process: half the unit's WatchdogSec; none when
// the unit has no watchdog for it.
std::optional<std::chrono::milliseconds> WatchdogHeartbeat();

}  // namespace tertulia
