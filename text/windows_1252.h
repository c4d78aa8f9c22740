#pragma once

#include <optional>

namespace tertulia {

// The Windows-1252 character set, the one table of the program and the service. Windows-1252
// leaves five bytes undefined (81, 8D, 8F, 90, 9D); as in Windows's own conversion, each stands
// for the control character with its number (U+0081 and so on), so that every byte survives a
// round trip.

// The Unicode code point of a byte.
char32_t UnicodeOfWindows1252(unsigned char byte);

// The byte of a code point; nothing when Windows-1252 cannot hold the character.
std::optional<unsigned char> Windows1252Of(char32_t codePoint);

}  // namespace tertulia
