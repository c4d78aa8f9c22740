#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "base/md5.h"
#include "base/stream.h"
#include "http/http_client.h"
#include "http/http_errors.h"
#include "http/tls_transport.h"
#include "tests/http/failure_of.h"
#include "tests/http/nginx_server.h"
#include "tests/http/nginx_tls_proxy.h"
#include "tests/http/progress_log.h"
#include "tests/http/script_server.h"
#include "tests/support/command_run.h"

namespace tertulia {
namespace {

using namespace std::chrono_literals;
using Site = test::NginxTlsProxy::Site;
using test::ReadRequest;
using test::Reply;
using test::Send;

using test::FailureOf;

// nginx terminating TLS in front of a scripted plain server; the client trusts the test
// authority only, through SSL_CERT_FILE as any OpenSSL program would.
class HttpTlsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!test::NginxServer::Available()) GTEST_SKIP() << "nginx is not installed";
        proxy_ = std::make_unique<test::NginxTlsProxy>(backend_.Port());
        ASSERT_TRUE(proxy_->Running()) << proxy_->Error();
        ::setenv("SSL_CERT_FILE", proxy_->CaFile().c_str(), 1);
        // An empty directory: no system authorities.
        ::setenv("SSL_CERT_DIR", proxy_->FilesDirectory().c_str(), 1);
        client_.SetSecureTransport(MakeTlsTransportFactory());
        client_.SetConnectTimeout(5s);
        client_.SetReadTimeout(5s);
    }

    void AnswerOnce(const std::string& body) {
        backend_.AddConnection(
            {ReadRequest(), Send(Reply("HTTP/1.1 200 OK",
                                       {"Content-Length: " + std::to_string(body.size())}, body))});
    }

    test::ScriptServer backend_;
    std::unique_ptr<test::NginxTlsProxy> proxy_;
    HttpClient client_;
};

TEST_F(HttpTlsTest, RequestReachesTheServiceBehindTheProxyAndKeepsItsConnection) {
    AnswerOnce("OK=sesion\xf1");
    AnswerOnce("OK,5=Ana|");
    test::ProgressLog progress;
    progress.Attach(client_);
    const std::string first = client_.GetText(proxy_->Url(Site::Good, "/connection"));
    EXPECT_EQ(client_.GetText(proxy_->Url(Site::Good, "/tertulia.php?accion=do_login&a=%25")),
              "OK=sesion\xf1");
    EXPECT_EQ(client_.GetText(proxy_->Url(Site::Good, "/tertulia.php?accion=get_news")),
              "OK,5=Ana|");
    EXPECT_EQ(client_.GetText(proxy_->Url(Site::Good, "/connection")), first)
        << "one TLS connection carried every request";

    const auto requests = backend_.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_TRUE(requests[0].bytes.starts_with("GET /tertulia.php?accion=do_login&a=%25 HTTP/1.0"))
        << requests[0].bytes;
    EXPECT_NE(requests[0].bytes.find("User-Agent: Mozilla/3.0 (compatible; Tertulia)\r\n"),
              std::string::npos);
    // Progress counts the decrypted body.
    EXPECT_EQ(progress.events[3], "Begin 10");
    EXPECT_EQ(progress.events[4], "Work 10");
}

TEST_F(HttpTlsTest, HostNameIsSentBySniAndCheckedAsAName) {
    EXPECT_EQ(client_.GetText(proxy_->Url(Site::Good, "/server-name", "localhost")), "localhost");
    EXPECT_EQ(client_.GetText(proxy_->Url(Site::Good, "/server-name")), "")
        << "an IP address is no server name";
    EXPECT_NE(FailureOf(client_, proxy_->Url(Site::WrongHost, "/x", "LOCALHOST"))
                  .find("no es de confianza: no corresponde a LOCALHOST"),
              std::string::npos);
}

// A client that only speaks plain HTTP never reads the trust store: it is read with the first
// secure connection, as the environment names it then.
TEST_F(HttpTlsTest, TrustStoreIsReadWithTheFirstSecureConnection) {
    ::setenv("SSL_CERT_FILE", "/dev/null", 1);
    HttpClient client;
    client.SetSecureTransport(MakeTlsTransportFactory());
    ::setenv("SSL_CERT_FILE", proxy_->CaFile().c_str(), 1);
    EXPECT_FALSE(client.GetText(proxy_->Url(Site::Good, "/connection")).empty());
}

