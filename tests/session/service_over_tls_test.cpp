#include <gtest/gtest.h>
#include <stdlib.h>

#include "http/tls_transport.h"
#include "tests/http/nginx_server.h"
#include "tests/http/nginx_tls_proxy.h"
#include "tests/session/console_harness.h"
#include "tests/support/service_process.h"

namespace tertulia {
namespace {

using Site = test::NginxTlsProxy::Site;

// The console with the program's TLS transport, talking to the real service through nginx
// terminating TLS: update check, login, news, a conversation's poll and a sent line.
TEST(ServiceOverTlsTest, TheConsolesRequestsGoThroughTls) {
    if (!test::NginxServer::Available()) GTEST_SKIP() << "nginx is not installed";
    testing::ServiceProcess service;
    test::NginxTlsProxy proxy(service.Port());
    ASSERT_TRUE(proxy.Running()) << proxy.Error();
    ::setenv("SSL_CERT_FILE", proxy.CaFile().c_str(), 1);
    const auto [id, token] = testing::OpenConversation(service.Port(), "Ana");

    testing::ConsoleHarness harness(proxy.Url(Site::Good, "", "localhost"));
    harness.http.SetSecureTransport(MakeTlsTransportFactory());
    harness.ShowAndLogInAsDemo();
    EXPECT_EQ(harness.view.panel, Panel::pnChat);
    ASSERT_EQ(harness.ListedIds(), std::vector<std::string>{id + "=Ana"});

    auto& chat = harness.Chat(0);
    chat.message = "Hola desde TLS";
    chat.handlers->edMensajeKeyPress('\r');
    EXPECT_NE(chat.transcript.find("Hola desde TLS"), std::string::npos) << chat.transcript;
    const auto visitorView =
        testing::GetPath(service.Port(), "/api/conversaciones/" + id + "?token=" + token);
    EXPECT_NE(visitorView.body.find("Hola desde TLS"), std::string::npos) << visitorView.body;
}

}  // namespace
}  // namespace tertulia
