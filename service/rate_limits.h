#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>

namespace tertulia {

// Times are seconds of the service's clock.

// A token bucket per key (a client address): `burst` tokens, refilled evenly at `burst` per
// `periodSeconds`. A burst of 0 means no limit. The buckets live in this process, so each service
// limits on its own: behind a balancer a client gets at most the sum of the services' bursts. A
// bucket untouched for a whole period is full, which is the same as none: it is dropped, in the
// order the buckets were touched, so that the map holds only the keys of the last period and no
// request ever walks all of them.
class TokenBuckets {
  public:
    TokenBuckets(unsigned burst, std::int64_t periodSeconds)
        : burst_(burst), periodSeconds_(periodSeconds) {}

    // Takes a token for the key; false when its bucket is empty.
    bool Take(const std::string& key, std::int64_t now);
    // How many keys it remembers now.
    std::size_t Keys();

  private:
    struct Bucket {
        double tokens = 0;
        std::int64_t at = 0;
    };
    double Refilled(const Bucket& bucket, std::int64_t now) const;
    void DropFullBuckets(std::int64_t now);

    unsigned burst_;
    std::int64_t periodSeconds_;
    std::mutex mutex_;
    std::unordered_map<std::string, Bucket> buckets_;
    // (when, key) for each second a bucket was touched in, oldest first.
    std::deque<std::pair<std::int64_t, std::string>> touched_;
};

// Failed logins: from the fifth failure in a row on, the next attempt waits 1 s, then 2, 4...
// up to a minute after the last failure. The failures themselves are kept in the database
// (LoginAttempts::AttemptLogin), so that every service sharing it counts them together.
inline constexpr unsigned kFreeLoginFailures = 4;
inline constexpr std::int64_t kMaxLoginWait = 60;

// Seconds from `now` until a key with `count` failures, the last at `last`, may try again, when
// its first `freeFailures` cost no wait.
std::int64_t LoginWait(unsigned count, std::int64_t last, std::int64_t now,
                       unsigned freeFailures = kFreeLoginFailures);

}  // namespace tertulia
