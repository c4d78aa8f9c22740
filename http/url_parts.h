#pragma once

#include <string>

namespace tertulia {

// What a request URL says: where to connect and what to ask for.
struct UrlParts {
    std::string scheme;
    std::string host;
    std::string port;    // as written, or the scheme's default
    std::string target;  // "/" and the rest of the URL, sent exactly as written

    bool operator==(const UrlParts&) const = default;
};

// Splits a URL without encoding or decoding anything. Backslashes become slashes and a
// fragment is dropped. Throws for a URL holding a control character, and for "https" unless
// the caller has a secure transport for it.
UrlParts SplitUrl(std::string url, bool httpsSupported = false);

bool IsHttps(const UrlParts& url);
// "443" for "https", "80" otherwise.
const char* DefaultPort(const UrlParts& url);

// The request path that cookie paths are matched against: the target up to and including its
// last "/" before the query.
std::string RequestPath(const std::string& target);

}  // namespace tertulia
