// Replies that a hostile or broken server may send: none of them may pass as a complete reply,
// and none may hold the client longer than its minimum pace allows.

#include <gtest/gtest.h>

#include "http/http_client.h"
#include "http/http_errors.h"
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
using test::ServerStep;

constexpr const char* kOk = "HTTP/1.1 200 OK";
constexpr const char* kChunked = "Transfer-Encoding: chunked";
constexpr const char* kTimedOut = "Socket Error # 10060\r\nConnection timed out.";

// Short pace limits, so that a trickling server is cut off within a fraction of a second
// while each single wait (5 s) never expires.
constexpr PaceLimits kTestPace{600ms, 600ms, 1024};

// A reply head, then `pieces` sent one after another with `every` between them.
std::vector<ServerStep> Trickle(const std::string& head, const std::string& piece, int pieces,
                                std::chrono::milliseconds every = 100ms) {
    std::vector<ServerStep> script{ReadRequest(), Send(head)};
    for (int i = 0; i < pieces; ++i) {
        script.push_back(Pause(every));
        script.push_back(Send(piece));
    }
    return script;
}

struct HostileRow {
    const char* proves;
    std::vector<ServerStep> script;
    std::string body;     // the text returned when `failure` is empty
    std::string failure;  // the failure's message otherwise
};

