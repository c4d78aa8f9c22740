#include "http/url_parts.h"

#include <algorithm>
#include <stdexcept>

#include "http/ascii_text.h"
#include "http/http_errors.h"

namespace tertulia {

namespace {

bool IsControlCharacter(char c) {
    const auto code = static_cast<unsigned char>(c);
    return code < 32 || code == 127;
}

// A "#" in the last path segment ends it up to the query; otherwise a "#" in the query ends
// the query.
std::string DropFragment(const std::string& target) {
    const std::size_t query = target.find('?');
    const std::size_t pathEnd = query == std::string::npos ? target.size() : query;
    const std::size_t segment = target.rfind('/', pathEnd == 0 ? 0 : pathEnd - 1);
    const std::size_t segmentStart = segment == std::string::npos ? 0 : segment;
    const std::size_t hash = target.find('#', segmentStart);
    if (hash != std::string::npos && hash < pathEnd)
        return target.substr(0, hash) + target.substr(pathEnd);
    if (query == std::string::npos) return target;
    const std::size_t queryHash = target.find('#', query);
    return queryHash == std::string::npos ? target : target.substr(0, queryHash);
}

}  // namespace

UrlParts SplitUrl(std::string url, bool httpsSupported) {
    if (std::any_of(url.begin(), url.end(), IsControlCharacter))
        throw std::runtime_error(kUrlHasControlCharacter);
    std::replace(url.begin(), url.end(), '\\', '/');

    UrlParts parts;
    std::size_t authorityStart = 0;
    const std::size_t schemeEnd = url.find("://");
    if (schemeEnd != std::string::npos) {
        parts.scheme = url.substr(0, schemeEnd);
        authorityStart = schemeEnd + 3;
    }
    if (IsHttps(parts) && !httpsSupported) throw std::runtime_error(kIOHandlerNotValid);
    if (!IsHttps(parts) && !EqualsIgnoringCase(parts.scheme, "http"))
        throw std::runtime_error("Unsupported URL scheme \"" + parts.scheme + "\".");

    const std::size_t slash = url.find('/', authorityStart);
    const std::string authority = url.substr(authorityStart, slash - authorityStart);
    parts.target = slash == std::string::npos ? "/" : DropFragment(url.substr(slash));

    const std::size_t colon = authority.find(':');
    parts.host = authority.substr(0, colon);
    parts.port = colon == std::string::npos ? DefaultPort(parts) : authority.substr(colon + 1);
    return parts;
}

bool IsHttps(const UrlParts& url) {
    return EqualsIgnoringCase(url.scheme, "https");
}

const char* DefaultPort(const UrlParts& url) {
    return IsHttps(url) ? "443" : "80";
}

std::string RequestPath(const std::string& target) {
    const std::size_t query = target.find('?');
    const std::size_t pathEnd = query == std::string::npos ? target.size() : query;
    if (pathEnd == 0) return {};
    const std::size_t slash = target.rfind('/', pathEnd - 1);
    return slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
}

}  // namespace tertulia
