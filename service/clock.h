#pragma once

#include <cstdint>
#include <functional>

namespace tertulia {

// Seconds since the epoch; tests pass their own clock to age sessions. An empty one is the
// system's.
using Clock = std::function<std::int64_t()>;

}  // namespace tertulia
