#pragma once

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace tertulia {

// The sites that may frame each company's visitor page, as last read from the database, so that
// while the database does not answer the page (which every chat button loads) is still served,
// at once, with the sites it had.
class FramingSites {
  public:
    // Companies remembered at most; beyond, the oldest readings go first.
    static constexpr std::size_t kCompanies = 10000;

    // The company's sites as last read.
    std::optional<std::vector<std::string>> Last(const std::string& code);
    void Remember(const std::string& code, std::vector<std::string> sites);

  private:
    struct Reading {
        std::vector<std::string> sites;
        std::chrono::steady_clock::time_point at;
    };

    std::mutex mutex_;
    std::unordered_map<std::string, Reading> readings_;
};

}  // namespace tertulia
