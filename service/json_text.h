#pragma once

#include <string>
#include <string_view>

namespace tertulia {

// A JSON string literal, quotes included, for UTF-8 text. Bytes that are not UTF-8 become
// U+FFFD, and "<", ">" and "&" are escaped so the text is inert wherever it is pasted.
std::string JsonString(std::string_view text);

}  // namespace tertulia
