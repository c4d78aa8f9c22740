#include "http/ascii_text.h"

#include <limits>

namespace tertulia {

namespace {

char LowerByte(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
char UpperByte(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerByte(a[i]) != LowerByte(b[i])) return false;
    return true;
}

std::string UpperCase(std::string_view text) {
    std::string result(text);
    for (char& c : result) c = UpperByte(c);
    return result;
}

std::string LowerCase(std::string_view text) {
    std::string result(text);
    for (char& c : result) c = LowerByte(c);
    return result;
}

bool IsDottedIPv4(std::string_view host) {
    int parts = 0;
    while (true) {
        std::size_t digits = 0;
        int value = 0;
        while (digits < host.size() && host[digits] >= '0' && host[digits] <= '9') {
            value = value * 10 + (host[digits] - '0');
            if (value > 255) return false;
            ++digits;
        }
        if (digits == 0) return false;
        ++parts;
        host.remove_prefix(digits);
        if (host.empty()) return parts == 4;
        if (host.front() != '.' || parts == 4) return false;
        host.remove_prefix(1);
    }
}

std::optional<std::int32_t> ParseDecimalInt32(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    const std::int64_t limit = negative ? std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1
                                        : std::numeric_limits<std::int32_t>::max();
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > limit) return std::nullopt;
    }
    return static_cast<std::int32_t>(negative ? -value : value);
}

std::optional<std::int32_t> ParseHexInt32(std::string_view text) {
    if (text.empty()) return std::nullopt;
    std::int64_t value = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return std::nullopt;
        value = value * 16 + digit;
        if (value > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
}

}  // namespace tertulia
