#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tertulia {

// The operator's side of the service speaks Windows-1252 bytes, the visitor's side UTF-8; the
// service keeps text as UTF-8 and converts at the operator's edge.

// UTF-8 for Windows-1252 bytes, by the program's one table (text/windows_1252.h).
std::string Utf8FromWindows1252(std::string_view bytes);

// Windows-1252 bytes for valid UTF-8 text; a character that Windows-1252 cannot hold becomes "?".
std::string Windows1252FromUtf8(std::string_view text);

// Number of characters of `text` when it is well-formed UTF-8 (no overlong forms, surrogates or
// values past U+10FFFF); nothing when it is not.
std::optional<std::size_t> Utf8Length(std::string_view text);

// Whether the UTF-8 text holds a control character (C0, DEL or C1).
bool HasControlCharacter(std::string_view text);

}  // namespace tertulia
