#include "service/rate_limits.h"

#include <algorithm>

namespace tertulia {

double TokenBuckets::Refilled(const Bucket& bucket, std::int64_t now) const {
    const double perSecond = static_cast<double>(burst_) / static_cast<double>(periodSeconds_);
    const double elapsed = static_cast<double>(std::max<std::int64_t>(now - bucket.at, 0));
    return std::min<double>(burst_, bucket.tokens + elapsed * perSecond);
}

void TokenBuckets::DropFullBuckets(std::int64_t now) {
    while (!touched_.empty() && touched_.front().first + periodSeconds_ <= now) {
        const auto found = buckets_.find(touched_.front().second);
        // A bucket touched again since has a later entry of its own.
        if (found != buckets_.end() && found->second.at == touched_.front().first) {
            buckets_.erase(found);
        }
        touched_.pop_front();
    }
}

std::size_t TokenBuckets::Keys() {
    std::lock_guard lock(mutex_);
    return buckets_.size();
}

bool TokenBuckets::Take(const std::string& key, std::int64_t now) {
    if (burst_ == 0) return true;
    std::lock_guard lock(mutex_);
    DropFullBuckets(now);
    auto [it, added] = buckets_.try_emplace(key, Bucket{static_cast<double>(burst_), now});
    Bucket& bucket = it->second;
    if (added || bucket.at != now) touched_.emplace_back(now, key);
    bucket.tokens = Refilled(bucket, now);
    bucket.at = now;
    if (bucket.tokens < 1) return false;
    bucket.tokens -= 1;
    return true;
}

std::int64_t LoginWait(unsigned count, std::int64_t last, std::int64_t now, unsigned freeFailures) {
    if (count <= freeFailures) return 0;
    const unsigned doublings = std::min(count - freeFailures - 1, 6u);
    const std::int64_t wait = std::min<std::int64_t>(std::int64_t{1} << doublings, kMaxLoginWait);
    return std::max<std::int64_t>(last + wait - now, 0);
}

}  // namespace tertulia
