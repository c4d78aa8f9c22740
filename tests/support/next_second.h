#pragma once

#include <chrono>
#include <thread>

namespace tertulia::testing {

// Sleeps into the next second of the clock, so that a burst sent then meets waits that last
// for its whole time (the service's waits are whole seconds of its clock).
inline void IntoTheNextSecond() {
    std::this_thread::sleep_until(
        std::chrono::ceil<std::chrono::seconds>(std::chrono::system_clock::now()) +
        std::chrono::milliseconds(20));
}

}  // namespace tertulia::testing
