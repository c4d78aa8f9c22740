#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tertulia {

// Byte-wise text helpers for protocol text; letters are ASCII only, bytes above 127 are left
// as they are.

std::string_view TrimBlanks(std::string_view text);
bool EqualsIgnoringCase(std::string_view a, std::string_view b);
std::string UpperCase(std::string_view text);
std::string LowerCase(std::string_view text);
// Four decimal numbers from 0 to 255 joined by dots; leading zeros are decimal too.
bool IsDottedIPv4(std::string_view host);

// Optional sign and decimal digits that fit a signed 32-bit number.
std::optional<std::int32_t> ParseDecimalInt32(std::string_view text);
// Hexadecimal digits only, at most 0x7FFFFFFF.
std::optional<std::int32_t> ParseHexInt32(std::string_view text);

}  // namespace tertulia
