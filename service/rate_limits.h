#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

namespace tertulia {

// These counters live in this process, keyed by text (a client address, a company code), so
// that a later store shared by several instances can take their place behind the same calls.
// Times are seconds of the service's clock. Each map is bounded: keys that hold nothing worth
// remembering are dropped when it grows.

// A token bucket per key: `burst` tokens, refilled evenly at `burst` per `periodSeconds`.
// A burst of 0 means no limit.
class TokenBuckets {
  public:
    TokenBuckets(unsigned burst, std::int64_t periodSeconds)
        : burst_(burst), periodSeconds_(periodSeconds) {}

    // Takes a token for the key; false when its bucket is empty.
    bool Take(const std::string& key, std::int64_t now);

  private:
    struct Bucket {
        double tokens = 0;
        std::int64_t at = 0;
    };
    static constexpr std::size_t kMaxKeys = 100000;

    double Refilled(const Bucket& bucket, std::int64_t now) const;

    unsigned burst_;
    std::int64_t periodSeconds_;
    std::mutex mutex_;
    std::unordered_map<std::string, Bucket> buckets_;
};

// Failed attempts per key. From the fifth failure on, the next attempt waits 1 s, then 2, 4...
// up to a minute after the last failure; a success forgets the key, and so does an hour
// without failures.
class FailureBackoff {
  public:
    static constexpr unsigned kFreeFailures = 4;
    static constexpr std::int64_t kMaxWait = 60;
    static constexpr std::int64_t kMemory = 3600;

    // Seconds until the key may try again; 0 when it may now.
    std::int64_t Wait(const std::string& key, std::int64_t now);
    // Counts a failure; returns how many the key has had in a row.
    unsigned Failed(const std::string& key, std::int64_t now);
    void Succeeded(const std::string& key);

  private:
    struct Failures {
        unsigned count = 0;
        std::int64_t last = 0;
    };
    static constexpr std::size_t kMaxKeys = 100000;

    static std::int64_t WaitAfter(const Failures& failures);

    std::mutex mutex_;
    std::unordered_map<std::string, Failures> failures_;
};

}  // namespace tertulia
