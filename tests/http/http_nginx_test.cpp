#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "base/md5.h"
#include "base/stream.h"
#include "http/http_client.h"
#include "tests/http/nginx_server.h"
#include "tests/http/progress_log.h"
#include "tests/support/temporary_directory.h"

namespace tertulia {
namespace {

using namespace std::chrono_literals;

class HttpNginxTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!test::NginxServer::Available()) GTEST_SKIP() << "nginx is not installed";
        nginx_ = std::make_unique<test::NginxServer>();
        ASSERT_TRUE(nginx_->Running()) << nginx_->Error();
        client_.SetConnectTimeout(5s);
        client_.SetReadTimeout(5s);
    }

    void WriteFile(const std::string& name, const std::string& bytes) {
        std::ofstream(nginx_->WwwDirectory() + "/" + name, std::ios::binary) << bytes;
    }

    static std::string Pattern(std::size_t size) {
        std::string bytes(size, '\0');
        for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7919) >> 3);
        return bytes;
    }

    std::unique_ptr<test::NginxServer> nginx_;
    HttpClient client_;
};

TEST_F(HttpNginxTest, LargeFileIntoAFileStreamWithWholeBlocks) {
    const std::string bytes = Pattern(5 * 1024 * 1024 + 123);
    WriteFile("big.bin", bytes);
    const testing::TemporaryDirectory downloads;
    const std::string target = downloads.path() + "/big.bin";
    test::ProgressLog progress;
    progress.Attach(client_);
    {
        FileStream file(target, FileStream::Mode::Create);
        client_.GetToStream(nginx_->Url("/big.bin"), file);
        EXPECT_EQ(file.Size(), static_cast<std::int64_t>(bytes.size()));
        file.Close();
    }
    FileStream written(target, FileStream::Mode::Read);
    EXPECT_EQ(Md5TextOfStream(written), Md5TextOfString(bytes));

    ASSERT_GE(progress.events.size(), 3u);
    EXPECT_EQ(progress.events.front(), "Begin " + std::to_string(bytes.size()));
    EXPECT_EQ(progress.events.back(), "End");
    EXPECT_EQ(progress.events[progress.events.size() - 2], "Work " + std::to_string(bytes.size()));
    // Past the bytes that came with the head, every step is a whole block but the last.
    for (std::size_t i = 2; i + 2 < progress.events.size(); ++i) {
        const auto count = [&](std::size_t k) { return std::stoll(progress.events[k].substr(5)); };
        EXPECT_EQ(count(i) - count(i - 1), 32768) << i;
    }
}

TEST_F(HttpNginxTest, KeepsTheConnectionAndItsCookies) {
    WriteFile("a.txt", "first");
    WriteFile("b.txt", "second\xf1");
    EXPECT_EQ(client_.GetText(nginx_->Url("/cookie")), "cookie set");
    EXPECT_EQ(client_.GetText(nginx_->Url("/a.txt")), "first");
    EXPECT_EQ(client_.GetText(nginx_->Url("/b.txt")), "second\xf1");
    try {
        client_.GetText(nginx_->Url("/missing"));
        FAIL();
    } catch (const HttpProtocolError& failure) {
        EXPECT_STREQ(failure.what(), "HTTP/1.1 404 Not Found");
        EXPECT_NE(failure.Body().find("404"), std::string::npos);
    }
    try {
        client_.GetText(nginx_->Url("/moved"));
        FAIL();
    } catch (const HttpProtocolError& failure) {
        EXPECT_STREQ(failure.what(), "HTTP/1.1 302 Moved Temporarily");
    }
    EXPECT_EQ(client_.GetText(nginx_->Url("/a.txt")), "first");
}

TEST_F(HttpNginxTest, ServerThatClosesIdleConnections) {
    WriteFile("a.txt", "first");
    EXPECT_EQ(client_.GetText(nginx_->ShortKeepAliveUrl("/a.txt")), "first");
    EXPECT_EQ(client_.GetText(nginx_->ShortKeepAliveUrl("/a.txt")), "first");
    std::this_thread::sleep_for(800ms);  // nginx closes the idle connection after 300 ms
    EXPECT_EQ(client_.GetText(nginx_->ShortKeepAliveUrl("/a.txt")), "first");
}

}  // namespace
}  // namespace tertulia
