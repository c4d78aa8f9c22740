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

// UTF-8 for a line the operator wrote in Windows-1252, as it is stored: the five bytes that
// Windows-1252 leaves undefined (81, 8D, 8F, 90, 9D) stand for no character a console can type,
// so they are dropped rather than passed on to visitors as control characters.
std::string Utf8LineFromWindows1252(std::string_view bytes);

// A line as it is stored, whichever side wrote it. Characters that would change how the rest of
// the line, or the lines after it, are shown become U+FFFD, so that a reader sees that something
// was there: C1 controls, the bidirectional embeddings, overrides and isolates (U+202A-U+202E,
// U+2066-U+2069) and the line and paragraph separators (U+2028, U+2029). The zero-width
// characters U+200B-U+200F show nothing, so they are removed. Bytes that are not well-formed
// UTF-8 are left for the caller to refuse.
std::string StorableLine(std::string_view text);

// Windows-1252 bytes for valid UTF-8 text; a character that Windows-1252 cannot hold becomes "?".
std::string Windows1252FromUtf8(std::string_view text);

// Number of characters of `text` when it is well-formed UTF-8 (no overlong forms, surrogates or
// values past U+10FFFF); nothing when it is not.
std::optional<std::size_t> Utf8Length(std::string_view text);

// Whether the UTF-8 text holds a control character (C0, DEL or C1).
bool HasControlCharacter(std::string_view text);

}  // namespace tertulia