TEST(HttpHostileReplyTest, NoCutOffOrMisreadReplyPassesAsComplete) {
    const HostileRow rows[] = {
        {"body shorter than its Content-Length fails",
         {ReadRequest(), Send(Reply(kOk, {"Content-Length: 1000"}, "0123456789")), Close()},
         "",
         kConnectionClosedGracefully},
        {"head with a Content-Length, then the close, fails",
         {ReadRequest(), Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n"), Close()},
         "",
         kConnectionClosedGracefully},
        {"chunk extension after ';' is ignored",
         {ReadRequest(), Send(Reply(kOk, {kChunked}, "5;name=val\r\nhello\r\n0;x\r\n\r\n"))},
         "hello",
         ""},
        {"chunk size ends at a tab too",
         {ReadRequest(), Send(Reply(kOk, {kChunked}, "5\t;a=b\r\nhello\r\n0\r\n\r\n"))},
         "hello",
         ""},
        {"chunk size that is not hexadecimal fails",
         {ReadRequest(), Send(Reply(kOk, {kChunked}, "ZZ\r\nhello\r\n0\r\n\r\n"))},
         "",
         kInvalidChunkSize},
        {"chunk size with a stray letter after its digits fails",
         {ReadRequest(), Send(Reply(kOk, {kChunked}, "5x\r\nhello\r\n0\r\n\r\n"))},
         "",
         kInvalidChunkSize},
        {"empty chunk-size line fails",
         {ReadRequest(), Send(Reply(kOk, {kChunked}, "5\r\nhello\r\n\r\n0\r\n\r\n"))},
         "",
         kInvalidChunkSize},
        {"chunk size beyond 31 bits fails",
         {ReadRequest(), Send(Reply(kOk, {kChunked}, "80000000\r\nhello\r\n0\r\n\r\n"))},
         "",
         kChunkSizeTooLarge},
        {"endless trailer fails",
         {ReadRequest(), Send(Reply(kOk, {kChunked}, "0\r\n")), Send([] {
              std::string lines;
              for (int i = 0; i < 300; ++i) lines += "X-" + std::to_string(i) + ": v\r\n";
              return lines;
          }())},
         "",
         kTooManyHeaderLines},
        {"Content-Length that is not a number fails",
         {ReadRequest(), Send(Reply(kOk, {"Content-Length: 12abc"}, "abc")), Close()},
         "",
         kInvalidContentLength},
        {"negative Content-Length fails",
         {ReadRequest(), Send(Reply(kOk, {"Content-Length: -4"}, "abc")), Close()},
         "",
         kInvalidContentLength},
        {"Content-Length beyond 32 bits fails",
         {ReadRequest(), Send(Reply(kOk, {"Content-Length: 99999999999"}, "abc")), Close()},
         "",
         kInvalidContentLength},
        {"empty Content-Length fails",
         {ReadRequest(), Send(Reply(kOk, {"Content-Length: "}, "abc")), Close()},
         "",
         kInvalidContentLength},
        {"head trickled a line at a time times out",
         [] {
             auto script = Trickle("HTTP/1.1 200 OK\r\n", "X-Slow: 1\r\n", 30);
             script.push_back(Send("Content-Length: 1\r\n\r\na"));
             return script;
         }(),
         "", kTimedOut},
        {"body trickled a few bytes at a time times out",
         Trickle(Reply(kOk, {"Content-Length: 150"}), "abcde", 30), "", kTimedOut},
        {"chunked body trickled a chunk at a time times out",
         [] {
             auto script = Trickle(Reply(kOk, {kChunked}), "1\r\na\r\n", 30);
             script.push_back(Send("0\r\n\r\n"));
             return script;
         }(),
         "", kTimedOut},
        {"slow body that keeps the pace is read whole",
         Trickle(Reply(kOk, {"Content-Length: 4400"}), std::string(1100, 'p'), 4, 150ms),
         std::string(4400, 'p'), ""},
    };
    for (const auto& row : rows) {
        ScriptServer server;
        HttpClient client;
        test::ProgressLog progress;
        progress.Attach(client);
        client.SetConnectTimeout(5s);
        client.SetReadTimeout(5s);
        client.SetMinimumPace(kTestPace);
        server.AddConnection(row.script);
        std::string body, failure;
        try {
            body = client.GetText(server.Url());
        } catch (const std::exception& error) {
            failure = error.what();
        }
        EXPECT_EQ(failure, row.failure) << row.proves;
        if (row.failure.empty()) {
            EXPECT_EQ(body, row.body) << row.proves;
        }
        // Every transfer bracket is closed before the failure reaches the caller.
        if (!progress.events.empty()) {
            EXPECT_EQ(progress.events.back(), "End") << row.proves;
        }
    }
}

TEST(HttpHostileReplyTest, ShortBodyEndsItsTransferThenFails) {
    ScriptServer server;
    HttpClient client;
    test::ProgressLog progress;
    progress.Attach(client);
    server.AddConnection(
        {ReadRequest(), Send(Reply(kOk, {"Content-Length: 1000"}, "0123456789")), Close()});
    server.AddConnection({ReadRequest(), Send(Reply(kOk, {"Content-Length: 2"}, "ok"))});
    MemoryStream stream;
    try {
        client.GetToStream(server.Url(), stream);
        ADD_FAILURE() << "a cut-off body passed as complete";
    } catch (const std::exception& failure) {
        EXPECT_STREQ(failure.what(), kConnectionClosedGracefully);
    }
    EXPECT_EQ(progress.events, (std::vector<std::string>{"Begin 1000", "Work 10", "End"}));
    EXPECT_EQ(stream.Bytes(), "0123456789") << "the stream ends where the bytes received end";
    EXPECT_EQ(client.GetText(server.Url()), "ok") << "the next request opens a new connection";
    EXPECT_EQ(server.ConnectionsAccepted(), 2);
}

TEST(HttpHostileReplyTest, KeptConnectionAfterTrailersAnswersTheNextRequest) {
    ScriptServer server;
    HttpClient client;
    client.SetReadTimeout(5s);
    server.AddConnection(
        {ReadRequest(),
         Send(Reply(kOk, {kChunked}, "5;ext=1\r\nhello\r\n0\r\nX-Sum: 5\r\nX-More: 2\r\n\r\n")),
         ReadRequest(), Send(Reply("HTTP/1.1 200 OK", {"Content-Length: 6"}, "second"))});
    EXPECT_EQ(client.GetText(server.Url("/1")), "hello");
    EXPECT_EQ(client.GetText(server.Url("/2")), "second");
    EXPECT_EQ(server.ConnectionsAccepted(), 1);
    EXPECT_EQ(server.Requests().size(), 2u);
}

}  // namespace
}  // namespace tertulia
