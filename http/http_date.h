#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tertulia {

// Seconds since 1970-01-01 UTC of an HTTP date in any of its usual forms ("Sun, 06 Nov 1994
// 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT", "Sun Nov  6 08:49:37 1994", and the
// cookie form "Sun, 06-Nov-1994 08:49:37 GMT"), read as leniently as browsers read cookie
// dates; nothing for a text that names no valid date.
std::optional<std::int64_t> ParseHttpDate(std::string_view text);

// "Sun, 06 Nov 1994 08:49:37 GMT".
std::string FormatHttpDate(std::int64_t secondsSinceEpoch);

}  // namespace tertulia
