#include "http/cookie_jar.h"

#include <gtest/gtest.h>

#include "http/http_date.h"

namespace tertulia {
namespace {

constexpr std::int64_t kNow = 1700000000;  // Tue, 14 Nov 2023 22:13:20 GMT

struct JarRow {
    const char* proves;
    std::vector<std::string> setCookies;
    const char* serverHost;
    const char* requestHost;
    const char* target;
    const char* expected;
};

void PrintTo(const JarRow& row, std::ostream* os) {
    *os << row.proves;
}

class CookieJarTest : public testing::TestWithParam<JarRow> {};

TEST_P(CookieJarTest, SendsWhatMatches) {
    const JarRow& row = GetParam();
    CookieJar jar([] { return kNow; });
    jar.Store(row.setCookies, row.serverHost);
    EXPECT_EQ(jar.CookieHeader(row.requestHost, row.target), row.expected);
}

const JarRow kJarRows[] = {
    {"comes back to its host", {"a=1"}, "h.test", "h.test", "/t.php?x=1", "a=1"},
    {"host letter case does not matter", {"a=1"}, "H.Test", "h.TEST", "/", "a=1"},
    {"path limits it to targets under it", {"a=1; path=/x/"}, "h.test", "h.test", "/y/t", ""},
    {"path matches a target under it", {"a=1; path=/x/"}, "h.test", "h.test", "/x/y/t", "a=1"},
    {"quoted path", {"a=1; Path=\"/x/\""}, "h.test", "h.test", "/x/t", "a=1"},
    {"expiry in the past never sent",
     {"a=1; expires=Sun, 06 Nov 1994 08:49:37 GMT"},
     "h.test",
     "h.test",
     "/",
     ""},
    {"expiry in the future sent",
     {"a=1; expires=Fri, 01-Jan-2100 00:00:00 GMT"},
     "h.test",
     "h.test",
     "/",
     "a=1"},
    {"secure never sent", {"a=1; secure"}, "h.test", "h.test", "/", ""},
    {"empty value stored but not sent", {"a="}, "h.test", "h.test", "/", ""},
    {"same name replaces the value", {"a=1", "a=2"}, "h.test", "h.test", "/", "a=2"},
    {"cookies of one domain in the order stored",
     {"a=1", "b=2"},
     "h.test",
     "h.test",
     "/",
     "a=1; b=2"},
    {"domain naming another host dropped", {"a=1; domain=other.test"}, "h.test", "h.test", "/", ""},
    {"domain cookie goes to subdomains",
     {"a=1; domain=.h.test"},
     "w.h.test",
     "x.h.test",
     "/",
     "a=1"},
    {"domain cookie goes to the domain itself",
     {"a=1; domain=h.test"},
     "w.h.test",
     "h.test",
     "/",
     "a=1"},
    {"never to a host that merely contains the domain",
     {"a=1; domain=h.test"},
     "h.test",
     "evilh.test",
     "/",
     ""},
    {"never to a host that holds the domain inside",
     {"a=1"},
     "h.test",
     "h.test.evil.test",
     "/",
     ""},
    {"host-only cookie not sent to subdomains", {"a=1"}, "h.test", "w.h.test", "/", ""},
    {"later domains first, each in stored order",
     {"a=1; domain=h.test", "b=2", "c=3; domain=h.test"},
     "w.h.test",
     "w.h.test",
     "/",
     "b=2; a=1; c=3"},
    {"IPv4 host needs the exact address", {"a=1; domain=0.0.1"}, "10.0.0.1", "10.0.0.1", "/", ""},
    {"IPv4 host without domain", {"a=1"}, "10.0.0.1", "10.0.0.1", "/", "a=1"},
    {"max-age in the future", {"a=1; max-age=60"}, "h.test", "h.test", "/", "a=1"},
    {"max-age 0 removes at once", {"a=1; max-age=0"}, "h.test", "h.test", "/", ""},
    {"expires wins over max-age",
     {"a=1; expires=Sun, 06 Nov 1994 08:49:37 GMT; max-age=60"},
     "h.test",
     "h.test",
     "/",
     ""},
    {"control character in the value dropped", {"a=1\rX: y"}, "h.test", "h.test", "/", ""},
    {"cookie over 4096 bytes dropped",
     {"a=1", "a=" + std::string(4095, 'v')},
     "h.test",
     "h.test",
     "/",
     "a=1"},
};

INSTANTIATE_TEST_SUITE_P(Rows, CookieJarTest, testing::ValuesIn(kJarRows));

TEST(CookieJarClockTest, MaxAgeExpiresAgainstTheClock) {
    std::int64_t now = kNow;
    CookieJar jar([&] { return now; });
    jar.Store({"a=1; max-age=60"}, "h.test");
    EXPECT_EQ(jar.Entries().at(0).cookies.at(0).expires, "Tue, 14 Nov 2023 22:14:20 GMT");
    now += 59;
    EXPECT_EQ(jar.CookieHeader("h.test", "/"), "a=1");
    now += 1;
    EXPECT_EQ(jar.CookieHeader("h.test", "/"), "");
    EXPECT_TRUE(jar.Entries().at(0).cookies.empty());
}

TEST(CookieJarBoundsTest, DropsNewNamesBeyondTheBounds) {
    CookieJar jar([] { return kNow; });
    for (int host = 0; host < 60; ++host) {
        std::vector<std::string> values;
        for (int i = 0; i <= 50; ++i) values.push_back("c" + std::to_string(i) + "=v");
        jar.Store(values, "h" + std::to_string(host) + ".test");
        ASSERT_EQ(jar.Entries().back().cookies.size(), 50u) << "50 a domain";
    }
    jar.Store({"c0=new", "late=1"}, "h60.test");
    EXPECT_EQ(jar.CookieHeader("h60.test", "/"), "") << "3000 in all";
    jar.Store({"c0=new"}, "h0.test");
    EXPECT_EQ(jar.Entries().front().cookies.front().value, "new") << "a replacement still fits";
}

struct DateRow {
    const char* proves;
    const char* text;
    std::optional<std::int64_t> expected;
};

TEST(HttpDateTest, ReadsTheUsualForms) {
    const DateRow rows[] = {
        {"RFC 1123", "Sun, 06 Nov 1994 08:49:37 GMT", 784111777},
        {"RFC 850", "Sunday, 06-Nov-94 08:49:37 GMT", 784111777},
        {"asctime", "Sun Nov  6 08:49:37 1994", 784111777},
        {"cookie form with four-digit year", "Sun, 06-Nov-1994 08:49:37 GMT", 784111777},
        {"two-digit year below 70 is 20xx", "Thu, 01-Jan-37 00:00:00 GMT", 2114380800},
        {"leap day", "Thu, 29 Feb 2024 12:00:00 GMT", 1709208000},
        {"no such day", "Thu, 30 Feb 2024 12:00:00 GMT", std::nullopt},
        {"hour out of range", "Sun, 06 Nov 1994 24:00:00 GMT", std::nullopt},
        {"no time", "Sun, 06 Nov 1994", std::nullopt},
        {"not a date", "tomorrow", std::nullopt},
        {"empty", "", std::nullopt},
    };
    for (const auto& row : rows) EXPECT_EQ(ParseHttpDate(row.text), row.expected) << row.proves;
}

TEST(HttpDateTest, FormatsAndReadsBack) {
    EXPECT_EQ(FormatHttpDate(784111777), "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(FormatHttpDate(0), "Thu, 01 Jan 1970 00:00:00 GMT");
    for (std::int64_t t : {0LL, 951782400LL, 1709208000LL, 4102444799LL})
        EXPECT_EQ(ParseHttpDate(FormatHttpDate(t)), t);
}

}  // namespace
}  // namespace tertulia
