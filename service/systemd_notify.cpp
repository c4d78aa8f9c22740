#include "service/systemd_notify.h"

#include <systemd/sd-daemon.h>

#include <algorithm>
#include <cstdint>
#include <string>

namespace tertulia {

void NotifyReady(std::string_view status) {
    const std::string message = "READY=1\nSTATUS=" + std::string(status);
    sd_notify(0, message.c_str());
}

void NotifyStopping() {
    sd_notify(0, "STOPPING=1\nSTATUS=Terminando");
}

void NotifyWatchdog() {
    sd_notify(0, "WATCHDOG=1");
}

std::optional<std::chrono::milliseconds> WatchdogHeartbeat() {
    std::uint64_t microseconds = 0;
    // Enabled for this process only when WATCHDOG_PID, if set, names it.
    if (sd_watchdog_enabled(0, &microseconds) <= 0 || microseconds == 0) return std::nullopt;
    return std::chrono::milliseconds(std::max<std::uint64_t>(microseconds / 2000, 1));
}

}  // namespace tertulia
