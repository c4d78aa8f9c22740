#pragma once

#include <string>
#include <string_view>

namespace tertulia::tool {

// Text that came from a peer, made safe to write to a terminal: every control character
// (codes below 32, and 127) is written as an escape, "\t", "\r", "\n" or "\xHH", and a
// backslash as "\\", so that no server can send control sequences to the operator's terminal
// and what is shown reads back unambiguously. Bytes from 128 up stay as they are.
std::string EscapeControlCharacters(std::string_view text);

}  // namespace tertulia::tool