TEST_F(HttpTlsTest, RefusedCertificatesSayWhyAndSendNothing) {
    struct Row {
        const char* proves;
        Site site;
        const char* message;
    };
    const Row rows[] = {
        {"issuer not trusted", Site::UnknownIssuer,
         "El certificado del servidor 127.0.0.1 no es de confianza: emisor desconocido"},
        {"expired", Site::Expired,
         "El certificado del servidor 127.0.0.1 no es de confianza: caducado"},
        {"issued for another name", Site::WrongHost,
         "El certificado del servidor 127.0.0.1 no es de confianza: no corresponde a 127.0.0.1"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(FailureOf(client_, proxy_->Url(row.site, "/tertulia.php?accion=do_login")),
                  row.message)
            << row.proves;
    }
    EXPECT_EQ(backend_.ConnectionsAccepted(), 0) << "no request got past the proxy";
    // The client goes on working after each refusal.
    EXPECT_FALSE(client_.GetText(proxy_->Url(Site::Good, "/connection")).empty());
}

TEST_F(HttpTlsTest, SecureCookiesGoOnlyOverTls) {
    AnswerOnce("one");
    EXPECT_EQ(client_.GetText(proxy_->Url(Site::Good, "/secure-cookie")), "set");
    EXPECT_EQ(client_.GetText(proxy_->Url(Site::Good, "/a")), "one");
    ASSERT_EQ(backend_.Requests().size(), 1u);
    EXPECT_NE(backend_.Requests()[0].bytes.find("Cookie: s=1\r\n"), std::string::npos);
}

TEST_F(HttpTlsTest, ServerThatClosesTheKeptConnection) {
    const std::string first = client_.GetText(proxy_->Url(Site::ShortKeepAlive, "/connection"));
    std::this_thread::sleep_for(800ms);  // nginx closes the idle connection after 300 ms
    EXPECT_NE(client_.GetText(proxy_->Url(Site::ShortKeepAlive, "/connection")), first);
}

TEST_F(HttpTlsTest, DownloadOf256MiBIsByteExact) {
    const std::string source = proxy_->FilesDirectory() + "/big.bin";
    const std::string command = "head -c 268435456 /dev/urandom > '" + source + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const testing::TemporaryDirectory memory(
        "tertulia-tls-download", std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp");
    const std::string target = memory.path() + "/big.bin";
    std::int64_t lastCount = 0;
    client_.OnWork = [&lastCount](TWorkMode, std::int32_t count) { lastCount = count; };
    {
        FileStream file(target, FileStream::Mode::Create);
        client_.GetToStream(proxy_->Url(Site::Good, "/files/big.bin"), file);
        file.Close();
    }
    EXPECT_EQ(lastCount, 268435456);
    FileStream expected(source, FileStream::Mode::Read);
    FileStream received(target, FileStream::Mode::Read);
    EXPECT_EQ(received.Size(), 268435456);
    EXPECT_EQ(Md5TextOfStream(received), Md5TextOfStream(expected));
}

TEST(HttpTlsWaitTest, SilentServerEndsTheHandshakeWithinTheConnectTimeOut) {
    test::ScriptServer silent;
    silent.AddConnection({ReadRequest()});
    HttpClient client;
    client.SetSecureTransport(MakeTlsTransportFactory());
    client.SetConnectTimeout(300ms);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(FailureOf(client, "https://127.0.0.1:" + std::to_string(silent.Port()) + "/"),
              "Socket Error # 10060\r\nConnection timed out.");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

TEST(HttpTlsWaitTest, PlainServerOnAnHttpsAddressFailsClearly) {
    test::ScriptServer plain;
    plain.AddConnection({Send(Reply("HTTP/1.1 400 Bad Request", {"Content-Length: 0"}))});
    HttpClient client;
    client.SetSecureTransport(MakeTlsTransportFactory());
    EXPECT_TRUE(FailureOf(client, "https://127.0.0.1:" + std::to_string(plain.Port()) + "/")
                    .starts_with("No se pudo establecer la conexi\xF3n segura con el servidor "
                                 "127.0.0.1: "));
}

TEST(HttpTlsWaitTest, WithoutASecureTransportHttpsIsRefusedAsBefore) {
    HttpClient client;
    EXPECT_EQ(FailureOf(client, "https://127.0.0.1:1/"), kIOHandlerNotValid);
}

// tertulia-tool get over HTTPS, as an operator runs it.
class ToolTlsTest : public HttpTlsTest {
  protected:
    testing::CommandRun Get(const std::string& url) {
        return testing::RunCommand(
            "SSL_CERT_FILE='" + proxy_->CaFile() + "' " + TERTULIA_TOOL + " get '" + url + "'",
            proxy_->FilesDirectory() + "/..");
    }
};

TEST_F(ToolTlsTest, GetsOverHttpsAndRefusesAnExpiredCertificate) {
    AnswerOnce("DESACTUALIZADA.ABC,https://127.0.0.1/x");
    const testing::CommandRun fetched =
        Get(proxy_->Url(Site::Good, "/gl/chkupdate.php?accion=check"));
    EXPECT_EQ(fetched.status, 0) << fetched.err;
    EXPECT_EQ(fetched.out, "DESACTUALIZADA.ABC,https://127.0.0.1/x");

    const testing::CommandRun refused =
        Get(proxy_->Url(Site::Expired, "/gl/chkupdate.php?accion=check"));
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "");
    EXPECT_NE(refused.err.find("no es de confianza: caducado"), std::string::npos) << refused.err;
    EXPECT_EQ(backend_.Requests().size(), 1u);
}

}  // namespace
}  // namespace tertulia
