#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tests/http/script_server.h"

namespace tertulia {
namespace {

using test::ReadRequest;
using test::Reply;
using test::Send;

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string ReadAll(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

class ToolGetTest : public testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/tertulia-tool-test-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        directory_ = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + directory_ + "'").c_str()); }

    ToolRun Get(const std::string& arguments) {
        const std::string command = std::string(TERTULIA_TOOL) + " get " + arguments + " >'" +
                                    directory_ + "/out' 2>'" + directory_ + "/err'";
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadAll(directory_ + "/out"),
                ReadAll(directory_ + "/err")};
    }

    test::ScriptServer server_;
    std::string directory_;
};

TEST_F(ToolGetTest, FetchesEveryUrlThroughOneClient) {
    server_.AddConnection(
        {ReadRequest(),
         Send(Reply("HTTP/1.1 200 OK", {"Content-Length: 3", "Set-Cookie: s=1"}, "one")),
         ReadRequest(), Send(Reply("HTTP/1.1 200 OK", {"Content-Length: 3"}, "two"))});
    const ToolRun run = Get("'" + server_.Url("/a") + "' '" + server_.Url("/b") + "'");
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
    const ToolRun run =
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
    const std::string file = directory_ + "/download";
    const ToolRun run = Get("-o '" + file + "' " + server_.Url("/f"));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(ReadAll(file), std::string("a\0\xf1z", 4));
}

TEST_F(ToolGetTest, StatusLineFromTheServerIsWrittenEscaped) {
    server_.AddConnection({ReadRequest(), Send("HTTP/1.1 500 \x1b]0;x\x07\x1b[2J\\ \xf1\x7f\t\r\n"
                                               "Content-Length: 0\r\n\r\n")});
    const ToolRun run = Get(server_.Url("/"));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "HTTP/1.1 500 \\x1B]0;x\\x07\\x1B[2J\\\\ \xf1\\x7F\\t\n");
}

TEST_F(ToolGetTest, RefusedUrlMessageGoesToStandardError) {
    // The tool reaches "https" addresses through its secure transport; other schemes it refuses.
    const ToolRun run = Get("ftp://127.0.0.1/");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Unsupported URL scheme \"ftp\".\n");
}

}  // namespace
}  // namespace tertulia
