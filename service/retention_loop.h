#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "service/retention.h"

namespace tertulia {

// Closes the conversations of visitors who have gone silent, and removes what the database no
// longer needs (lapsed sessions, forgotten failed logins, closed conversations past their
// retention), on a thread of its own: every minute, in transactions of
// a few hundred rows with a pause between them, so that requests never wait behind it. Several
// services sharing one database may all run it.
class RetentionLoop {
  public:
    static constexpr std::size_t kBatch = 300;
    static constexpr std::chrono::seconds kInterval{60};
    static constexpr std::chrono::milliseconds kPause{50};

    // `keepDays` 0 keeps closed conversations for ever; `silenceSeconds` 0 leaves silent
    // conversations open.
    RetentionLoop(Retention& retention, unsigned keepDays, unsigned silenceSeconds);
    ~RetentionLoop();
    RetentionLoop(const RetentionLoop&) = delete;
    RetentionLoop& operator=(const RetentionLoop&) = delete;

  private:
    void Loop();
    // False when asked to stop meanwhile.
    bool Wait(std::chrono::milliseconds time);

    Retention& retention_;
    std::int64_t keepSeconds_;
    std::int64_t silenceSeconds_;
    std::mutex mutex_;
    std::condition_variable stopRequested_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace tertulia
