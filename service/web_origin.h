#pragma once

#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "service/http_server.h"

namespace tertulia {

// The origin ("https://chat.example:8443") that the client used to reach the service, for the
// addresses the service writes into its replies. It is "http://" and the Host header, or
// `fallback` when the Host header is missing or unusable. A connection from a trusted proxy may
// name the scheme and host its own client used with X-Forwarded-Proto ("http" or "https") and
// X-Forwarded-Host; of several values the last is taken, the one the nearest proxy wrote.
// Anyone else's forwarded headers are ignored.
std::string RequestOrigin(const HttpRequest& request, const std::set<std::string>& trustedProxies,
                          const std::string& fallback);

// A web site's origin as a browser writes it, in lower case: "http" or "https", "://", a host
// name, IPv4 or bracketed IPv6 address, and an optional port; a single trailing "/" is
// dropped. Nothing when the text is not one (a path, a query, a wildcard, another scheme).
std::optional<std::string> SiteOrigin(std::string_view text);

}  // namespace tertulia
