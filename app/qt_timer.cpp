#include "app/qt_timer.h"

#include "app/qt_event_loop.h"

namespace tertulia {

QtTimer::QtTimer(QtEventLoop& loop, QObject* parent) : timer_(parent) {
    // Coarse timers may fire up to 5% early; the polls come on time or later, never earlier.
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this, &loop] { loop.RunUnbidden(handler_); });
}

void QtTimer::SetHandler(std::function<void()> handler) {
    handler_ = std::move(handler);
}

void QtTimer::SetInterval(int milliseconds) {
    timer_.setInterval(milliseconds);
}

void QtTimer::SetEnabled(bool enabled) {
    if (enabled) {
        timer_.start();  // a full new interval, also when it was running
    } else {
        timer_.stop();
    }
}

bool QtTimer::Enabled() const {
    return timer_.isActive();
}

}  // namespace tertulia
