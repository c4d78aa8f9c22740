#include <gtest/gtest.h>

#include "tests/http/script_server.h"
#include "tests/support/command_run.h"
#include "tests/support/temporary_directory.h"

namespace tertulia {
namespace {

using test::ReadRequest;
using test::Reply;
using test::Send;

using testing::CommandRun;
using testing::ReadWholeFile;

class ToolGetTest : public ::testing::Test {
  protected:
    CommandRun Get(const std::string& arguments) {
        return testing::RunCommand(std::string(TERTULIA_TOOL) + " get " + arguments,
                                   directory_.path());
    }

    test::ScriptServer server_;
    testing::TemporaryDirectory directory_;
};

TEST_F(ToolGetTest, FetchesEveryUrlThroughOneClient) {
    server_.AddConnection(
        {ReadRequest(),
         Send(Reply("HTTP/1.1 200 OK", {"Content-Length: 3", "Set-Cookie: s=1"}, "one")),
         ReadRequest(), Send(Reply("HTTP/1.1 200 OK", {"Content-Length: 3"}, "two"))});
    const CommandRun run = Get("'" + server_.Url("/a") + "' '" + server_.Url("/b") + "'");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "onetwo");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(server_.ConnectionsAccepted(), 1);
    const auto requests = server_.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requests[1].bytes.find("Cookie: s=1\r\n"), std::string::npos);
}

TEST_F(ToolGetTest, StopsAtTheFirstFailure) {
    server_.AddConnection(
        {ReadRequest(), Send(Reply("HTTP/1.1 200 OK", {"Content-Length: 3"}, "one")), ReadRequest(),
         Send(Reply("HTTP/1.1 404 Not Found", {"Content-Length: 4"}, "gone"))});
    const CommandRun run =
        Get("--progress " + server_.Url("/a") + " " + server_.Url("/b") + " " + server_.Url("/c"));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "one");
    EXPECT_EQ(run.err,
              "OnWorkBegin 3\nOnWork 3\nOnWorkEnd\n"
              "OnWorkBegin 4\nOnWork 4\nOnWorkEnd\n"
              "HTTP/1.1 404 Not Found\n");
    EXPECT_EQ(server_.Requests().size(), 2u);
}

TEST_F(ToolGetTest, WritesIntoAFile) {
    server_.AddConnection({ReadRequest(), Send(Reply("HTTP/1.1 200 OK", {"Content-Length: 4"},
                                                     std::string("a\0\xf1z", 4)))});
    const std::string file = directory_.path() + "/download";
    const CommandRun run = Get("-o '" + file + "' " + server_.Url("/f"));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(ReadWholeFile(file), std::string("a\0\xf1z", 4));
}

TEST_F(ToolGetTest, StatusLineFromTheServerIsWrittenEscaped) {
    server_.AddConnection({ReadRequest(), Send("HTTP/1.1 500 \x1b]0;x\x07\x1b[2J\\ \xf1\x7f\t\r\n"
                                               "Content-Length: 0\r\n\r\n")});
    const CommandRun run = Get(server_.Url("/"));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "HTTP/1.1 500 \\x1B]0;x\\x07\\x1B[2J\\\\ \xf1\\x7F\\t\n");
}

TEST_F(ToolGetTest, RefusedUrlMessageGoesToStandardError) {
    // The tool reaches "https" addresses through its secure transport; other schemes it refuses.
    const CommandRun run = Get("ftp://127.0.0.1/");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Unsupported URL scheme \"ftp\".\n");
}

}  // namespace
}  // namespace tertulia
