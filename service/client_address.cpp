#include "service/client_address.h"

#include <arpa/inet.h>

#include <vector>

namespace tertulia {

namespace {

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

}  // namespace

std::optional<std::string> CanonicalAddress(std::string_view text) {
    if (text.empty() || text.size() >= INET6_ADDRSTRLEN) return std::nullopt;
    const std::string copy(text);
    char out[INET6_ADDRSTRLEN] = "";
    in_addr v4{};
    if (inet_pton(AF_INET, copy.c_str(), &v4) == 1) {
        inet_ntop(AF_INET, &v4, out, sizeof out);
        return std::string(out);
    }
    in6_addr v6{};
    if (inet_pton(AF_INET6, copy.c_str(), &v6) == 1) {
        if (IN6_IS_ADDR_V4MAPPED(&v6)) {
            inet_ntop(AF_INET, &v6.s6_addr[12], out, sizeof out);
        } else {
            inet_ntop(AF_INET6, &v6, out, sizeof out);
        }
        return std::string(out);
    }
    return std::nullopt;
}

std::string ClientAddress(const std::string& peer, std::string_view forwardedFor,
                          const std::set<std::string>& trustedProxies) {
    if (!trustedProxies.contains(peer)) return peer;
    std::vector<std::string_view> hops;
    while (!forwardedFor.empty()) {
        const std::size_t comma = forwardedFor.find(',');
        hops.push_back(Trimmed(forwardedFor.substr(0, comma)));
        forwardedFor = comma == std::string_view::npos ? "" : forwardedFor.substr(comma + 1);
    }
    for (auto hop = hops.rbegin(); hop != hops.rend(); ++hop) {
        const auto address = CanonicalAddress(*hop);
        if (!address) return peer;
        if (!trustedProxies.contains(*address)) return *address;
    }
    return peer;
}

std::string NetworkKey(const std::string& address) {
    in_addr v4{};
    if (inet_pton(AF_INET, address.c_str(), &v4) == 1) {
        const auto bytes = reinterpret_cast<unsigned char*>(&v4.s_addr);
        return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." +
               std::to_string(bytes[2]) + ".0/24";
    }
    in6_addr v6{};
    if (inet_pton(AF_INET6, address.c_str(), &v6) != 1) return address;
    std::fill(v6.s6_addr + 6, v6.s6_addr + 16, 0);
    char out[INET6_ADDRSTRLEN] = "";
    inet_ntop(AF_INET6, &v6, out, sizeof out);
    return std::string(out) + "/48";
}

std::string LimitKey(const std::string& address) {
    in6_addr v6{};
    if (address.find(':') == std::string::npos || inet_pton(AF_INET6, address.c_str(), &v6) != 1) {
        return address;
    }
    std::fill(v6.s6_addr + 8, v6.s6_addr + 16, 0);
    char out[INET6_ADDRSTRLEN] = "";
    inet_ntop(AF_INET6, &v6, out, sizeof out);
    return std::string(out) + "/64";
}

}  // namespace tertulia
