#include "http/cookie_jar.h"

#include <algorithm>
#include <string_view>

#include "http/ascii_text.h"
#include "http/http_date.h"
#include "http/url_parts.h"

namespace tertulia {

namespace {

// Bounds within which a hostile server can grow the jar, at the least sizes RFC 6265 asks a
// jar to hold; a cookie beyond them is dropped.
constexpr std::size_t kMaxCookieBytes = 4096;
constexpr std::size_t kMaxCookiesPerDomain = 50;
constexpr std::size_t kMaxCookies = 3000;

std::vector<std::string_view> SplitParts(std::string_view text) {
    std::vector<std::string_view> parts;
    for (;;) {
        const std::size_t semicolon = text.find(';');
        parts.push_back(TrimBlanks(text.substr(0, semicolon)));
        if (semicolon == std::string_view::npos) return parts;
        text.remove_prefix(semicolon + 1);
    }
}

// A control character could end the "Cookie" header line early when the cookie is sent.
bool HasControlCharacter(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto code = static_cast<unsigned char>(c);
        return code < 32 || code == 127;
    });
}

std::string CookiePath(std::string_view path) {
    if (!path.empty() && path.front() == '"') path.remove_prefix(1);
    if (!path.empty() && path.back() == '"') path.remove_suffix(1);
    return path.empty() ? std::string("/") : std::string(path);
}

}  // namespace

bool DomainMatches(const std::string& host, const std::string& domain) {
    if (host == domain) return true;
    if (domain.empty() || IsDottedIPv4(host) || host.size() <= domain.size()) return false;
    return host.compare(host.size() - domain.size(), domain.size(), domain) == 0 &&
           host[host.size() - domain.size() - 1] == '.';
}

CookieJar::CookieJar(std::function<std::int64_t()> now) : now_(std::move(now)) {}

void CookieJar::Store(const std::vector<std::string>& setCookieValues,
                      const std::string& serverHost) {
    for (const auto& value : setCookieValues) StoreOne(value, serverHost);
}

void CookieJar::StoreOne(const std::string& setCookie, const std::string& serverHost) {
    if (setCookie.size() > kMaxCookieBytes) return;
    const std::vector<std::string_view> parts = SplitParts(setCookie);
    Cookie cookie;
    const std::size_t equals = parts.front().find('=');
    cookie.name = parts.front().substr(0, equals);
    if (equals != std::string_view::npos) cookie.value = parts.front().substr(equals + 1);

    bool hasPath = false, hasExpires = false, hasDomain = false;
    std::string domainAttribute;
    for (std::size_t i = 1; i < parts.size(); ++i) {
        const std::size_t attributeEquals = parts[i].find('=');
        if (attributeEquals == std::string_view::npos) {
            if (UpperCase(parts[i]) == "SECURE")
                cookie.secure = true;
            else
                cookie.otherAttributes.emplace_back(UpperCase(parts[i]), std::string());
            continue;
        }
        const std::string name = UpperCase(TrimBlanks(parts[i].substr(0, attributeEquals)));
        const std::string_view value = TrimBlanks(parts[i].substr(attributeEquals + 1));
        if (name == "PATH") {
            hasPath = true;
            cookie.path = CookiePath(value);
        } else if (name == "EXPIRES") {
            hasExpires = true;
            cookie.expires = value;
        } else if (name == "DOMAIN") {
            hasDomain = true;
            domainAttribute = value;
        } else if (name == "MAX-AGE") {
            cookie.maxAge = ParseDecimalInt32(value).value_or(-1);
        } else {
            cookie.otherAttributes.emplace_back(name, std::string(value));
        }
    }
    if (HasControlCharacter(cookie.name) || HasControlCharacter(cookie.value)) return;
    if (!hasPath) cookie.path = "/";
    if (!hasExpires && cookie.maxAge >= 0) cookie.expires = FormatHttpDate(now_() + cookie.maxAge);

    const std::string host = LowerCase(serverHost);
    if (hasDomain && !domainAttribute.empty()) {
        if (domainAttribute.front() == '.') domainAttribute.erase(0, 1);
        cookie.domain = LowerCase(domainAttribute);
        if (!DomainMatches(host, cookie.domain)) return;
    } else {
        cookie.domain = host;
        cookie.hostOnly = true;
    }

    auto entry = std::find_if(entries_.begin(), entries_.end(),
                              [&](const DomainEntry& e) { return e.domain == cookie.domain; });
    if (entry == entries_.end()) {
        entries_.push_back({cookie.domain, {}});
        entry = entries_.end() - 1;
    }
    auto same = std::find_if(entry->cookies.begin(), entry->cookies.end(),
                             [&](const Cookie& c) { return c.name == cookie.name; });
    if (same != entry->cookies.end())
        *same = std::move(cookie);
    else if (entry->cookies.size() < kMaxCookiesPerDomain && CookieCount() < kMaxCookies)
        entry->cookies.push_back(std::move(cookie));
}

std::size_t CookieJar::CookieCount() const {
    std::size_t count = 0;
    for (const auto& entry : entries_) count += entry.cookies.size();
    return count;
}

void CookieJar::RemoveExpired() {
    const std::int64_t now = now_();
    for (auto& entry : entries_) {
        std::erase_if(entry.cookies, [&](const Cookie& cookie) {
            if (cookie.expires.empty()) return false;
            const auto expiry = ParseHttpDate(cookie.expires);
            return expiry && *expiry <= now;
        });
    }
}

std::string CookieJar::CookieHeader(const std::string& requestHost, const std::string& target,
                                    bool secureConnection) {
    RemoveExpired();
    const std::string host = LowerCase(requestHost);
    const std::string path = RequestPath(target);
    std::vector<const Cookie*> taken;
    for (const auto& entry : entries_) {
        if (!DomainMatches(host, entry.domain)) continue;
        for (auto cookie = entry.cookies.rbegin(); cookie != entry.cookies.rend(); ++cookie) {
            if (cookie->hostOnly && host != cookie->domain) continue;
            if (path.compare(0, cookie->path.size(), cookie->path) != 0) continue;
            if (cookie->value.empty() || (cookie->secure && !secureConnection)) continue;
            taken.push_back(&*cookie);
        }
    }
    std::string header;
    for (auto cookie = taken.rbegin(); cookie != taken.rend(); ++cookie) {
        if (!header.empty()) header += "; ";
        header += (*cookie)->name + "=" + (*cookie)->value;
    }
    return header;
}

}  // namespace tertulia
