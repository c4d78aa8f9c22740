#include "app/qt_timer.h"

#include <exception>

namespace tertulia {

QtTimer::QtTimer(std::function<void(const std::string& message)> reportFailure, QObject* parent)
    : timer_(parent), reportFailure_(std::move(reportFailure)) {
    // Coarse timers may fire up to 5% early; the polls come on time or later, never earlier.
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Fire(); });
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

void QtTimer::Fire() {
    if (!handler_) return;
    try {
        handler_();
    } catch (const std::exception& failure) {
        reportFailure_(failure.what());
    }
}

}  // namespace tertulia
