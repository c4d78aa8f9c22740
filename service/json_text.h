#pragma once

#include <string>
#include <string_view>

namespace tertulia {

// A JSON string literal, quotes included, for UTF-8 text. Bytes that are not UTF-8 become
// U+FFFD. Other text is written as it is (only quotes, backslashes and control characters are
// escaped), so a reply stays near its text's size: it is served as application/json with
// nosniff, and never pasted into a page.
std::string JsonString(std::string_view text);

}  // namespace tertulia
