#include "service/retention_loop.h"

#include <exception>

#include "service/service_log.h"

namespace tertulia {

RetentionLoop::RetentionLoop(Retention& retention, unsigned keepDays, unsigned silenceSeconds)
    : retention_(retention),
      keepSeconds_(std::int64_t{keepDays} * 24 * 3600),
      silenceSeconds_(silenceSeconds) {
    thread_ = std::thread([this] { Loop(); });
}

RetentionLoop::~RetentionLoop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    stopRequested_.notify_all();
    thread_.join();
}

bool RetentionLoop::Wait(std::chrono::milliseconds time) {
    std::unique_lock lock(mutex_);
    return !stopRequested_.wait_for(lock, time, [&] { return stopping_; });
}

void RetentionLoop::Loop() {
    while (Wait(kInterval)) {
        try {
            while (silenceSeconds_ != 0 &&
                   retention_.CloseSilentConversations(silenceSeconds_, kBatch) == kBatch &&
                   Wait(kPause)) {
            }
            while (retention_.RemoveExpired(keepSeconds_, kBatch) == kBatch && Wait(kPause)) {
            }
        } catch (const std::exception& failure) {
            LogLine(LogPriority::Error,
                    std::string("error al borrar datos caducados: ") + failure.what());
        }
    }
}

}  // namespace tertulia
