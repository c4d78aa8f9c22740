#include "http/http_client.h"

#include <gtest/gtest.h>
#include <netdb.h>

#include <cerrno>

#include "http/http_errors.h"
#include "tests/http/failure_of.h"
#include "tests/http/progress_log.h"
#include "tests/http/script_server.h"

namespace tertulia {
namespace {

using namespace std::chrono_literals;
using test::Close;
using test::Pause;
using test::ReadRequest;
using test::Reply;
using test::ScriptServer;
using test::Send;
using Events = std::vector<std::string>;

constexpr const char* kOk = "HTTP/1.1 200 OK";

// A client with short waits, so that a test that goes wrong ends quickly.
struct Fixture {
    ScriptServer server;
    HttpClient client;
    test::ProgressLog progress;

    Fixture() {
        client.SetConnectTimeout(5s);
        client.SetReadTimeout(5s);
        progress.Attach(client);
    }

    // The message of the failure that GetText throws.
    std::string FailureOf(const std::string& target) {
        return test::FailureOf(client, server.Url(target));
    }
};

TEST(HttpRequestHeadTest, SendsTheFixedHeadersInOneHead) {
    Fixture f;
    f.server.AddConnection({ReadRequest(), Send(Reply(kOk, {"Content-Length: 2"}, "OK"))});
    EXPECT_EQ(f.client.GetText(f.server.Url(
                  "/tertulia.php?accion=do_login&idempresa=ACME&contrasena=900150983CD24FB0")),
              "OK");
    const auto requests = f.server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].bytes,
              "GET /tertulia.php?accion=do_login&idempresa=ACME&contrasena=900150983CD24FB0 "
              "HTTP/1.1\r\n"
              "Host: 127.0.0.1:" +
                  std::to_string(f.server.Port()) +
                  "\r\n"
                  "Accept: text/html, */*\r\n"
                  "Accept-Encoding: identity\r\n"
                  "User-Agent: Mozilla/3.0 (compatible; Tertulia)\r\n"
                  "\r\n");
}

TEST(HttpRequestHeadTest, SendsTheTargetAsWritten) {
    struct Row {
        const char* proves;
        std::string target;
        std::string requestLine;
    };
    const Row rows[] = {
        {"%25 stays %25", "/t.php?c=%25", "GET /t.php?c=%25 HTTP/1.1"},
        {"a blank goes out as a blank", "/t.php?c=A B&x=1", "GET /t.php?c=A B&x=1 HTTP/1.1"},
        {"a backslash goes out as a slash", "/t.php?c=A\\B", "GET /t.php?c=A/B HTTP/1.1"},
        {"a hash cuts the parameters after it", "/t.php?c=A#B&x=1", "GET /t.php?c=A HTTP/1.1"},
        {"byte 241 goes out unchanged", "/t.php?n=\xf1", "GET /t.php?n=\xf1 HTTP/1.1"},
    };
    for (const auto& row : rows) {
        Fixture f;
        f.server.AddConnection({ReadRequest(), Send(Reply(kOk, {"Content-Length: 0"}))});
        f.client.GetText(f.server.Url(row.target));
        const auto requests = f.server.Requests();
        ASSERT_EQ(requests.size(), 1u) << row.proves;
        EXPECT_EQ(requests[0].bytes.substr(0, requests[0].bytes.find("\r\n")), row.requestLine)
            << row.proves;
    }
}

TEST(HttpRequestHeadTest, RefusedUrlOpensNoConnection) {
    Fixture f;
    EXPECT_EQ(f.FailureOf("/t.php?c=A\r\nX-Injected: 1"), kUrlHasControlCharacter);
    EXPECT_EQ(f.server.ConnectionsAccepted(), 0);
}

struct BodyRow {
    const char* proves;
    std::vector<test::ServerStep> script;
    std::string expected;
};

