#include "service/service_log.h"

#include <time.h>

#include <cstdio>
#include <mutex>
#include <string>

namespace tertulia {

void LogLine(std::string_view text) {
    static std::mutex mutex;
    const time_t now = time(nullptr);
    tm utc{};
    gmtime_r(&now, &utc);
    char stamp[32];
    strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
    std::string line = std::string(stamp) + " tertulia-service: ";
    // What a client sent may appear in the text; it never breaks or forges a line.
    for (const char c : text) {
        line += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? '?' : c;
    }
    line += '\n';
    std::lock_guard lock(mutex);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

void LogInternalError(std::string_view route, std::string_view cause) {
    LogLine("error interno en " + std::string(route) + ": " + std::string(cause));
}

}  // namespace tertulia
