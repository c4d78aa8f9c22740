#pragma once

#include <string_view>

namespace tertulia {

// The visitor's chat page: one self-contained HTML document in Spanish, UTF-8, with its style
// and script inline and no outside resources. It talks only to the visitors' JSON API.
std::string_view VisitorPage();

// The Content-Security-Policy the page is served with: nothing but itself and the API.
std::string_view VisitorPagePolicy();

}  // namespace tertulia