TEST(HttpBodyTest, ReadsEveryBodyForm) {
    const std::string fifteen = "hello0123456789";
    const BodyRow rows[] = {
        {"content length",
         {ReadRequest(), Send(Reply(kOk, {"Content-Length: 5"}, "hello"))},
         "hello"},
        {"content length 0 does not wait for data",
         {ReadRequest(), Send(Reply(kOk, {"Content-Length: 0"}))},
         ""},
        {"no content length: read until close",
         {ReadRequest(), Send(Reply(kOk, {}, "abc")), Pause(50ms), Send("def"), Close()},
         "abcdef"},
        {"chunked, sizes in hexadecimal",
         {ReadRequest(), Send(Reply(kOk, {"Transfer-Encoding: chunked"},
                                    "5\r\nhello\r\nA\r\n0123456789\r\n0\r\n\r\n"))},
         fifteen},
        {"chunk size up to its first blank",
         {ReadRequest(),
          Send(Reply(kOk, {"Transfer-Encoding: gzip, chunked"}, "5 ext\r\nhello\r\n0\r\n\r\n"))},
         "hello"},
        {"chunked split over many sends",
         {ReadRequest(), Send(Reply(kOk, {"Transfer-Encoding: chunked"}, "5\r\nhe")), Pause(30ms),
          Send("llo\r"), Pause(30ms), Send("\n0\r\n"), Pause(30ms), Send("\r\n")},
         "hello"},
        {"Chunked with a capital letter is read until close",
         {ReadRequest(), Send(Reply(kOk, {"Transfer-Encoding: Chunked"}, "5\r\nhello\r\n")),
          Close()},
         "5\r\nhello\r\n"},
        {"content length wins over chunked",
         {ReadRequest(),
          Send(Reply(kOk, {"Transfer-Encoding: chunked", "Content-Length: 3"}, "abc"))},
         "abc"},
        {"204 reads no body", {ReadRequest(), Send(Reply("HTTP/1.1 204 No Content", {}))}, ""},
        {"100 Continue, then the real reply",
         {ReadRequest(), Send(Reply("HTTP/1.1 100 Continue", {"X-A: 1"})), Pause(20ms),
          Send(Reply(kOk, {"Content-Length: 2"}, "ok"))},
         "ok"},
        {"first header of a name wins",
         {ReadRequest(), Send(Reply(kOk, {"content-length: 2", "Content-Length: 4"}, "abcd"))},
         "ab"},
        {"continuation line joins the header above",
         {ReadRequest(), Send(Reply(kOk, {"Content-Length:", "\t 3"}, "abcdef"))},
         "abc"},
        {"bare LF line ends",
         {ReadRequest(), Send("HTTP/1.1 200 OK\nContent-Length: 3\n\nxyz")},
         "xyz"},
        {"peer closes among the header lines: head ends, body empty",
         {ReadRequest(), Send("HTTP/1.1 200 OK\r\nX-A: 1\r\n"), Close()},
         ""},
        {"unfinished header line at the close is dropped, not taken as body",
         {ReadRequest(), Send("HTTP/1.1 200 OK\r\nX-A: 1\r\nContent-Le"), Close()},
         ""},
        {"bytes above 127 stay single bytes",
         {ReadRequest(), Send(Reply(kOk, {"Content-Length: 3"}, "a\xf1\x80"))},
         "a\xf1\x80"},
        {"status line of exactly 16384 bytes before its LF",
         {ReadRequest(),
          Send("HTTP/1.1 200 " + std::string(16384 - 14, 'K') + "\r\nContent-Length: 1\r\n\r\nk")},
         "k"},
    };
    for (const auto& row : rows) {
        Fixture f;
        f.server.AddConnection(row.script);
        try {
            EXPECT_EQ(f.client.GetText(f.server.Url()), row.expected) << row.proves;
        } catch (const std::exception& failure) {
            ADD_FAILURE() << row.proves << ": " << failure.what();
        }
    }
}

struct FailureRow {
    const char* proves;
    std::vector<test::ServerStep> script;
    std::string message;
};

