#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "http/input_buffer.h"

namespace tertulia {

struct HeaderLine {
    std::string name;   // text before the first ":"; empty for a line without one
    std::string value;  // trimmed text after it, continuation lines joined with one blank
};

// A reply's status line and header lines, and what the client reads from them.
struct ReplyHead {
    std::string statusLine;
    std::int32_t statusCode = -1;
    std::vector<HeaderLine> headers;

    // The first header of that name (letter case ignored); empty when there is none.
    std::string Value(std::string_view name) const;
    // Every header of that name, in order.
    std::vector<std::string> Values(std::string_view name) const;
    // The first header of that name, or null.
    const HeaderLine* Find(std::string_view name) const;

    // The announced body length; nothing without a "Content-Length" header. A value that is
    // not a decimal number from 0 to 2147483647 throws kInvalidContentLength: reading such a
    // reply "until the peer closes" could pass a cut-off body as complete.
    std::optional<std::int32_t> ContentLength() const;
    bool IsRedirect() const;
    bool IsSuccess() const;
    bool AsksToClose() const;  // "Connection" or "Proxy-Connection" is "close"
};

// Status code of a status line: its second blank-separated word, -1 when not a number.
std::int32_t StatusCodeOf(std::string_view statusLine);

// Reads a status line and its header block. A peer that closes before the status line is
// complete throws "Connection Closed Gracefully."; one that closes among the header lines
// ends the block there.
ReplyHead ReadReplyHead(InputBuffer& reader);

// Header lines (continuation lines included) accepted in one head.
inline constexpr std::size_t kMaxHeaderLines = 255;

}  // namespace tertulia
