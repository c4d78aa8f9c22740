#include "service/http_request_checks.h"

#include <string>

namespace tertulia {

namespace {

constexpr int kBadRequest = 400;
constexpr int kLengthRequired = 411;
constexpr int kContentTooLarge = 413;

}  // namespace

std::string HttpRequest::Header(std::string_view lowerName) const {
    std::string value;
    for (const auto& [name, text] : headers) {
        if (name != lowerName) continue;
        if (!value.empty()) value += ", ";
        value += text;
    }
    return value;
}

std::string LowerCase(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

bool ValidHeaderName(std::string_view name) {
    if (name.empty()) return false;
    for (const char c : name) {
        const bool token = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                           std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
        if (!token) return false;
    }
    for (const std::string_view framing : {"content-length", "transfer-encoding"}) {
        if (name.size() > framing.size() && name.starts_with(framing)) return false;
    }
    return true;
}

int FramingRefusal(const HttpRequest& request, std::size_t limit) {
    std::size_t lengths = 0;
    bool chunked = false;
    for (const auto& [name, value] : request.headers) {
        if (!ValidHeaderName(name)) return kBadRequest;
        if (name == "content-length") ++lengths;
        if (name == "transfer-encoding") chunked = true;
    }
    // Two readings of where the body ends are how requests get smuggled past a proxy.
    if (lengths > 1 || (lengths == 1 && chunked)) return kBadRequest;
    if (chunked) return kLengthRequired;
    if (lengths == 1) {
        const std::string text = request.Header("content-length");
        if (text.empty() || text.size() > 18 ||
            text.find_first_not_of("0123456789") != std::string::npos) {
            return kBadRequest;
        }
        if (std::stoull(text) > limit) return kContentTooLarge;
    }
    return 0;
}

bool ConnectionCloses(std::string_view value) {
    const std::string lower = LowerCase(value);
    std::string_view rest = lower;
    while (!rest.empty()) {
        const std::size_t comma = rest.find(',');
        std::string_view token = rest.substr(0, comma);
        while (!token.empty() && (token.front() == ' ' || token.front() == '\t')) {
            token.remove_prefix(1);
        }
        while (!token.empty() && (token.back() == ' ' || token.back() == '\t')) {
            token.remove_suffix(1);
        }
        if (token == "close") return true;
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
    }
    return false;
}

}  // namespace tertulia
