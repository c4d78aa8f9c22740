#include "session/reconnection.h"

#include <utility>

#include "session/time_of_day.h"

namespace tertulia {

Reconnection::Reconnection(Parts parts) : parts_(std::move(parts)), timer_(parts_.timers.Create()) {
    timer_->SetEnabled(false);
    timer_->SetHandler([this] {
        timer_->SetEnabled(false);
        Probe();
    });
}

void Reconnection::Schedule() {
    if (!allowed_) return;
    const auto now = parts_.now();
    if (!awaySince_) awaySince_ = now;
    probe_.reset();
    const int interval = now - *awaySince_ >= LongAbsence ? LongProbeInterval : ProbeInterval;
    timer_->SetInterval(interval);
    timer_->SetEnabled(true);
    parts_.view.SetStatusText("Reintentando la conexi\xF3n a las " +
                              TimeOfDay("%H:%M:%S", interval / 1000));
}

void Reconnection::Stop() {
    timer_->SetEnabled(false);
    probe_.reset();
    awaySince_.reset();
}

void Reconnection::Probe() {
    if (!probe_) {
        probe_ = parts_.startProbe();
        probeBegan_ = parts_.now();
    }
    Look();
}

void Reconnection::Look() {
    switch (probe_->Check()) {
        case ConnectProbe::Reach::Reachable:
            probe_.reset();
            parts_.login();
            break;
        case ConnectProbe::Reach::Unreachable:
            Schedule();
            break;
        case ConnectProbe::Reach::Pending:
            if (parts_.now() - probeBegan_ >= std::chrono::milliseconds(ProbeLimit)) {
                Schedule();
            } else {
                timer_->SetInterval(LookInterval);
                timer_->SetEnabled(true);
            }
            break;
    }
}

}  // namespace tertulia
