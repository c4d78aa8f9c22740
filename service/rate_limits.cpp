#include "service/rate_limits.h"

#include <algorithm>

namespace tertulia {

double TokenBuckets::Refilled(const Bucket& bucket, std::int64_t now) const {
    const double perSecond = static_cast<double>(burst_) / static_cast<double>(periodSeconds_);
    const double elapsed = static_cast<double>(std::max<std::int64_t>(now - bucket.at, 0));
    return std::min<double>(burst_, bucket.tokens + elapsed * perSecond);
}

bool TokenBuckets::Take(const std::string& key, std::int64_t now) {
    if (burst_ == 0) return true;
    std::lock_guard lock(mutex_);
    if (buckets_.size() >= kMaxKeys && !buckets_.contains(key)) {
        // A full bucket is the same as none.
        std::erase_if(buckets_,
                      [&](const auto& entry) { return Refilled(entry.second, now) >= burst_; });
    }
    auto [it, added] = buckets_.try_emplace(key, Bucket{static_cast<double>(burst_), now});
    Bucket& bucket = it->second;
    bucket.tokens = Refilled(bucket, now);
    bucket.at = now;
    if (bucket.tokens < 1) return false;
    bucket.tokens -= 1;
    return true;
}

std::int64_t FailureBackoff::WaitAfter(const Failures& failures) {
    if (failures.count <= kFreeFailures) return 0;
    const unsigned doublings = std::min(failures.count - kFreeFailures - 1, 6u);
    return std::min<std::int64_t>(std::int64_t{1} << doublings, kMaxWait);
}

std::int64_t FailureBackoff::Wait(const std::string& key, std::int64_t now) {
    std::lock_guard lock(mutex_);
    const auto it = failures_.find(key);
    if (it == failures_.end()) return 0;
    return std::max<std::int64_t>(it->second.last + WaitAfter(it->second) - now, 0);
}

unsigned FailureBackoff::Failed(const std::string& key, std::int64_t now) {
    std::lock_guard lock(mutex_);
    if (failures_.size() >= kMaxKeys && !failures_.contains(key)) {
        std::erase_if(failures_, [&](const auto& entry) {
            return now - entry.second.last > kMemory || entry.second.count <= kFreeFailures;
        });
    }
    Failures& failures = failures_[key];
    if (now - failures.last > kMemory) failures.count = 0;
    ++failures.count;
    failures.last = now;
    return failures.count;
}

void FailureBackoff::Succeeded(const std::string& key) {
    std::lock_guard lock(mutex_);
    failures_.erase(key);
}

}  // namespace tertulia
