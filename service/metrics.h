#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "service/metrics_page.h"

namespace tertulia {

// The requests answered, for the metrics page: how many by route and status, and how long each
// route took from the request's head to its reply handed over. Routes are names of a fixed set
// that the service gives (never what a client sent), so the page stays small whatever comes.
class RequestMetrics {
  public:
    // Upper bounds of the duration buckets, in seconds; the database time-out is 10 by default.
    static constexpr std::array<double, 12> kBuckets = {0.001, 0.005, 0.01, 0.025, 0.05, 0.1,
                                                        0.25,  0.5,   1,    2.5,   5,    10};

    void Answered(std::string_view route, int status, double seconds);
    void Write(MetricsPage& page) const;

  private:
    struct Route {
        std::map<int, std::uint64_t> statuses;
        std::array<std::uint64_t, kBuckets.size()> buckets{};  // each its own, not cumulative
        std::uint64_t count = 0;
        double seconds = 0;
    };

    mutable std::mutex mutex_;
    std::map<std::string, Route, std::less<>> routes_;
};

// How long visitors waited for an operator: the seconds from each conversation's opening to its
// first operator line, of every company together.
class FirstResponseMetrics {
  public:
    static constexpr std::array<double, 10> kBuckets = {5,   10,  15,  30,   60,
                                                        120, 300, 600, 1800, 3600};

    void Answered(double seconds);
    void Write(MetricsPage& page) const;

  private:
    mutable std::mutex mutex_;
    std::array<std::uint64_t, kBuckets.size()> buckets_{};  // each its own, not cumulative
    std::uint64_t count_ = 0;
    double seconds_ = 0;
};

// What the service counts besides its requests, gathered when the page is asked for.
struct ServiceFigures {
    std::size_t visitorStreams = 0;
    std::size_t operatorStreams = 0;
    // None when the database did not answer in time.
    std::optional<std::int64_t> waitingConversations;
    // Refused logins since the start, by why.
    std::uint64_t refusedCredentials = 0;  // an unknown company or a wrong password
    std::uint64_t refusedWaiting = 0;      // too soon after failures
    std::uint64_t refusedBusy = 0;         // too many password checks at once
    std::uint64_t databaseFailures = 0;
    std::uint64_t databaseReconnections = 0;
};

void WriteServiceFigures(MetricsPage& page, const ServiceFigures& figures);

}  // namespace tertulia
