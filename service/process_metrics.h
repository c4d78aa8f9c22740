#pragma once

#include <cstdint>
#include <optional>

#include "service/metrics_page.h"

namespace tertulia {

// The process as /proc/self shows it, under the names that every Prometheus client library
// gives these figures.
struct ProcessFigures {
    double residentBytes = 0;
    double virtualBytes = 0;
    double cpuSeconds = 0;  // user and system
    double startTime = 0;   // seconds since the epoch
    std::uint64_t openFds = 0;
    std::uint64_t maxFds = 0;
    std::uint64_t threads = 0;
};

// None where /proc/self cannot be read.
std::optional<ProcessFigures> ReadProcessFigures();

void WriteProcessFigures(MetricsPage& page, const ProcessFigures& figures);

}  // namespace tertulia
