#include "service/retention.h"

#include <exception>

#include "service/service_log.h"

namespace tertulia {

Retention::Retention(Storage& storage, unsigned keepDays, unsigned silenceSeconds)
    : storage_(storage),
      keepSeconds_(std::int64_t{keepDays} * 24 * 3600),
      silenceSeconds_(silenceSeconds) {
    thread_ = std::thread([this] { Loop(); });
}

Retention::~Retention() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    stopRequested_.notify_all();
    thread_.join();
}

bool Retention::Wait(std::chrono::milliseconds time) {
    std::unique_lock lock(mutex_);
    return !stopRequested_.wait_for(lock, time, [&] { return stopping_; });
}

void Retention::Loop() {
    while (Wait(kInterval)) {
        try {
            while (silenceSeconds_ != 0 &&
                   storage_.CloseSilentConversations(silenceSeconds_, kBatch) == kBatch &&
                   Wait(kPause)) {
            }
            while (storage_.RemoveExpired(keepSeconds_, kBatch) == kBatch && Wait(kPause)) {
            }
        } catch (const std::exception& failure) {
            LogLine(LogPriority::Error,
                    std::string("error al borrar datos caducados: ") + failure.what());
        }
    }
}

}  // namespace tertulia
