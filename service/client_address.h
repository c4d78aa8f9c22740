#pragma once

#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace tertulia {

// The usual text of an IPv4 or IPv6 address ("192.0.2.1", "2001:db8::1"; an IPv4-mapped IPv6
// address as its IPv4 form); nothing when the text is no address.
std::optional<std::string> CanonicalAddress(std::string_view text);

// The address of the client behind a request. It is the connection's address, except when
// the connection comes from a trusted proxy: then it is the last address of X-Forwarded-For
// that is not itself a trusted proxy (the proxy appends the address it saw; what a client
// wrote before it is not believed). A header that is absent or malformed leaves the proxy's.
std::string ClientAddress(const std::string& peer, std::string_view forwardedFor,
                          const std::set<std::string>& trustedProxies);

// What the limits count by: an IPv4 address, or the /64 network of an IPv6 address, since one
// IPv6 client usually holds a whole /64.
std::string LimitKey(const std::string& address);

// The network an address belongs to, for limits that one owner of many addresses must not get
// around: an IPv4 address's /24, an IPv6 address's /48.
std::string NetworkKey(const std::string& address);

}  // namespace tertulia
