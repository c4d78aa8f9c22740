#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "service/http_server.h"

namespace tertulia {

// What the HTTP server checks of a request's head before any handler sees it.

std::string LowerCase(std::string_view text);

// Header names are HTTP tokens. The HTTP library keeps a blank before the colon in the name, and
// joins a folded line's text to the name of the header it continues, so both show up here; a
// folded line of one bare token (which makes another valid name) cannot be told apart, unless
// it continues a header that frames the body. Names are in lower case here.
bool ValidHeaderName(std::string_view name);

// The framing of the request's body, which its route takes up to `limit` bytes of; a status to
// refuse it with, or 0.
int FramingRefusal(const HttpRequest& request, std::size_t limit);

// Whether a Connection header's value asks for the connection to close after the reply.
bool ConnectionCloses(std::string_view value);

}  // namespace tertulia
