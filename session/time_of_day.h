#pragma once

#include <ctime>
#include <string>

namespace tertulia {

// The local time of day `seconds` from now, in strftime's `format`.
inline std::string TimeOfDay(const char* format, int seconds = 0) {
    const std::time_t then = std::time(nullptr) + seconds;
    std::tm local{};
    localtime_r(&then, &local);
    char text[16];
    return std::string(text, std::strftime(text, sizeof text, format, &local));
}

}  // namespace tertulia