TEST(HttpFailureTest, CarriesTheMessageOfTheTables) {
    const FailureRow rows[] = {
        {"failed status",
         {ReadRequest(), Send(Reply("HTTP/1.1 404 Not Found", {"Content-Length: 0"}))},
         "HTTP/1.1 404 Not Found"},
        {"server error",
         {ReadRequest(), Send(Reply("HTTP/1.1 500 Internal Server Error", {}, "x")), Close()},
         "HTTP/1.1 500 Internal Server Error"},
        {"success with a Location is a redirect",
         {ReadRequest(), Send(Reply(kOk, {"Location: /x", "Content-Length: 2"}, "ok"))},
         "HTTP/1.1 200 OK"},
        {"302 is not followed",
         {ReadRequest(), Send(Reply("HTTP/1.1 302 Found", {"Location: /x", "Content-Length: 0"}))},
         "HTTP/1.1 302 Found"},
        {"304",
         {ReadRequest(), Send(Reply("HTTP/1.1 304 Not Modified", {"Content-Length: 0"}))},
         "HTTP/1.1 304 Not Modified"},
        {"401 has no credentials to offer",
         {ReadRequest(), Send(Reply("HTTP/1.1 401 Unauthorized", {"Content-Length: 0"}))},
         "HTTP/1.1 401 Unauthorized"},
        {"status line without a number",
         {ReadRequest(), Send(Reply("HTTP/1.1 OK", {"Content-Length: 0"}))},
         "HTTP/1.1 OK"},
        {"other 1xx",
         {ReadRequest(), Send(Reply("HTTP/1.1 101 Switching", {"Content-Length: 0"}))},
         "HTTP/1.1 101 Switching"},
        {"closed before any byte", {ReadRequest(), Close()}, kConnectionClosedGracefully},
        {"closed within the status line",
         {ReadRequest(), Send("HTTP/1.1 200"), Close()},
         kConnectionClosedGracefully},
        {"closed within a chunk",
         {ReadRequest(), Send(Reply(kOk, {"Transfer-Encoding: chunked"}, "A\r\nabc")), Close()},
         kConnectionClosedGracefully},
        {"closed before the last chunk line",
         {ReadRequest(), Send(Reply(kOk, {"Transfer-Encoding: chunked"}, "1\r\na\r\n")), Close()},
         kConnectionClosedGracefully},
        {"status line longer than 16384 bytes",
         {ReadRequest(), Send("HTTP/1.1 200 " + std::string(16384 - 13, 'K') + "\r\n\r\n")},
         kMaxLineLengthExceeded},
        {"endless status line",
         {ReadRequest(), Send(std::string(40000, 'x'))},
         kMaxLineLengthExceeded},
        {"header line too long",
         {ReadRequest(), Send("HTTP/1.1 200 OK\r\nX: " + std::string(17000, 'v') + "\r\n\r\n")},
         kMaxLineLengthExceeded},
        {"chunk-size line too long",
         {ReadRequest(), Send(Reply(kOk, {"Transfer-Encoding: chunked"}, std::string(17000, '0')))},
         kMaxLineLengthExceeded},
        {"endless header block",
         {ReadRequest(), Send("HTTP/1.1 200 OK\r\n"), Send([] {
              std::string lines;
              for (int i = 0; i < 300; ++i) lines += "X-" + std::to_string(i) + ": v\r\n";
              return lines;
          }())},
         kTooManyHeaderLines},
        {"silent peer within the head: timed out",
         {ReadRequest(), Send("HTTP/1.1 200 OK\r\n")},
         "Socket Error # 10060\r\nConnection timed out."},
    };
    for (const auto& row : rows) {
        Fixture f;
        f.client.SetReadTimeout(300ms);
        f.server.AddConnection(row.script);
        EXPECT_EQ(f.FailureOf("/"), row.message) << row.proves;
        EXPECT_EQ(f.server.Requests().size(), 1u) << row.proves;
    }
}

