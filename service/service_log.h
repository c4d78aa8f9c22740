#pragma once

#include <string>
#include <string_view>

namespace tertulia {

// How much a log line matters, as syslog numbers it: journald reads the number from the line's
// "<N>" prefix and files the line under that priority.
enum class LogPriority { Error = 3, Warning = 4, Info = 6 };

// One line on standard error, with its priority and the time in UTC, for what an administrator
// must see: internal errors with their route and cause, failed logins, refusals at start.
void LogLine(LogPriority priority, std::string_view text);

// An internal error, with the priority of one.
void LogInternalError(std::string_view route, std::string_view cause);

// `text` as a log line may carry it: what a client sent never breaks or forges a line nor
// reaches a terminal as a command. Control characters (C1 included), bytes that are not UTF-8 and
// the backslash are written as "\xNN" and "\\"; every other character as it is.
std::string EscapedForLog(std::string_view text);

}  // namespace tertulia
