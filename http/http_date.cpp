#include "http/http_date.h"

#include <array>
#include <cstdio>
#include <vector>

#include "http/ascii_text.h"

namespace tertulia {

namespace {

constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::array<const char*, 7> kWeekdays = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};

bool IsDelimiter(unsigned char c) {
    return c == 0x09 || (c >= 0x20 && c <= 0x2F) || (c >= 0x3B && c <= 0x40) ||
           (c >= 0x5B && c <= 0x60) || (c >= 0x7B && c <= 0x7E);
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads 1 to `maxDigits` digits (at least `minDigits`) at the start of `token`; the digits
// must be followed by a non-digit or the end.
std::optional<int> LeadingNumber(std::string_view& token, std::size_t minDigits,
                                 std::size_t maxDigits) {
    std::size_t digits = 0;
    int value = 0;
    while (digits < token.size() && IsDigit(token[digits])) {
        if (++digits > maxDigits) return std::nullopt;
        value = value * 10 + (token[digits - 1] - '0');
    }
    if (digits < minDigits) return std::nullopt;
    token.remove_prefix(digits);
    return value;
}

struct TimeOfDay {
    int hour, minute, second;
};

std::optional<TimeOfDay> ParseTime(std::string_view token) {
    TimeOfDay time{};
    auto hour = LeadingNumber(token, 1, 2);
    if (!hour || token.empty() || token.front() != ':') return std::nullopt;
    token.remove_prefix(1);
    auto minute = LeadingNumber(token, 1, 2);
    if (!minute || token.empty() || token.front() != ':') return std::nullopt;
    token.remove_prefix(1);
    auto second = LeadingNumber(token, 1, 2);
    if (!second) return std::nullopt;
    time = {*hour, *minute, *second};
    return time;
}

std::optional<int> ParseMonth(std::string_view token) {
    if (token.size() < 3) return std::nullopt;
    for (std::size_t i = 0; i < kMonths.size(); ++i)
        if (EqualsIgnoringCase(token.substr(0, 3), kMonths[i])) return static_cast<int>(i) + 1;
    return std::nullopt;
}

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : days[month - 1];
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t year, int month, int day) {
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t yearOfEra = year - era * 400;
    const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

void CivilFromDays(std::int64_t days, std::int64_t& year, int& month, int& day) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    year = yearOfEra + era * 400 + (month <= 2);
}

}  // namespace

std::optional<std::int64_t> ParseHttpDate(std::string_view text) {
    std::optional<TimeOfDay> time;
    std::optional<int> dayOfMonth, month, year;
    std::size_t position = 0;
    while (position < text.size()) {
        while (position < text.size() && IsDelimiter(static_cast<unsigned char>(text[position])))
            ++position;
        std::size_t end = position;
        while (end < text.size() && !IsDelimiter(static_cast<unsigned char>(text[end]))) ++end;
        const std::string_view token = text.substr(position, end - position);
        position = end;
        if (token.empty()) continue;
        if (!time && (time = ParseTime(token))) continue;
        std::string_view rest = token;
        if (!dayOfMonth && (dayOfMonth = LeadingNumber(rest, 1, 2))) continue;
        if (!month && (month = ParseMonth(token))) continue;
        rest = token;
        if (!year) year = LeadingNumber(rest, 2, 4);
    }
    if (!time || !dayOfMonth || !month || !year) return std::nullopt;
    int fullYear = *year;
    if (fullYear >= 70 && fullYear <= 99) fullYear += 1900;
    if (fullYear >= 0 && fullYear <= 69) fullYear += 2000;
    if (fullYear < 1601 || *dayOfMonth < 1 || *dayOfMonth > DaysInMonth(fullYear, *month) ||
        time->hour > 23 || time->minute > 59 || time->second > 59)
        return std::nullopt;
    return DaysFromCivil(fullYear, *month, *dayOfMonth) * 86400 + time->hour * 3600 +
           time->minute * 60 + time->second;
}

std::string FormatHttpDate(std::int64_t secondsSinceEpoch) {
    std::int64_t days = secondsSinceEpoch / 86400;
    std::int64_t seconds = secondsSinceEpoch % 86400;
    if (seconds < 0) {
        seconds += 86400;
        --days;
    }
    std::int64_t year;
    int month, day;
    CivilFromDays(days, year, month, day);
    const auto weekday = static_cast<std::size_t>(((days % 7) + 7) % 7);
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04lld %02d:%02d:%02d GMT", kWeekdays[weekday],
                  day, kMonths[static_cast<std::size_t>(month - 1)], static_cast<long long>(year),
                  static_cast<int>(seconds / 3600), static_cast<int>(seconds / 60 % 60),
                  static_cast<int>(seconds % 60));
    return text;
}

}  // namespace tertulia
