#include "session/reconnection.h"

#include <algorithm>
#include <utility>

#include "session/time_of_day.h"

namespace tertulia {

Reconnection::Reconnection(Timer& timer, ConsoleView& view, std::function<void()> attempt)
    : timer_(timer), view_(view) {
    timer_.SetEnabled(false);
    timer_.SetHandler([this, attempt = std::move(attempt)] {
        timer_.SetEnabled(false);
        attempt();
    });
}

Reconnection::~Reconnection() {
    timer_.SetEnabled(false);
    timer_.SetHandler(nullptr);
}

void Reconnection::Schedule() {
    if (!allowed_ || view_.CompanyCode().empty() || view_.Password().empty()) return;
    const int delay = std::exchange(nextDelay_, std::min(nextDelay_ * 2, LongestDelay));
    timer_.SetInterval(delay);
    timer_.SetEnabled(true);
    view_.SetStatusText("Reintentando la conexi\xF3n a las " + TimeOfDay("%H:%M:%S", delay / 1000));
}

void Reconnection::Stop() {
    timer_.SetEnabled(false);
    nextDelay_ = FirstDelay;
}

}  // namespace tertulia
