#include "session/operator_events.h"

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "app/qt_event_loop.h"
#include "app/qt_readable_watch.h"
#include "app/qt_timer.h"
#include "http/tls_transport.h"
#include "qt_test_support.h"
#include "tests/http/nginx_server.h"
#include "tests/http/nginx_tls_proxy.h"
#include "tests/http/script_server.h"

namespace tertulia {
namespace {

using namespace std::chrono_literals;

// The event loop's watch, and whether it watches a connection now.
class SeenWatch : public ReadableWatch {
  public:
    explicit SeenWatch(QtEventLoop& loop) : real_(loop) {}
    void Watch(int descriptor, std::function<void()> handler) override {
        watching = true;
        real_.Watch(descriptor, std::move(handler));
    }
    void Stop() override {
        watching = false;
        real_.Stop();
    }
    bool watching = false;

  private:
    QtReadableWatch real_;
};

// The stream read by the real event loop until `wanted` changes came (or 10 s passed); the
// visitors' line counts that they carried go into `counts`, when given.
std::vector<std::int32_t> ChangesFrom(const std::string& url, HttpClient& http, std::size_t wanted,
                                      std::vector<std::optional<std::int64_t>>* counts = nullptr) {
    EnsureApplication();
    QtEventLoop events;
    SeenWatch watch(events);
    QtTimerFactory timers(events);
    QEventLoop loop;
    std::vector<std::int32_t> changed;
    OperatorEvents stream({watch, timers, events, http, std::chrono::steady_clock::now,
                           [&](std::int32_t id, std::optional<std::int64_t> visitorLines) {
                               changed.push_back(id);
                               if (counts != nullptr) counts->push_back(visitorLines);
                               if (changed.size() == wanted) loop.quit();
                           },
                           nullptr, nullptr, nullptr});
    stream.SetAllowed(true);
    stream.Open(url);
    EXPECT_TRUE(watch.watching) << "the stream is open";
    QTimer::singleShot(10'000, &loop, &QEventLoop::quit);
    loop.exec();
    return changed;
}

// `data` as one chunk of a chunked body.
std::string Chunk(const std::string& data) {
    char size[16];
    std::snprintf(size, sizeof size, "%zx\r\n", data.size());
    return size + data + "\r\n";
}

// Events in chunks split across pauses, the connection then held open in silence.
TEST(OperatorEventsTest, reads_a_chunked_stream_as_it_arrives_on_the_event_loop) {
    test::ScriptServer server;
    server.AddConnection(
        {test::ReadRequest(),
         test::Send("HTTP/1.1 200 OK\r\nContent-Type: text/event-stream; charset=windows-1252\r\n"
                    "Transfer-Encoding: chunked\r\n\r\n"),
         test::Pause(100ms), test::Send(Chunk(": vivo\n\nevent: no")), test::Pause(100ms),
         test::Send(Chunk("ticias\ndata: 5:1\n\nevent")), test::Pause(100ms),
         test::Send(Chunk(": noticias\ndata: 7:2\n")), test::Pause(100ms),
         test::Send(Chunk("\nevent: noticias\ndata: 9\n\n"))});
    HttpClient http;
    std::vector<std::optional<std::int64_t>> counts;
    EXPECT_EQ(ChangesFrom(server.Url("/tertulia.php?accion=eventos"), http, 3, &counts),
              (std::vector<std::int32_t>{5, 7, 9}));
    EXPECT_EQ(counts, (std::vector<std::optional<std::int64_t>>{1, 2, std::nullopt}))
        << "an event without a count is still a change";
}

// Through nginx terminating TLS with a certificate that the test's authority signed; the many
// events come in records that are decrypted together, before the socket has more to read.
TEST(OperatorEventsTest, reads_a_stream_over_tls_as_the_client_trusts_it) {
    if (!test::NginxServer::Available()) GTEST_SKIP() << "nginx is not installed";
    test::ScriptServer server;
    test::NginxTlsProxy proxy(server.Port());
    ASSERT_TRUE(proxy.Running()) << proxy.Error();
    ::setenv("SSL_CERT_FILE", proxy.CaFile().c_str(), 1);
    std::string events;
    for (int id = 1; id <= 300; ++id) {
        events += "event: noticias\ndata: " + std::to_string(id) + ":1\n\n";
    }
    server.AddConnection({test::ReadRequest(),
                          test::Send("HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\n"
                                     "Connection: close\r\n\r\n" +
                                     events),
                          test::Close()});
    HttpClient http;
    http.SetSecureTransport(MakeTlsTransportFactory());
    const auto changed =
        ChangesFrom(proxy.Url(test::NginxTlsProxy::Site::Good, "/tertulia.php"), http, 300);
    ::unsetenv("SSL_CERT_FILE");
    ASSERT_EQ(changed.size(), 300u) << "decrypted bytes must not wait for the socket";
    EXPECT_EQ(changed.back(), 300);
}

}  // namespace
}  // namespace tertulia
