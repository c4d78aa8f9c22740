#include "http/url_parts.h"

#include <gtest/gtest.h>

#include "http/http_errors.h"
#include "http/request_head.h"

namespace tertulia {
namespace {

struct SplitRow {
    const char* proves;
    const char* url;
    UrlParts expected;
};

void PrintTo(const SplitRow& row, std::ostream* os) {
    *os << row.proves;
}

class SplitUrlTest : public testing::TestWithParam<SplitRow> {};

TEST_P(SplitUrlTest, Splits) {
    EXPECT_EQ(SplitUrl(GetParam().url), GetParam().expected);
}

const SplitRow kSplitRows[] = {
    {"default port of http",
     "http://example.test/a/b?x=1",
     {"http", "example.test", "80", "/a/b?x=1"}},
    {"port as written", "http://h:8080/", {"http", "h", "8080", "/"}},
    {"no path gives slash", "http://h:81", {"http", "h", "81", "/"}},
    {"scheme in any case", "HtTp://h/", {"HtTp", "h", "80", "/"}},
    {"backslashes become slashes, query included",
     "http:\\\\h\\p\\q?a=b\\c",
     {"http", "h", "80", "/p/q?a=b/c"}},
    {"percent sequences untouched",
     "http://h/t.php?c=%25%41",
     {"http", "h", "80", "/t.php?c=%25%41"}},
    {"blanks and high bytes untouched",
     "http://h/t?c=a b&n=\xf1",
     {"http", "h", "80", "/t?c=a b&n=\xf1"}},
    {"hash in query cuts the query", "http://h/t?a=1#x&b=2", {"http", "h", "80", "/t?a=1"}},
    {"hash in last segment dropped, query whole",
     "http://h/d/t#frag?a=1#2",
     {"http", "h", "80", "/d/t?a=1#2"}},
    {"hash in an earlier segment stays", "http://h/a#b/c?x=1", {"http", "h", "80", "/a#b/c?x=1"}},
    {"hash without query dropped", "http://h/d/t#frag", {"http", "h", "80", "/d/t"}},
};

INSTANTIATE_TEST_SUITE_P(Rows, SplitUrlTest, testing::ValuesIn(kSplitRows));

struct RefusedRow {
    const char* proves;
    std::string url;
    const char* message;
};

TEST(SplitUrlTest, RefusesBeforeSending) {
    const RefusedRow rows[] = {
        {"https is not supported", "https://h/", kIOHandlerNotValid},
        {"https in any case", "HTTPS://h/", kIOHandlerNotValid},
        {"CR LF cannot inject a header", "http://h/?a=1\r\nX-Evil: 1", kUrlHasControlCharacter},
        {"NUL", std::string("http://h/?a=\0", 13), kUrlHasControlCharacter},
        {"tab", "http://h/?a=\t", kUrlHasControlCharacter},
        {"DEL", "http://h/?a=\x7f", kUrlHasControlCharacter},
        {"other schemes", "ftp://h/", "Unsupported URL scheme \"ftp\"."},
    };
    for (const auto& row : rows) {
        try {
            SplitUrl(row.url);
            ADD_FAILURE() << row.proves;
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), row.message) << row.proves;
        }
    }
}

TEST(SplitUrlTest, HttpsWithASecureTransport) {
    EXPECT_EQ(SplitUrl("HTTPS://h/a?b", true), (UrlParts{"HTTPS", "h", "443", "/a?b"}));
    EXPECT_EQ(SplitUrl("https://h:8443", true), (UrlParts{"https", "h", "8443", "/"}));
    EXPECT_EQ(SplitUrl("http://h/", true), (UrlParts{"http", "h", "80", "/"}));
}

TEST(RequestHeadTest, HostNamesThePortUnlessItIsTheSchemesOwn) {
    const struct {
        const char* url;
        const char* hostLine;
    } rows[] = {
        {"http://h/", "Host: h\r\n"},        {"http://h:443/", "Host: h:443\r\n"},
        {"https://h/", "Host: h\r\n"},       {"https://h:443/", "Host: h\r\n"},
        {"https://h:80/", "Host: h:80\r\n"}, {"https://h:8443/", "Host: h:8443\r\n"},
    };
    for (const auto& row : rows) {
        EXPECT_NE(BuildRequestHead(SplitUrl(row.url, true), "").find(row.hostLine),
                  std::string::npos)
            << row.url;
    }
}

TEST(RequestPathTest, EndsAtLastSlashBeforeQuery) {
    EXPECT_EQ(RequestPath("/tertulia.php?a=b/c"), "/");
    EXPECT_EQ(RequestPath("/x/y/z"), "/x/y/");
    EXPECT_EQ(RequestPath("/x/"), "/x/");
}

}  // namespace
}  // namespace tertulia