TEST(HttpFailureTest, FailedStatusCarriesCodeAndBody) {
    Fixture f;
    f.server.AddConnection(
        {ReadRequest(), Send(Reply("HTTP/1.1 403 Forbidden", {"Content-Length: 6"}, "nope\xf1!"))});
    try {
        f.client.GetText(f.server.Url());
        FAIL();
    } catch (const HttpProtocolError& failure) {
        EXPECT_STREQ(failure.what(), "HTTP/1.1 403 Forbidden");
        EXPECT_EQ(failure.StatusCode(), 403);
        EXPECT_EQ(failure.Body(), "nope\xf1!");
    }
}

TEST(HttpFailureTest, SocketFailuresCarryWindowsSocketsNumbers) {
    int port;
    {
        ScriptServer closed;
        port = closed.Port();
    }
    HttpClient client;
    try {
        client.GetText("http://127.0.0.1:" + std::to_string(port) + "/");
        FAIL();
    } catch (const SocketError& failure) {
        EXPECT_STREQ(failure.what(), "Socket Error # 10061\r\nConnection refused.");
        EXPECT_EQ(failure.Number(), 10061);
    }
    EXPECT_EQ(SocketErrorNumberOfResolver(EAI_NONAME), 11001);
    EXPECT_EQ(SocketError(11001).what(), std::string("Socket Error # 11001\r\nHost not found."));
    EXPECT_EQ(SocketErrorNumberOfErrno(ECONNRESET), 10054);
    EXPECT_EQ(SocketErrorNumberOfErrno(ETIMEDOUT), 10060);
    EXPECT_EQ(SocketError(10099).what(), std::string("Socket Error # 10099\r\n"));
}

TEST(HttpFailureTest, TextCapFailsCleanly) {
    struct Row {
        const char* proves;
        std::vector<test::ServerStep> script;
    };
    const Row rows[] = {
        {"announced length over the cap refused before reading",
         {ReadRequest(), Send(Reply(kOk, {"Content-Length: 2147483647"}, "abc"))}},
        {"body read until close grows past the cap",
         {ReadRequest(), Send(Reply(kOk, {}, std::string(5000, 'a'))), Close()}},
        {"chunked body grows past the cap",
         {ReadRequest(), Send(Reply(kOk, {"Transfer-Encoding: chunked"},
                                    "800\r\n" + std::string(2048, 'a') + "\r\n800\r\n" +
                                        std::string(2048, 'a') + "\r\n0\r\n\r\n"))}},
        {"failure body past the cap",
         {ReadRequest(),
          Send(Reply("HTTP/1.1 500 X", {"Content-Length: 5000"}, std::string(5000, 'a')))}},
    };
    for (const auto& row : rows) {
        Fixture f;
        f.client.SetMaxTextSize(4000);
        f.server.AddConnection(row.script);
        EXPECT_EQ(f.FailureOf("/"), kReplyTooLarge) << row.proves;
        EXPECT_EQ(f.progress.events.back(), "End") << row.proves;
    }
}

TEST(HttpKeepAliveTest, RepliesWithoutCloseShareOneConnection) {
    Fixture f;
    f.server.AddConnection({ReadRequest(), Send(Reply(kOk, {"Content-Length: 1"}, "a")),
                            ReadRequest(),
                            Send(Reply("HTTP/1.0 404 No", {"Content-Length: 1"}, "b")),
                            ReadRequest(), Send(Reply(kOk, {"Content-Length: 1"}, "c"))});
    EXPECT_EQ(f.client.GetText(f.server.Url("/1")), "a");
    EXPECT_EQ(f.FailureOf("/2"), "HTTP/1.0 404 No");
    EXPECT_EQ(f.client.GetText(f.server.Url("/3")), "c");
    EXPECT_EQ(f.server.ConnectionsAccepted(), 1);
    EXPECT_EQ(f.server.Requests().size(), 3u);
}

