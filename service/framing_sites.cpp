#include "service/framing_sites.h"

#include <algorithm>

namespace tertulia {

std::optional<std::vector<std::string>> FramingSites::Last(const std::string& code) {
    std::lock_guard lock(mutex_);
    const auto it = readings_.find(code);
    if (it == readings_.end()) return std::nullopt;
    return it->second.sites;
}

void FramingSites::Remember(const std::string& code, std::vector<std::string> sites) {
    std::lock_guard lock(mutex_);
    if (readings_.size() >= kCompanies && !readings_.contains(code)) {
        const auto oldest = std::min_element(
            readings_.begin(), readings_.end(),
            [](const auto& a, const auto& b) { return a.second.at < b.second.at; });
        readings_.erase(oldest);
    }
    readings_[code] = {std::move(sites), std::chrono::steady_clock::now()};
}

}  // namespace tertulia
