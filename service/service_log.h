#pragma once

#include <string>
#include <string_view>

namespace tertulia {

// One line on standard error, with the time in UTC, for what an administrator must see:
// internal errors with their route and cause, failed logins, refusals at start.
void LogLine(std::string_view text);

void LogInternalError(std::string_view route, std::string_view cause);

// `text` as a log line may carry it: what a client sent never breaks or forges a line nor
// reaches a terminal as a command. Control characters (C1 included), bytes that are not UTF-8 and
// the backslash are written as "\xNN" and "\\"; every other character as it is.
std::string EscapedForLog(std::string_view text);

}  // namespace tertulia
