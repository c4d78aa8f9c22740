#pragma once

#include <string>

#include "http/url_parts.h"

namespace tertulia {

// The whole request head of a GET: request line, the fixed header lines in their order (one
// with an empty value left out) and the empty line, every line ending in CR LF.
std::string BuildRequestHead(const UrlParts& url, const std::string& cookieHeader);

}  // namespace tertulia