TEST(HttpReplyHeaderTest, BelongsToTheLastReplyReadThrough) {
    Fixture f;
    f.server.AddConnection(
        {ReadRequest(),
         Send(Reply(kOk, {"Content-Length: 1", "tertulia-linea:  no-guardada "}, "a")),
         ReadRequest(), Send(Reply(kOk, {"Content-Length: 1"}, "b")), ReadRequest(),
         Send(Reply(kOk, {"Content-Length: 1", "Tertulia-Linea: x"}, "c")), ReadRequest(),
         Send(Reply("HTTP/1.1 500 Mal", {"Content-Length: 0", "Tertulia-Linea: y"}, ""))});
    EXPECT_EQ(f.client.ReplyHeader("Tertulia-Linea"), "") << "before any request";
    EXPECT_EQ(f.client.GetText(f.server.Url("/1")), "a");
    EXPECT_EQ(f.client.ReplyHeader("Tertulia-Linea"), "no-guardada");
    EXPECT_EQ(f.client.GetText(f.server.Url("/2")), "b");
    EXPECT_EQ(f.client.ReplyHeader("Tertulia-Linea"), "") << "not carried over";
    EXPECT_EQ(f.client.GetText(f.server.Url("/3")), "c");
    EXPECT_EQ(f.FailureOf("/4"), "HTTP/1.1 500 Mal");
    EXPECT_EQ(f.client.ReplyHeader("Tertulia-Linea"), "") << "a failed request has none";
}

TEST(HttpKeepAliveTest, CloseOpensANewConnection) {
    struct Row {
        const char* proves;
        std::vector<std::string> headers;
        std::string body;
    };
    const Row rows[] = {
        {"Connection: close", {"Content-Length: 1", "Connection:  CLOSE "}, "a"},
        {"Proxy-Connection: close", {"Content-Length: 1", "Proxy-Connection: close"}, "a"},
    };
    for (const auto& row : rows) {
        Fixture f;
        f.server.AddConnection({ReadRequest(), Send(Reply(kOk, row.headers, row.body))});
        f.server.AddConnection({ReadRequest(), Send(Reply(kOk, {"Content-Length: 1"}, "b"))});
        EXPECT_EQ(f.client.GetText(f.server.Url()), "a") << row.proves;
        EXPECT_TRUE(f.server.WaitForClosed(0)) << row.proves << ": the client closed it";
        EXPECT_EQ(f.client.GetText(f.server.Url()), "b") << row.proves;
        EXPECT_EQ(f.server.ConnectionsAccepted(), 2) << row.proves;
    }
}

TEST(HttpKeepAliveTest, NoticesAPeerThatClosedTheKeptConnection) {
    Fixture f;
    f.server.AddConnection(
        {ReadRequest(), Send(Reply(kOk, {"Content-Length: 1"}, "a")), Pause(20ms), Close()});
    f.server.AddConnection({ReadRequest(), Send(Reply(kOk, {"Content-Length: 1"}, "b"))});
    EXPECT_EQ(f.client.GetText(f.server.Url()), "a");
    ASSERT_TRUE(f.server.WaitForClosed(0));
    EXPECT_EQ(f.client.GetText(f.server.Url()), "b");
    const auto requests = f.server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].connection, 1);
}

TEST(HttpKeepAliveTest, AnotherHostOrPortOpensANewConnection) {
    Fixture f;
    ScriptServer other;
    f.server.AddConnection({ReadRequest(), Send(Reply(kOk, {"Content-Length: 1"}, "a")),
                            ReadRequest(), Send(Reply(kOk, {"Content-Length: 1"}, "c"))});
    f.server.AddConnection({ReadRequest(), Send(Reply(kOk, {"Content-Length: 1"}, "d"))});
    other.AddConnection({ReadRequest(), Send(Reply(kOk, {"Content-Length: 1"}, "b"))});
    const std::string port = std::to_string(f.server.Port());
    EXPECT_EQ(f.client.GetText("http://LocalHost:" + port + "/"), "a");
    EXPECT_EQ(f.client.GetText("http://localhost:" + port + "/"), "c");  // same host, any case
    EXPECT_EQ(f.client.GetText(other.Url()), "b");
    EXPECT_EQ(f.client.GetText(f.server.Url()), "d");
    EXPECT_EQ(f.server.ConnectionsAccepted(), 2);
    const auto requests = f.server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_NE(requests[0].bytes.find("Host: LocalHost:" + port + "\r\n"), std::string::npos);
}

