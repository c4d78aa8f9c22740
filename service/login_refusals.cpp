#include "service/login_refusals.h"

#include <chrono>

#include "service/service_log.h"

namespace tertulia {

namespace {

void WriteLine(unsigned count, const std::string& from) {
    LogLine(LogPriority::Warning,
            std::to_string(count) +
                (count == 1 ? " intento de inicio de sesión rechazado desde "
                            : " intentos de inicio de sesión rechazados desde ") +
                from + " en el último minuto");
}

}  // namespace

LoginRefusals::LoginRefusals(Clock clock) : clock_(std::move(clock)) {
    thread_ = std::thread([this] { Loop(); });
}

LoginRefusals::~LoginRefusals() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    stopRequested_.notify_all();
    thread_.join();
    Write(current_);
}

void LoginRefusals::Count(const std::string& address) {
    Minute ended;
    {
        std::lock_guard lock(mutex_);
        ended = TakeEnded();
        if (current_.counts.size() < kMaxAddresses || current_.counts.contains(address)) {
            ++current_.counts[address];
        } else {
            ++current_.others;
        }
    }
    Write(ended);
}

LoginRefusals::Minute LoginRefusals::TakeEnded() {
    const std::int64_t minute = clock_() / 60;
    Minute ended;
    if (minute != minute_) {
        std::swap(ended, current_);
        minute_ = minute;
    }
    return ended;
}

void LoginRefusals::Write(const Minute& minute) {
    for (const auto& [address, count] : minute.counts) WriteLine(count, address);
    if (minute.others > 0) WriteLine(minute.others, "otras direcciones");
}

void LoginRefusals::Loop() {
    std::unique_lock lock(mutex_);
    while (!stopRequested_.wait_for(lock, std::chrono::seconds(1), [&] { return stopping_; })) {
        const Minute ended = TakeEnded();
        lock.unlock();
        Write(ended);
        lock.lock();
    }
}

}  // namespace tertulia
