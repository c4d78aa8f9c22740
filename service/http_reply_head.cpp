#include "service/http_reply_head.h"

#include <microhttpd.h>

#include <array>
#include <cstdio>
#include <ctime>

namespace tertulia {

namespace {

// An HTTP date, in English whatever the locale.
std::string HttpDate(std::time_t now) {
    static constexpr std::array<const char*, 7> kDays = {"Sun", "Mon", "Tue", "Wed",
                                                         "Thu", "Fri", "Sat"};
    static constexpr std::array<const char*, 12> kMonths = {
        "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm utc{};
    gmtime_r(&now, &utc);
    std::array<char, 40> text{};
    std::snprintf(text.data(), text.size(), "%s, %02d %s %04d %02d:%02d:%02d GMT",
                  kDays[static_cast<std::size_t>(utc.tm_wday)], utc.tm_mday,
                  kMonths[static_cast<std::size_t>(utc.tm_mon)], utc.tm_year + 1900, utc.tm_hour,
                  utc.tm_min, utc.tm_sec);
    return text.data();
}

}  // namespace

std::string ReplyHead(int status, const std::vector<std::pair<std::string, std::string>>& headers,
                      bool chunked, bool closing) {
    std::string head = "HTTP/1.1 " + std::to_string(status) + " " +
                       MHD_get_reason_phrase_for(static_cast<unsigned>(status)) + "\r\n";
    head += "Date: " + HttpDate(std::time(nullptr)) + "\r\n";
    if (closing) head += "Connection: close\r\n";
    for (const auto& [name, value] : headers) head += name + ": " + value + "\r\n";
    if (chunked) head += "Transfer-Encoding: chunked\r\n";
    head += "\r\n";
    return head;
}

}  // namespace tertulia