TEST(HttpCookieTest, SetCookieComesBackOnLaterRequests) {
    Fixture f;
    f.server.AddConnection(
        {ReadRequest(),
         Send(Reply("HTTP/1.1 404 Not Found",
                    {"Set-Cookie: a=1", "Content-Length: 0", "set-cookie: b=2; path=/x/"})),
         ReadRequest(), Send(Reply(kOk, {"Set-Cookie2: c=3", "Content-Length: 0"})), ReadRequest(),
         Send(Reply(kOk, {"Content-Length: 0"})), ReadRequest(),
         Send(Reply(kOk, {"Content-Length: 0"}))});
    EXPECT_EQ(f.FailureOf("/"), "HTTP/1.1 404 Not Found");
    f.client.GetText(f.server.Url("/t.php"));
    f.client.GetText(f.server.Url("/x/t.php?a=/"));
    f.client.GetText(f.server.Url("/y/"));
    const auto requests = f.server.Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0].bytes.find("Cookie"), std::string::npos) << "the jar starts empty";
    EXPECT_NE(requests[1].bytes.find("\r\nCookie: a=1\r\n\r\n"), std::string::npos);
    EXPECT_NE(requests[2].bytes.find("\r\nCookie: a=1; b=2; c=3\r\n\r\n"), std::string::npos);
    EXPECT_NE(requests[3].bytes.find("\r\nCookie: a=1; c=3\r\n\r\n"), std::string::npos);
}

TEST(HttpCookieTest, ExpiryFollowsTheClientClock) {
    Fixture f;
    std::int64_t now = 1700000000;
    f.client.SetClock([&] { return now; });
    f.server.AddConnection({ReadRequest(),
                            Send(Reply(kOk, {"Set-Cookie: a=1; Max-Age=10", "Content-Length: 0"})),
                            ReadRequest(), Send(Reply(kOk, {"Content-Length: 0"})), ReadRequest(),
                            Send(Reply(kOk, {"Content-Length: 0"}))});
    f.client.GetText(f.server.Url());
    f.client.GetText(f.server.Url());
    now += 10;
    f.client.GetText(f.server.Url());
    const auto requests = f.server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_NE(requests[1].bytes.find("Cookie: a=1"), std::string::npos);
    EXPECT_EQ(requests[2].bytes.find("Cookie"), std::string::npos);
}

struct ProgressRow {
    const char* proves;
    std::vector<test::ServerStep> script;
    Events expected;
    bool fails = false;
};

