#pragma once

#include <string_view>

namespace tertulia {

// One line on standard error, with the time in UTC, for what an administrator must see:
// internal errors with their route and cause, failed logins, refusals at start.
void LogLine(std::string_view text);

void LogInternalError(std::string_view route, std::string_view cause);

}  // namespace tertulia
