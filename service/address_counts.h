#pragma once

#include <string>
#include <unordered_map>

namespace tertulia {

// Connections counted by what their address's limit counts them by (see LimitKey).
class AddressCounts {
  public:
    unsigned Of(const std::string& key) const {
        const auto it = counts_.find(key);
        return it == counts_.end() ? 0 : it->second;
    }
    void Add(const std::string& key) { ++counts_[key]; }
    void Remove(const std::string& key) {
        const auto it = counts_.find(key);
        if (it != counts_.end() && --it->second == 0) counts_.erase(it);
    }

  private:
    std::unordered_map<std::string, unsigned> counts_;
};

}  // namespace tertulia
