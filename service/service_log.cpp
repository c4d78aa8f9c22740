#include "service/service_log.h"

#include <time.h>

#include <cstdio>
#include <mutex>
#include <string>

namespace tertulia {

namespace {

// The length of the UTF-8 sequence at `at` of a character that a terminal shows as it is; 0 for
// a control character (C0, DEL, C1) or a byte that is not valid UTF-8 there.
std::size_t PrintableSequence(std::string_view text, std::size_t at) {
    const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char first = byte(at);
    if (first >= 0x20 && first < 0x7F) return 1;
    std::size_t length = 0;
    char32_t code = 0;
    if (first >= 0xC2 && first <= 0xDF) {
        length = 2;
        code = first & 0x1F;
    } else if (first >= 0xE0 && first <= 0xEF) {
        length = 3;
        code = first & 0x0F;
    } else if (first >= 0xF0 && first <= 0xF4) {
        length = 4;
        code = first & 0x07;
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(at + i) & 0x3F);
    }
    const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    const bool c1 = code >= 0x80 && code <= 0x9F;
    if (overlong || surrogate || c1 || code > 0x10FFFF) return 0;
    return length;
}

}  // namespace

std::string EscapedForLog(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string escaped;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = PrintableSequence(text, at);
        if (length > 0 && text[at] != '\\') {
            escaped.append(text.substr(at, length));
            at += length;
            continue;
        }
        const auto c = static_cast<unsigned char>(text[at++]);
        escaped +=
            c == '\\' ? std::string("\\\\") : std::string{'\\', 'x', kHex[c >> 4], kHex[c & 0xF]};
    }
    return escaped;
}

void LogLine(LogPriority priority, std::string_view text) {
    static std::mutex mutex;
    const time_t now = time(nullptr);
    tm utc{};
    gmtime_r(&now, &utc);
    char stamp[32];
    strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
    std::string line =
        "<" + std::to_string(static_cast<int>(priority)) + ">" + stamp + " tertulia-service: ";
    line += EscapedForLog(text);
    line += '\n';
    std::lock_guard lock(mutex);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

void LogInternalError(std::string_view route, std::string_view cause) {
    LogLine(LogPriority::Error,
            "error interno en " + std::string(route) + ": " + std::string(cause));
}

}  // namespace tertulia
