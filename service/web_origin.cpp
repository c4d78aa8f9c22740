#include "service/web_origin.h"

#include <charconv>

namespace tertulia {

namespace {

bool HostCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-';
}

bool ValidPort(std::string_view text) {
    unsigned port = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    return !text.empty() && text.size() <= 5 && error == std::errc() &&
           end == text.data() + text.size() && port >= 1 && port <= 65535;
}

// A host name, IPv4 address or bracketed IPv6 address, with an optional ":port".
bool ValidAuthority(std::string_view authority) {
    if (authority.empty() || authority.size() > 255) return false;
    std::string_view host = authority;
    std::string_view port;
    bool hasPort = false;
    if (authority.front() == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos || close < 3) return false;
        for (const char c : authority.substr(1, close - 1)) {
            const bool ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') ||
                            (c >= 'A' && c <= 'F') || c == ':' || c == '.';
            if (!ok) return false;
        }
        const std::string_view rest = authority.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') return false;
            port = rest.substr(1);
            hasPort = true;
        }
        host = {};
    } else {
        const std::size_t colon = authority.find(':');
        if (colon != std::string_view::npos) {
            host = authority.substr(0, colon);
            port = authority.substr(colon + 1);
            hasPort = true;
        }
        if (host.empty() || host.front() == '.' || host.front() == '-') return false;
        for (const char c : host) {
            if (!HostCharacter(c)) return false;
        }
    }
    return !hasPort || ValidPort(port);
}

// The last of a header's comma-separated values, without blanks around it.
std::string_view LastValue(std::string_view header) {
    const std::size_t comma = header.rfind(',');
    if (comma != std::string_view::npos) header.remove_prefix(comma + 1);
    while (!header.empty() && (header.front() == ' ' || header.front() == '\t')) {
        header.remove_prefix(1);
    }
    while (!header.empty() && (header.back() == ' ' || header.back() == '\t')) {
        header.remove_suffix(1);
    }
    return header;
}

// The Host header the service has always accepted: letters, digits and ".-:[]".
bool UsableHost(const std::string& host) {
    if (host.empty() || host.size() > 255) return false;
    for (const char c : host) {
        if (!HostCharacter(c) && c != ':' && c != '[' && c != ']') return false;
    }
    return true;
}

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

}  // namespace

std::string RequestOrigin(const HttpRequest& request, const std::set<std::string>& trustedProxies,
                          const std::string& fallback) {
    const std::string host = request.Header("host");
    std::string scheme = "http";
    std::string authority = UsableHost(host) ? host : "";
    if (trustedProxies.contains(request.peer)) {
        const std::string proto = Lower(LastValue(request.Header("x-forwarded-proto")));
        if (proto == "http" || proto == "https") scheme = proto;
        const std::string forwardedHosts = request.Header("x-forwarded-host");
        const std::string_view forwardedHost = LastValue(forwardedHosts);
        if (ValidAuthority(forwardedHost)) authority = forwardedHost;
    }
    if (authority.empty()) return fallback;
    return scheme + "://" + authority;
}

std::optional<std::string> SiteOrigin(std::string_view text) {
    std::string origin = Lower(text);
    if (origin.ends_with('/')) origin.pop_back();
    std::string_view authority;
    if (origin.starts_with("https://")) {
        authority = std::string_view(origin).substr(8);
    } else if (origin.starts_with("http://")) {
        authority = std::string_view(origin).substr(7);
    } else {
        return std::nullopt;
    }
    if (!ValidAuthority(authority)) return std::nullopt;
    return origin;
}

}  // namespace tertulia
