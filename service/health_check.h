#pragma once

#include <chrono>
#include <string_view>

#include "service/http_server.h"
#include "service/storage.h"

namespace tertulia {

// The path a balancer checks.
inline constexpr std::string_view kHealthPath = "/salud";
// How long the check waits for the database (or the database time-out where that is shorter):
// within the 2 s that a balancer's check is commonly given.
inline constexpr std::chrono::milliseconds kHealthBound{1500};

// 200 "OK" while the database answers a trivial query, for a balancer's checks, asked at
// `arrived`; throws DatabaseUnavailable when it does not in time.
HttpReply HealthReply(Storage& storage, std::chrono::steady_clock::time_point arrived);

}  // namespace tertulia
