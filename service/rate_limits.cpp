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

std::int64_t LoginWait(unsigned count, std::int64_t last, std::int64_t now) {
    if (count <= kFreeLoginFailures) return 0;
    const unsigned doublings = std::min(count - kFreeLoginFailures - 1, 6u);
    const std::int64_t wait = std::min<std::int64_t>(std::int64_t{1} << doublings, kMaxLoginWait);
    return std::max<std::int64_t>(last + wait - now, 0);
}

}  // namespace tertulia
