#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tertulia {

// The visitor's chat page: one self-contained HTML document in Spanish, UTF-8, with its style
// and script inline and no outside resources. It talks only to the visitors' JSON API.
std::string_view VisitorPage();

// The Content-Security-Policy the page is served with: nothing but itself and the API, and
// shown in frames only by pages of its own origin and of `allowedSites` (origins that
// SiteOrigin accepts; anything else is left out).
std::string VisitorPagePolicy(const std::vector<std::string>& allowedSites);

}  // namespace tertulia
