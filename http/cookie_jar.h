#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace tertulia {

struct Cookie {
    std::string name;
    std::string value;
    std::string path;
    std::string domain;   // lower case, without a leading "."
    std::string expires;  // an HTTP date, or empty for a cookie that lasts the run
    bool secure = false;
    std::int32_t maxAge = -1;
    bool hostOnly = false;  // set without a Domain attribute: goes back to that host only
    std::vector<std::pair<std::string, std::string>> otherAttributes;
};

// The client's cookies, in memory for the run: domain entries in the order each domain was
// first stored, cookies in each entry unique by name. Domains match as RFC 6265 says: a
// cookie goes to its domain and its subdomains only.
class CookieJar {
  public:
    struct DomainEntry {
        std::string domain;
        std::vector<Cookie> cookies;
    };

    // `now` gives the current time in seconds since 1970-01-01 UTC.
    explicit CookieJar(std::function<std::int64_t()> now);

    void SetClock(std::function<std::int64_t()> now) { now_ = std::move(now); }

    // Stores the cookies of a reply's "Set-cookie" (or "Set-cookie2") values; one whose
    // domain does not cover the server host is dropped, and so is one beyond the jar's
    // bounds (4096 bytes a cookie, 50 cookies a domain, 3000 in all).
    void Store(const std::vector<std::string>& setCookieValues, const std::string& serverHost);

    // Value of the "Cookie" header for a request; empty when no cookie matches. Expired
    // cookies are removed first. A "secure" cookie goes only over a secure connection.
    std::string CookieHeader(const std::string& host, const std::string& target,
                             bool secureConnection = false);

    const std::vector<DomainEntry>& Entries() const { return entries_; }

  private:
    void StoreOne(const std::string& setCookie, const std::string& serverHost);
    std::size_t CookieCount() const;
    void RemoveExpired();

    std::function<std::int64_t()> now_;
    std::vector<DomainEntry> entries_;
};

// RFC 6265 domain match: the host is the domain, or a name ending in "." and the domain.
bool DomainMatches(const std::string& host, const std::string& domain);

}  // namespace tertulia