TEST(HttpProgressTest, RaisesTheEventsWithExactCounts) {
    const std::string body51200(51200, 'p');
    const ProgressRow rows[] = {
        {"1000 bytes with the head, then whole blocks",
         {ReadRequest(), Send(Reply(kOk, {"Content-Length: 51200"}, body51200.substr(0, 1000))),
          Pause(50ms), Send(body51200.substr(1000, 20000)), Pause(50ms),
          Send(body51200.substr(21000))},
         {"Begin 51200", "Work 1000", "Work 33768", "Work 51200", "End"}},
        {"until close: announced 0, the rest at close",
         {ReadRequest(), Send(Reply(kOk, {}, std::string(100, 'a'))), Pause(30ms),
          Send(std::string(40000, 'b')), Pause(30ms), Close()},
         {"Begin 0", "Work 100", "Work 32868", "Work 40100", "End"}},
        {"one bracket per chunk",
         {ReadRequest(),
          Send(Reply(kOk, {"Transfer-Encoding: chunked"}, "3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n"))},
         {"Begin 3", "Work 3", "End", "Begin 2", "Work 2", "End"}},
        {"content length 0: no event",
         {ReadRequest(), Send(Reply(kOk, {"Content-Length: 0"}))},
         {}},
        {"204: no event", {ReadRequest(), Send(Reply("HTTP/1.1 204 No Content", {}))}, {}},
        {"failed status with a body still reports it",
         {ReadRequest(), Send(Reply("HTTP/1.1 404 Not Found", {"Content-Length: 4"}, "gone"))},
         {"Begin 4", "Work 4", "End"},
         true},
        {"peer closes within a known length: end before the failure",
         {ReadRequest(), Send(Reply(kOk, {"Content-Length: 50000"}, "abc")), Pause(30ms),
          Send(std::string(40000, 'x')), Close()},
         {"Begin 50000", "Work 3", "Work 32771", "Work 40003", "End"},
         true},
        {"peer closes within a chunk: end before the failure",
         {ReadRequest(), Send(Reply(kOk, {"Transfer-Encoding: chunked"}, "10\r\nabc")), Close()},
         {"Begin 16", "Work 3", "End"},
         true},
    };
    for (const auto& row : rows) {
        Fixture f;
        f.server.AddConnection(row.script);
        bool failed = false;
        try {
            f.client.GetText(f.server.Url());
        } catch (const std::exception&) {
            failed = true;
            f.progress.events.push_back("caught");
        }
        Events expected = row.expected;
        if (row.fails) expected.push_back("caught");
        EXPECT_EQ(failed, row.fails) << row.proves;
        EXPECT_EQ(f.progress.events, expected) << row.proves;
    }
}

TEST(HttpStreamTest, WritesAtThePositionAndEndsTheStreamThere) {
    Fixture f;
    f.server.AddConnection(
        {ReadRequest(), Send(Reply(kOk, {"Content-Length: 5"}, "hello")), ReadRequest(),
         Send(Reply(kOk, {"Transfer-Encoding: chunked"}, "2\r\nab\r\n0\r\n\r\n")), ReadRequest(),
         Send(Reply("HTTP/1.1 204 No Content", {}))});
    MemoryStream stream("0123456789");
    stream.Seek(3);
    f.client.GetToStream(f.server.Url(), stream);
    EXPECT_EQ(stream.Bytes(), "012hello");
    stream.Seek(1);
    f.client.GetToStream(f.server.Url(), stream);
    EXPECT_EQ(stream.Bytes(), "0ab");
    stream.Seek(2);
    f.client.GetToStream(f.server.Url(), stream);
    EXPECT_EQ(stream.Bytes(), "0a") << "nothing written, so the stream ends at the position";
}

TEST(HttpConnectionTest, DottedAddressNumbersAreDecimal) {
    ScriptServer server("127.0.0.10");
    server.AddConnection({ReadRequest(), Send(Reply(kOk, {"Content-Length: 1"}, "a"))});
    HttpClient client;
    client.SetConnectTimeout(5s);
    client.SetReadTimeout(5s);
    EXPECT_EQ(client.GetText("http://127.00.0.0010:" + std::to_string(server.Port()) + "/"), "a");
}

TEST(HttpStreamTest, FailedStatusWritesNothing) {
    Fixture f;
    f.server.AddConnection(
        {ReadRequest(), Send(Reply("HTTP/1.1 500 Oops", {"Content-Length: 5"}, "error"))});
    MemoryStream stream("keep");
    try {
        f.client.GetToStream(f.server.Url(), stream);
        FAIL();
    } catch (const HttpProtocolError& failure) {
        EXPECT_EQ(failure.Body(), "error");
    }
    EXPECT_EQ(stream.Bytes(), "keep");
}

TEST(HttpStreamTest, ShortBodyCutsTheEnlargedTargetBack) {
    Fixture f;
    f.server.AddConnection(
        {ReadRequest(), Send(Reply(kOk, {"Content-Length: 100000"}, "abc")), Close()});
    MemoryStream stream;
    EXPECT_THROW(f.client.GetToStream(f.server.Url(), stream), std::runtime_error);
    EXPECT_EQ(stream.Bytes(), "abc");
}

}  // namespace
}  // namespace tertulia
